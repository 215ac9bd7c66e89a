// The force-plate definition: the generic "Force plate", the base of the
// model definitions, the type of the custom plate definitions and the copy
// each amplifier device keeps of the definition of its plate.
#pragma once

#include <string>

#include "plugin/IDeviceDefinition.h"
#include "plugin/VGenericPlateParameterHolder.h"
#include "sdk/IResult.h"

namespace KESU {

class VKESUGenericPlateDefinition : public IDeviceDefinition, public VGenericPlateParameterHolder {
public:
    VKESUGenericPlateDefinition();
    // Copies share nothing with their source; copying a model definition
    // keeps its model text and sizes, which are data of this class.
    VKESUGenericPlateDefinition(const VKESUGenericPlateDefinition&) = default;
    VKESUGenericPlateDefinition& operator=(const VKESUGenericPlateDefinition&) = default;
    ~VKESUGenericPlateDefinition() override = default;

    void Describe(ZentuDigitalDevice::IDeviceDefinitionBuilder* builder, bool offerBlink) const override;

    std::string description;
    std::string maker;
    std::string version;
    std::string syncPort;
    std::string name;
    double sizeX;  // metres
    double sizeY;  // metres

private:
    // Each step ends at its first refused call and hands that refusal back;
    // an empty result when every call was accepted.
    static ZentuDigitalDevice::ResultPtr DefineConnectedParameter(
        ZentuDigitalDevice::IDeviceDefinitionBuilder* builder);
    static ZentuDigitalDevice::ResultPtr DefineForceOutput(
        ZentuDigitalDevice::IDeviceDefinitionBuilder* builder);
    static ZentuDigitalDevice::ResultPtr DefineMomentOutput(
        ZentuDigitalDevice::IDeviceDefinitionBuilder* builder);
    static ZentuDigitalDevice::ResultPtr DefineCoPOutput(
        ZentuDigitalDevice::IDeviceDefinitionBuilder* builder);
    static ZentuDigitalDevice::ResultPtr DefineStandardDimensions(
        ZentuDigitalDevice::IDeviceDefinitionBuilder* builder, double x, double y);
};

}  // namespace KESU
