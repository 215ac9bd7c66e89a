#include "plugin/VKESUGenericPlateDefinition.h"

#include <cstdint>

#include "plugin/AddParameterRecord.h"
#include "sdk/ParameterValues.h"

namespace KESU {

using ZentuDigitalDevice::IDeviceDefinitionBuilder;
using ZentuDigitalDevice::ResultPtr;

namespace {

const uint32_t kForceOutputKind = 13;
const uint32_t kMomentOutputKind = 14;
const uint32_t kCoPOutputKind = 1;

ResultPtr DefineOutput(IDeviceDefinitionBuilder* builder, const char* output, uint32_t kind,
                       const char* const (&components)[3]) {
    ResultPtr result = builder->AddOutput(output, kind);
    for (const char* component : components) {
        if (!result.IsEmpty()) break;
        result = builder->AddComponent(component);
    }
    return result;
}

// The dimension values exist only for the call: the builder takes what it
// needs while it runs.
ResultPtr AddDimension(IDeviceDefinitionBuilder* builder, const char* name, const char* displayName,
                       const char* description, double size, uint64_t id) {
    ZentuDigitalDevice::IParameterValueDouble value;
    value.SetValue(size);
    value.SetFlag1(true);
    value.SetFlag2(true);
    return builder->AddParameter(name, displayName, description, "Dimensions", true, &value, id);
}

}  // namespace

VKESUGenericPlateDefinition::VKESUGenericPlateDefinition()
    : description("This device represents an KESU force plate/signal conditioner pair"),
      maker("KESU"),
      version("   "),
      syncPort("Sync Port"),
      name("Force plate"),
      sizeX(0.5),
      sizeY(0.5) {}

void VKESUGenericPlateDefinition::Describe(IDeviceDefinitionBuilder* builder, bool offerBlink) const {
    // Each result is a temporary, released as soon as its call or step returns:
    // a refusal stops nothing but the rest of its own step.
    builder->DefineDevice(maker.c_str(), name.c_str(), version.c_str(), description.c_str(), "ForcePlate", "",
                          "");
    DefineConnectedParameter(builder);
    DefineForceOutput(builder);
    DefineMomentOutput(builder);
    DefineCoPOutput(builder);
    DefineStandardDimensions(builder, sizeX, sizeY);
    AddParameterRecord(builder, parameterA);
    AddParameterRecord(builder, parameterB);
    AddParameterRecord(builder, parameterAZ0);
    AddParameterRecord(builder, amplifierModel);
    AddParameterRecord(builder, amplifierSerial);
    AddParameterRecord(builder, platformModel);
    AddParameterRecord(builder, platformSerial);
    AddParameterRecord(builder, firmwareVersion);
    if (offerBlink) AddParameterRecord(builder, blinkAction);
    builder->SetSyncPort(syncPort.c_str());
    builder->Finish();
}

ResultPtr VKESUGenericPlateDefinition::DefineConnectedParameter(IDeviceDefinitionBuilder* builder) {
    ZentuDigitalDevice::IParameterValueBool connected;
    connected.SetValue(false);
    connected.SetFlag1(true);
    connected.SetFlag2(true);
    return builder->AddParameter("Connected", "Connected", "Indicates whether the device is connected",
                                 "Status", false, &connected, 0);
}

ResultPtr VKESUGenericPlateDefinition::DefineForceOutput(IDeviceDefinitionBuilder* builder) {
    return DefineOutput(builder, "Force", kForceOutputKind, {"Fx", "Fy", "Fz"});
}

ResultPtr VKESUGenericPlateDefinition::DefineMomentOutput(IDeviceDefinitionBuilder* builder) {
    return DefineOutput(builder, "Moment", kMomentOutputKind, {"Mx", "My", "Mz"});
}

ResultPtr VKESUGenericPlateDefinition::DefineCoPOutput(IDeviceDefinitionBuilder* builder) {
    return DefineOutput(builder, "CoP", kCoPOutputKind, {"Cx", "Cy", "Cz"});
}

ResultPtr VKESUGenericPlateDefinition::DefineStandardDimensions(IDeviceDefinitionBuilder* builder, double x,
                                                                double y) {
    ResultPtr result = AddDimension(builder, "StandardDimension_X", "X",
                                    "Length of force plate in the X Axis (meters)", x, 6);
    if (!result.IsEmpty()) return result;
    // Y shares id 0 with "Connected" and "FirmwareVersion", not X's 6.
    return AddDimension(builder, "StandardDimension_Y", "Y", "Length of force plate in the Y Axis (meters)",
                        y, 0);
}

}  // namespace KESU
