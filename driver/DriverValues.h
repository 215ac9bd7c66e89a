// Values that the driver service and the plug-in above it both speak: the
// levels of the host's log and the outcome of the library start-up.
#pragma once

#include <cstdint>

namespace KESU {

// The level argument of ZentuDigitalDevice::IHost::Log.
namespace LogLevel {
constexpr int kTrace = 0;  // the library calls of start-up, detection and commands
constexpr int kInformation = 1;
constexpr int kWarning = 2;
constexpr int kError = 3;
}  // namespace LogLevel

// VKESUDriverService::VDllInitInfo::status.
namespace DllInitStatus {
constexpr int32_t kSetupAsSaved = 0;  // the set-up check answered 1
constexpr int32_t kInitialised = 1;   // the set-up check gave any other answer
constexpr int32_t kTimedOut = 2;      // never ready; the set-up check did not run
}  // namespace DllInitStatus

}  // namespace KESU
