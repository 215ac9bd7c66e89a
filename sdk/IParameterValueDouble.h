#pragma once

#include <cfloat>
#include <cstdint>
#include <vector>

#include "sdk/IParameterValueTemplate.h"

namespace ZentuDigitalDevice {

// The limits only travel to the host: SetValue neither clamps nor refuses.
class IParameterValueDouble : public IParameterValueTemplate<double> {
public:
    IParameterValueDouble() : IParameterValueTemplate<double>(ParameterValueType::Double) {}
    bool Equals(const IParameterValue& other) const override;
    void AppendExtraBytes(std::vector<unsigned char>& image) const override;
    // Each limit is kept as soon as it is read, so a cut-short image leaves
    // the earlier ones loaded.
    bool ReadExtraBytes(ByteReader& reader) override;

    // Written directly by the value's owner.
    double minimum = -DBL_MAX;
    double maximum = DBL_MAX;
    // Held as the byte the image carried; non-zero: minimum and maximum apply.
    uint8_t hasLimits = 0;
};

}  // namespace ZentuDigitalDevice
