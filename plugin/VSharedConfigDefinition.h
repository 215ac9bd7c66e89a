// The placeholder definition "Digital device common settings": no hardware,
// only the settings common to all plates.
#pragma once

#include <string>

#include "plugin/IDeviceDefinition.h"
#include "plugin/VSharedConfigParameterHolder.h"

namespace KESU {

class VSharedConfigDefinition : public IDeviceDefinition, public VSharedConfigParameterHolder {
public:
    VSharedConfigDefinition();
    // The placeholder device keeps a copy of its own, which shares nothing with
    // the static instance.
    VSharedConfigDefinition(const VSharedConfigDefinition&) = default;
    VSharedConfigDefinition& operator=(const VSharedConfigDefinition&) = default;
    ~VSharedConfigDefinition() override = default;

    // offerBlink is ignored: the placeholder has nothing to blink.
    void Describe(ZentuDigitalDevice::IDeviceDefinitionBuilder* builder, bool offerBlink) const override;

    std::string name;
    std::string version;
    std::string maker;
    std::string description;
};

}  // namespace KESU
