// Reading and writing the packed little-endian byte image in which parameter
// values travel between the plug-in and the host.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ZentuDigitalDevice {

// The reader over one image. Every Read* answers false without moving when
// fewer bytes remain than the field needs.
struct ByteReader {
    std::vector<unsigned char> bytes;
    // Index of the next byte to read; only grows.
    size_t position = 0;

    size_t Remaining() const { return bytes.size() - position; }
    bool ReadByte(uint8_t& field);
    bool ReadU32(uint32_t& field);
    bool ReadDouble(double& field);
};

void AppendU32(std::vector<unsigned char>& image, uint32_t field);
void AppendDouble(std::vector<unsigned char>& image, double field);

// Appends the text's length as u32, then its bytes. A text longer than a u32
// can count has no image; it raises std::length_error rather than write a
// wrapped length that would load as another value.
void WriteLengthPrefixedString(std::vector<unsigned char>& image, const std::string& text);

// Reads one length-prefixed text into `text`. When the length field is cut
// short nothing moves; when the text bytes are, `text` is unchanged and the
// position stays after the length field.
bool ReadLengthPrefixedString(ByteReader& reader, std::string& text);

}  // namespace ZentuDigitalDevice
