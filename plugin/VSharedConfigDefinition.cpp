#include "plugin/VSharedConfigDefinition.h"

#include "plugin/AddParameterRecord.h"

namespace KESU {

VSharedConfigDefinition::VSharedConfigDefinition()
    : name("Digital device common settings"),
      version("V1.14"),
      maker("KESU"),
      description("This is a placeholder device controlling settings common to all KESU devices") {}

void VSharedConfigDefinition::Describe(ZentuDigitalDevice::IDeviceDefinitionBuilder* builder, bool) const {
    // Results are released unread; a refusal does not stop the calls after it.
    builder->DefineDevice(maker.c_str(), name.c_str(), version.c_str(), description.c_str(),
                          "Shared Configuration", "Add KESU Mirt/Pelora devices", "");
    // The rate goes first, although the holder keeps the mode first.
    AddParameterRecord(builder, sampleRate);
    AddParameterRecord(builder, syncMode);
    AddParameterRecord(builder, dataThreshold);
    AddParameterRecord(builder, broadcastZero);
    AddParameterRecord(builder, scanForHardware);
    builder->Finish();
}

}  // namespace KESU
