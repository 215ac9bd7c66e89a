#include "plugin/KESUplugin.h"

#include <cstring>

#include <boost/shared_ptr.hpp>

#include "driver/VKESUDriverService.h"
#include "plugin/CustomPlateDefinitions.h"
#include "plugin/ModuleStatics.h"
#include "plugin/VSharedConfigDevice.h"

using namespace KESU;

namespace {

const char* const kSharedDeviceInstanceName = "KESU Shared Config Device";

// Exact: same length, same bytes. A null text equals nothing.
bool SameText(const char* text, const std::string& expected) {
    return text != nullptr && std::strlen(text) == expected.size() &&
           std::memcmp(text, expected.data(), expected.size()) == 0;
}

void InstantiateSharedDevice() {
    // Set first and kept even when the host refuses: the device is offered once.
    g_sharedDeviceInstantiated = true;
    // The result goes unread: a refusal is neither logged nor retried.
    g_deviceFactory->InstantiateDevice(
        g_sharedConfigDefinition.maker.c_str(), g_sharedConfigDefinition.name.c_str(),
        g_sharedConfigDefinition.version.c_str(), kSharedDeviceInstanceName, g_sharedDevice.get());
}

}  // namespace

extern "C" {

int32_t PluginAPIVersion() {
    return 1;
}

bool Initialise(ZentuDigitalDevice::IHost* host) {
    g_host = host;

    // The earlier objects go only once their successors are installed; the
    // earlier service first, which ends its worker before the device its
    // callbacks reach is released.
    boost::shared_ptr<VKESUDriverService> service(new VKESUDriverService);
    g_driverService.swap(service);
    service.reset();

    boost::shared_ptr<VSharedConfigDevice> device(new VSharedConfigDevice(g_driverService.get()));
    g_sharedDevice.swap(device);
    device.reset();

    BuildCustomPlateDefinitions();
    return true;
}

void ProvideDeviceDefinitions(ZentuDigitalDevice::IDeviceDefinitionBuilder* builder) {
    g_sharedConfigDefinition.Describe(builder, true);

#define KESU_PLATE_MODEL_STATIC(model, lowerModel) &g_##lowerModel##PlateDefinition,
    const VKESUGenericPlateDefinition* const models[] = {KESU_PLATE_MODELS(KESU_PLATE_MODEL_STATIC)};
#undef KESU_PLATE_MODEL_STATIC
    for (const VKESUGenericPlateDefinition* model : models)
        model->Describe(builder, model != &g_vellPlateDefinition);

    for (int32_t i = 0; i < g_customPlateCount; ++i) g_customPlateDefinitions[i].Describe(builder, true);

    g_genericPlateDefinition.Describe(builder, true);
}

void BeginDeviceInstantiation(ZentuDigitalDevice::IDeviceFactory* factory) {
    g_deviceFactory = factory;
    if (!g_sharedDevice) return;
    g_sharedDevice->SetFactory(factory);
    if (g_sharedDeviceInstantiated || factory == nullptr) return;
    InstantiateSharedDevice();
}

void OnManualDeviceInstantiation(const char* maker, const char* name, const char* version) {
    if (!SameText(maker, g_sharedConfigDefinition.maker) || !SameText(name, g_sharedConfigDefinition.name) ||
        !SameText(version, g_sharedConfigDefinition.version))
        return;
    if (g_sharedDeviceInstantiated || !g_sharedDevice || g_deviceFactory == nullptr) return;
    InstantiateSharedDevice();
}

void Shutdown() {
    ReleaseModuleObjects();
}

}  // extern "C"
