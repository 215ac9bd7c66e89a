// The host pointer of the module, apart from the other module statics so that
// the driver service, which copies it, needs nothing else of the plug-in.
#pragma once

#include "sdk/IHost.h"

namespace KESU {

// Stored first by Initialise; the driver service and the placeholder device
// copy it when they are built.
extern ZentuDigitalDevice::IHost* g_host;

}  // namespace KESU
