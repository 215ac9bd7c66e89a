// Every module static is defined in this one translation unit so that their
// construction (and, in reverse, their destruction) follows one fixed order.
#include "plugin/ModuleStatics.h"

namespace KESU {

ZentuDigitalDevice::IHost* g_host = nullptr;

}  // namespace KESU
