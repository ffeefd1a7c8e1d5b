// Frame records.
#include "convert/pdb/frame_record.h"

namespace vintrel {

FrameRecord::FrameRecord(std::uint32_t width, std::uint32_t height) {
    write_big_endian_32(&header[pdb::record_width_at], width);
    write_big_endian_32(&header[pdb::record_height_at], height);
    write_big_endian_32(&header[pdb::record_data_length_at], 0);
}

std::uint32_t FrameRecord::width() const { return read_big_endian_32(&header[pdb::record_width_at]); }
std::uint32_t FrameRecord::height() const { return read_big_endian_32(&header[pdb::record_height_at]); }
std::uint32_t FrameRecord::data_length() const { return read_big_endian_32(&header[pdb::record_data_length_at]); }

void FrameRecord::finish() {
    write_big_endian_32(&header[pdb::record_data_length_at], static_cast<std::uint32_t>(data.size()));
    data.shrink_to_fit();
}

}  // namespace vintrel
