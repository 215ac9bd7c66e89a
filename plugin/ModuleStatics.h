// Module-level state of the plug-in. Plain statics without a lock: the host
// calls the exports one at a time, and the worker thread reads only what does
// not change between Initialise and Shutdown.
#pragma once

#include <cstdint>

#include <boost/shared_ptr.hpp>

#include "plugin/VKESUGenericPlateDefinition.h"
#include "plugin/VKESUPlateModels.h"
#include "plugin/VSharedConfigDefinition.h"
#include "sdk/IDeviceFactory.h"
#include "sdk/ModuleHost.h"

namespace KESU {

class VKESUDriverService;
class VSharedConfigDevice;

// Set by Initialise, emptied by Shutdown. The module pointer is the service's
// only owner, so emptying it ends the worker thread.
extern boost::shared_ptr<VKESUDriverService> g_driverService;
// Set by Initialise, emptied by Shutdown after the service.
extern boost::shared_ptr<VSharedConfigDevice> g_sharedDevice;
// Borrowed from the host by every BeginDeviceInstantiation; never cleared.
extern ZentuDigitalDevice::IDeviceFactory* g_deviceFactory;
// Set just before the placeholder device is offered to the factory, and kept
// even when the host refuses it, so that it is offered once.
extern bool g_sharedDeviceInstantiated;

// One array of g_customPlateCount definitions, deleted as an array; null and 0
// outside Initialise to Shutdown. Read by the worker thread without a lock.
extern VKESUGenericPlateDefinition* g_customPlateDefinitions;
extern int32_t g_customPlateCount;

extern VSharedConfigDefinition g_sharedConfigDefinition;

// In the order of the model table (match codes 1 to 19).
#define KESU_PLATE_MODEL_STATIC(model, lowerModel) \
    extern VKESU_##model##_PlateDefinition g_##lowerModel##PlateDefinition;
KESU_PLATE_MODELS(KESU_PLATE_MODEL_STATIC)
#undef KESU_PLATE_MODEL_STATIC

// "Force plate", announced after every other definition.
extern VKESUGenericPlateDefinition g_genericPlateDefinition;

// Host thread (Shutdown), or the unloading thread when the host unloads the
// module without Shutdown. Releases the driver service (which ends the
// worker), then the placeholder device with its amplifier devices, then the
// custom plate list; each module pointer is emptied before its object goes.
void ReleaseModuleObjects();

}  // namespace KESU
