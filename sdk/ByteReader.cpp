#include "sdk/ByteReader.h"

#include <cstring>
#include <limits>
#include <stdexcept>

namespace ZentuDigitalDevice {

static_assert(sizeof(double) == 8 && std::numeric_limits<double>::is_iec559,
              "the image carries IEEE 754 double precision");

bool ByteReader::ReadByte(uint8_t& field) {
    if (Remaining() < 1) return false;
    field = bytes[position];
    position += 1;
    return true;
}

bool ByteReader::ReadU32(uint32_t& field) {
    if (Remaining() < 4) return false;
    const unsigned char* p = bytes.data() + position;
    field = static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
            static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
    position += 4;
    return true;
}

bool ByteReader::ReadDouble(double& field) {
    if (Remaining() < 8) return false;
    uint64_t bits = 0;
    for (int i = 7; i >= 0; --i) bits = bits << 8 | bytes[position + i];
    std::memcpy(&field, &bits, sizeof field);
    position += 8;
    return true;
}

void AppendU32(std::vector<unsigned char>& image, uint32_t field) {
    for (int i = 0; i < 4; ++i) image.push_back(static_cast<unsigned char>(field >> (8 * i)));
}

void AppendDouble(std::vector<unsigned char>& image, double field) {
    uint64_t bits = 0;
    std::memcpy(&bits, &field, sizeof bits);
    for (int i = 0; i < 8; ++i) image.push_back(static_cast<unsigned char>(bits >> (8 * i)));
}

void WriteLengthPrefixedString(std::vector<unsigned char>& image, const std::string& text) {
    if (text.size() > std::numeric_limits<uint32_t>::max())
        throw std::length_error("text too long for a parameter value image");
    AppendU32(image, static_cast<uint32_t>(text.size()));
    image.insert(image.end(), text.begin(), text.end());
}

bool ReadLengthPrefixedString(ByteReader& reader, std::string& text) {
    uint32_t length = 0;
    if (!reader.ReadU32(length)) return false;
    if (reader.Remaining() < length) return false;
    const auto first = reader.bytes.begin() + static_cast<std::ptrdiff_t>(reader.position);
    text.assign(first, first + length);
    reader.position += length;
    return true;
}

}  // namespace ZentuDigitalDevice
