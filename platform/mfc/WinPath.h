// Where Windows paths such as C:\KESU\CFG\Ambulor.cfg live on Linux.
//
// Drive C: is one folder of the Linux file system, the drive root; backslashes
// become slashes. Paths without a drive letter keep their place (only their
// backslashes turn), so relative and Linux paths pass through. Other drives do
// not exist here. Names are compared as Linux compares them, case included.
#pragma once

#include <string>

namespace WinPath {

// The drive root of a process that never set one: the value of the
// environment variable KESU_DRIVE_C at the first mapping when it is set and
// not empty, else this folder.
extern const char* const kDefaultDriveRoot;  // "/var/lib/kesu/drive_c"

// Points drive C: at another folder (tests use a temporary one). Callable from
// any thread; paths mapped afterwards use the new root.
void SetDriveRoot(const std::string& folder);
std::string GetDriveRoot();

// The Linux path of a Windows path: "C:\KESU\CFG\x.cfg" becomes
// "<root>/KESU/CFG/x.cfg"; characters above 0x7F are written as UTF-8. Empty
// when the path names a drive other than C:.
std::string ToLinuxPath(const wchar_t* windowsPath);

}  // namespace WinPath
