// Frame records.
#include "convert/pdb/frame_record.h"

namespace vintrel {

std::uint32_t read_big_endian_32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
           static_cast<std::uint32_t>(p[2]) << 8 | p[3];
}

void write_big_endian_32(std::uint8_t* p, std::uint32_t value) {
    p[0] = static_cast<std::uint8_t>(value >> 24);
    p[1] = static_cast<std::uint8_t>(value >> 16);
    p[2] = static_cast<std::uint8_t>(value >> 8);
    p[3] = static_cast<std::uint8_t>(value);
}

std::size_t packed_row_length(std::uint32_t width) {
    const std::size_t bytes = (static_cast<std::size_t>(width) + 3) / 4;
    return bytes % 2 ? bytes + 1 : bytes;
}

FrameRecord::FrameRecord(std::uint32_t width, std::uint32_t height) {
    write_big_endian_32(header.data(), width);
    write_big_endian_32(header.data() + 4, height);
    write_big_endian_32(header.data() + 8, 0);
}

std::uint32_t FrameRecord::width() const { return read_big_endian_32(header.data()); }
std::uint32_t FrameRecord::height() const { return read_big_endian_32(header.data() + 4); }
std::uint32_t FrameRecord::data_length() const { return read_big_endian_32(header.data() + 8); }

void FrameRecord::finish() {
    write_big_endian_32(header.data() + 8, static_cast<std::uint32_t>(data.size()));
    data.shrink_to_fit();
}

}  // namespace vintrel
