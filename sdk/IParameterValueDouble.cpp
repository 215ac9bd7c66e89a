#include "sdk/IParameterValueDouble.h"

namespace ZentuDigitalDevice {

bool IParameterValueDouble::Equals(const IParameterValue& other) const {
    return EqualsThroughImage<IParameterValueDouble>(other, [this](const IParameterValueDouble& loaded) {
        return minimum == loaded.minimum && maximum == loaded.maximum && hasLimits == loaded.hasLimits;
    });
}

void IParameterValueDouble::AppendExtraBytes(std::vector<unsigned char>& image) const {
    AppendDouble(image, minimum);
    AppendDouble(image, maximum);
    image.push_back(hasLimits);
}

bool IParameterValueDouble::ReadExtraBytes(ByteReader& reader) {
    return reader.ReadDouble(minimum) && reader.ReadDouble(maximum) && reader.ReadByte(hasLimits);
}

}  // namespace ZentuDigitalDevice
