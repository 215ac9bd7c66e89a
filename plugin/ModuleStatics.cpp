// Every module static is defined in this one translation unit so that their
// construction (and, in reverse, their destruction) follows one fixed order.
#include "plugin/ModuleStatics.h"

#include "plugin/CKESUpluginApp.h"
#include "plugin/CustomPlateDefinitions.h"
#include "plugin/VSharedConfigDevice.h"

namespace KESU {

boost::shared_ptr<VKESUDriverService> g_driverService;
boost::shared_ptr<VSharedConfigDevice> g_sharedDevice;
ZentuDigitalDevice::IDeviceFactory* g_deviceFactory = nullptr;
bool g_sharedDeviceInstantiated = false;

VKESUGenericPlateDefinition* g_customPlateDefinitions = nullptr;
int32_t g_customPlateCount = 0;

VSharedConfigDefinition g_sharedConfigDefinition;

// Built in table order, match code 1 first, and destroyed in reverse.
#define KESU_PLATE_MODEL_STATIC(model, lowerModel) \
    VKESU_##model##_PlateDefinition g_##lowerModel##PlateDefinition;
KESU_PLATE_MODELS(KESU_PLATE_MODEL_STATIC)
#undef KESU_PLATE_MODEL_STATIC

VKESUGenericPlateDefinition g_genericPlateDefinition;

void ReleaseModuleObjects() {
    boost::shared_ptr<VKESUDriverService> service;
    service.swap(g_driverService);
    service.reset();
    boost::shared_ptr<VSharedConfigDevice> device;
    device.swap(g_sharedDevice);
    device.reset();
    DeleteCustomPlateDefinitions();
}

}  // namespace KESU

CKESUpluginApp theApp;

namespace {

const BOOL g_moduleAttached = AfxAttachModule();

// Destroyed first at unload, while every other static still stands. A host
// that unloads the module without Shutdown thus gets Shutdown's order, and no
// worker thread outlives the device its callbacks reach (the statics alone
// would release the placeholder device before the service).
struct ModuleUnload {
    ~ModuleUnload() { KESU::ReleaseModuleObjects(); }
};
ModuleUnload g_moduleUnload;

}  // namespace
