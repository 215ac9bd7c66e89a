// Module-level state of the plug-in. Plain statics without a lock: the host
// calls the exports one at a time, and the worker thread reads only what does
// not change between Initialise and Shutdown.
#pragma once

#include "sdk/IHost.h"

namespace KESU {

// Stored first by Initialise; the driver service and the placeholder device
// copy it when they are built.
extern ZentuDigitalDevice::IHost* g_host;

}  // namespace KESU
