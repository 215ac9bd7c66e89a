// kesu-host: scripts simulated amplifiers, loads the plug-in module, plays
// the host through one capture and prints what every plate measured.
#pragma once

#include <ostream>

namespace KESUHost {

// The whole program: results to `out`, log lines and errors to `err`.
// Answers the exit status: 0 done, 1 the capture failed, 2 bad options.
int RunKesuHost(int argc, const char* const argv[], std::ostream& out, std::ostream& err);

}  // namespace KESUHost
