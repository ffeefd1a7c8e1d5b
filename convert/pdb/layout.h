// The layout of a handheld record database (.pdb) of frames, shared by its writer and its reader.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vintrel::pdb {

// A database is a 78-byte header, a list of 8-byte entries (one per record: the record's 32-bit
// file offset, its attributes and a 24-bit unique ID), then the records. Each frame record is a
// 12-byte header (width, height, data length, each 32-bit) followed by its compressed rows. Every
// number is big-endian.
inline constexpr std::size_t database_header_size = 78;
inline constexpr std::size_t record_list_entry_size = 8;
inline constexpr std::size_t record_header_size = 12;

// Where each field of the database header starts. The attributes and the version are 16-bit, the
// type and the creator four characters, the fields from the creation date to the seed 32-bit.
// The next record list's high half takes two bytes, zero in a frame database; the record count is
// the 32-bit number in the last four bytes.
inline constexpr std::size_t header_name_at = 0;
inline constexpr std::size_t header_attributes_at = 32;
inline constexpr std::size_t header_version_at = 34;
inline constexpr std::size_t header_creation_date_at = 36;
inline constexpr std::size_t header_modification_date_at = 40;
inline constexpr std::size_t header_backup_date_at = 44;
inline constexpr std::size_t header_modification_number_at = 48;
inline constexpr std::size_t header_app_info_offset_at = 52;
inline constexpr std::size_t header_sort_info_offset_at = 56;
inline constexpr std::size_t header_type_at = 60;
inline constexpr std::size_t header_creator_at = 64;
inline constexpr std::size_t header_unique_id_seed_at = 68;
inline constexpr std::size_t header_next_record_list_at = 72;
inline constexpr std::size_t header_record_count_at = 74;
static_assert(header_record_count_at + 4 == database_header_size);

// The name field holds at most database_name_length characters, one Windows-1252 byte each
// (handheld_name.h); a zero byte always follows them.
inline constexpr std::size_t database_name_field_size = 32;
inline constexpr std::size_t database_name_length = database_name_field_size - 1;
static_assert(header_name_at + database_name_field_size == header_attributes_at);

// Where each field of a record list entry starts: the record's file offset (32-bit), its
// attributes (one byte) and its unique ID (24-bit).
inline constexpr std::size_t entry_offset_at = 0;
inline constexpr std::size_t entry_attributes_at = 4;
inline constexpr std::size_t entry_unique_id_at = 5;
static_assert(entry_unique_id_at + 3 == record_list_entry_size);

// Where each 32-bit field of a frame record's header starts.
inline constexpr std::size_t record_width_at = 0;
inline constexpr std::size_t record_height_at = 4;
inline constexpr std::size_t record_data_length_at = 8;
static_assert(record_data_length_at + 4 == record_header_size);

// The database header's creation and modification date: fixed, not the clock.
inline constexpr std::uint32_t database_date = 0xAE44D106;
// The header's type and creator, which tell the handheld reader the file is one of its movies.
inline constexpr char database_type[4] = {'Z', 'e', 'b', 'v'};
inline constexpr char database_creator[4] = {'K', 'w', 'o', 'p'};
// Every record list entry's attributes and the upper two bytes of its unique ID; the lowest byte
// is the record's number modulo 256.
inline constexpr std::uint8_t record_attributes = 0x40;
inline constexpr std::uint8_t record_id_high[2] = {0xA4, 0x80};

// Bytes a database can span: its record offsets are 32-bit numbers.
inline constexpr std::uint64_t database_reach = std::uint64_t{1} << 32;

// Readers on handheld devices count records in 16 bits: a database of more records is whole, but
// they may list only part of it.
inline constexpr std::size_t records_handhelds_list = 65535;

// Bytes in one uncompressed row of a frame `width` pixels wide: four 2-bit pixels a byte, rounded
// up to an even count.
constexpr std::uint64_t row_bytes_for_width(std::uint32_t width) {
    const std::uint64_t bytes = (std::uint64_t{width} + 3) / 4;
    return bytes % 2 ? bytes + 1 : bytes;
}

inline std::uint32_t read_big_endian_32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
           static_cast<std::uint32_t>(p[2]) << 8 | p[3];
}

inline void write_big_endian_32(std::uint8_t* p, std::uint32_t value) {
    p[0] = static_cast<std::uint8_t>(value >> 24);
    p[1] = static_cast<std::uint8_t>(value >> 16);
    p[2] = static_cast<std::uint8_t>(value >> 8);
    p[3] = static_cast<std::uint8_t>(value);
}

}  // namespace vintrel::pdb
