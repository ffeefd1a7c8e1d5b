// The frame record a conversion builds: one compressed 2-bit frame with its 12-byte big-endian
// header, ready to be written (see pdb::StoredRecord for a record found in a file that was read).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "convert/pdb/layout.h"

namespace vintrel {

struct FrameRecord {
    // Width, height and data length, each a 32-bit big-endian number, ready to be written.
    std::array<std::uint8_t, pdb::record_header_size> header{};
    // The compressed rows; exactly data_length() bytes once the record is finished, until a
    // RecordSpool takes them.
    std::vector<std::uint8_t> data;
    // Where a RecordSpool keeps the rows; -1 while they are in `data`.
    std::int64_t spool_offset = -1;

    FrameRecord(std::uint32_t width, std::uint32_t height);

    std::uint32_t width() const;
    std::uint32_t height() const;
    std::uint32_t data_length() const;

    // Stores the length of the compressed data in the header and releases spare capacity.
    void finish();
};

// The frames of one conversion in the order they were read.
using RecordArray = std::vector<std::unique_ptr<FrameRecord>>;

// Bytes of one packed row of `width` pixels.
inline std::size_t packed_row_length(std::uint32_t width) {
    return static_cast<std::size_t>(pdb::row_bytes_for_width(width));
}

using pdb::read_big_endian_32;
using pdb::write_big_endian_32;

}  // namespace vintrel
