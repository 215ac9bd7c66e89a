// Hands one parameter entry to the definition builder.
#pragma once

#include "sdk/IDeviceDefinitionBuilder.h"
#include "sdk/VParameterRecord.h"

namespace KESU {

template <class ValueClass>
ZentuDigitalDevice::ResultPtr AddParameterRecord(ZentuDigitalDevice::IDeviceDefinitionBuilder* builder,
                                                 const VParameterRecord<ValueClass>& record) {
    return builder->AddParameter(record.name.c_str(), record.displayName.c_str(), record.description.c_str(),
                                 record.group.c_str(), record.builderFlag, &record.value, record.id);
}

}  // namespace KESU
