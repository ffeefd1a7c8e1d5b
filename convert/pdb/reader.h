// Reading handheld record databases (.pdb): parsing, full validation and expansion of frame rows.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/fault.h"
#include "convert/pdb/layout.h"

namespace vintrel::pdb {

// Frames wider or taller than this, or with more pixels than max_frame_pixels, are refused: no
// movie frame we write comes near them, and they keep every size computation far from overflow
// and every expanded frame within a sensible amount of memory.
inline constexpr std::uint32_t max_frame_side = 65535;
inline constexpr std::uint64_t max_frame_pixels = std::uint64_t{1} << 25;  // 32 Mi pixels (8K video fits)

// The database header, field by field (layout.h gives where each lies).
struct DatabaseHeader {
    std::array<std::uint8_t, database_name_field_size> name_field{};  // the raw name field
    std::string name;  // name_field up to its first zero byte, in Windows-1252
    std::uint16_t attributes = 0;
    std::uint16_t version = 0;
    std::uint32_t creation_date = 0;      // seconds since 1904-01-01 00:00
    std::uint32_t modification_date = 0;  // seconds since 1904-01-01 00:00
    std::uint32_t backup_date = 0;        // seconds since 1904-01-01 00:00
    std::uint32_t modification_number = 0;
    std::uint32_t app_info_offset = 0;
    std::uint32_t sort_info_offset = 0;
    std::array<char, sizeof database_type> type{};
    std::array<char, sizeof database_creator> creator{};
    std::uint32_t unique_id_seed = 0;
    std::uint16_t next_record_list_high = 0;
    std::uint32_t record_count = 0;  // one 32-bit number
};

// Where one frame record lies in a file that was read: its record list entry together with its
// record header. (The record a conversion builds, with its rows, is vintrel::FrameRecord.)
struct StoredRecord {
    std::uint32_t offset = 0;     // byte offset of the record in the file
    std::uint8_t attributes = 0;  // record attributes from the list entry
    std::uint32_t unique_id = 0;  // the entry's three unique ID bytes as a 24-bit number
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t data_length = 0;
    std::size_t data_offset = 0;  // where the compressed rows start, after the record header
};

struct Database {
    DatabaseHeader header;
    std::vector<StoredRecord> records;
};

// What is wrong with a file. The fault's offset is the byte at which it was found; its detail a
// complete sentence naming it and its byte offsets, without the file name, e.g.
// "record 3 at byte 1234: packet at byte 1300 runs past the end of row 7".
enum class PdbFailure {
    none,
    damaged,     // the file breaks the format
    incomplete,  // the header lists records the file does not hold (a database whose writing was
                 // stopped, or a copy cut short); the records read are the whole ones present
};
using PdbFault = Fault<PdbFailure>;

struct ReadResult {
    // With no fault: the whole database. With a fault: the header (once it could be read) and
    // the records that were found sound before it.
    Database database;
    PdbFault fault;

    bool ok() const { return !fault.failed(); }
};

// Parses and validates a whole file: header, record list, every record's rows. Any input is
// safe; every fault comes back with its byte offset.
ReadResult read_database(std::span<const std::uint8_t> file);

// Expands `rows` rows of `row_bytes` bytes each from their run-length packets in `data`.
// `data_offset` is the file offset of data[0], used only in the faults' sentences. On a fault
// leaves `out` unspecified. `out` is sized only once the packets have been
// found sound, so any row count, however large, costs no more memory than the data can expand to.
PdbFault expand_packets(std::span<const std::uint8_t> data, std::size_t row_bytes, std::size_t rows,
                        std::size_t data_offset, std::vector<std::uint8_t>& out);

// Expands a record of a successfully read database (its file's bytes in `file`) into its
// height rows of row_bytes_for_width(width) bytes, top row first.
PdbFault expand_record(std::span<const std::uint8_t> file, const StoredRecord& record,
                       std::vector<std::uint8_t>& rows);

// A date field as "YYYY-MM-DD hh:mm:ss" (seconds since 1904-01-01 00:00).
std::string format_date(std::uint32_t seconds_since_1904);

}  // namespace vintrel::pdb
