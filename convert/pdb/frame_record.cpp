// Frame records.
#include "convert/pdb/frame_record.h"

namespace vintrel {

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
