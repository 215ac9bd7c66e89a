// The plate definitions that the optional configuration files describe: the
// instrumented treadmill, the combined platforms and the treadmill units.
#pragma once

#include <string>

namespace KESU {

// Host thread, last step of Initialise: reads the three files under
// C:\KESU\CFG\ and installs one definition per platform they describe, in
// the order treadmill, combined platforms, units. A file that is missing or
// faulty gives nothing; nothing is reported. The list held before is deleted
// first: Initialise has released the earlier driver service by then, so no
// worker can still be reading it.
void BuildCustomPlateDefinitions();

// Host thread (Shutdown, module unload), after the worker has ended: deletes
// the list as an array and leaves it empty.
void DeleteCustomPlateDefinitions();

// A configuration file's wide name as a plate name: the low 8 bits of each
// unit, at most 30 units, ending at the first unit whose low byte is 0.
std::string NarrowPlateName(const wchar_t* name);

}  // namespace KESU
