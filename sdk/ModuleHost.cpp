#include "sdk/ModuleHost.h"

namespace KESU {

// Constant-initialised, so it needs no place in the construction order of the
// other module statics.
ZentuDigitalDevice::IHost* g_host = nullptr;

}  // namespace KESU
