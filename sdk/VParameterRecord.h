// One parameter of a device definition: the texts that describe it to the
// host, the flag and id that go with it to the builder, and its value.
#pragma once

#include <cstdint>
#include <string>

namespace KESU {

// ValueClass: IParameterValueDouble, IParameterValueEnum, IParameterValueString
// or IParameterValueAction. Copies are memberwise, the value's entries included.
template <class ValueClass>
class VParameterRecord {
public:
    std::string name;
    std::string displayName;
    std::string description;
    std::string group;
    bool builderFlag = true;
    ValueClass value;
    // The host names changed parameters by this number; need not be unique.
    uint64_t id = 0;
};

}  // namespace KESU
