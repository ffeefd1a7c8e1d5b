// Writes the frame records of a conversion as a handheld record database (.pdb).
#pragma once

#include <cstdio>
#include <functional>
#include <string>

#include "convert/pdb/frame_record.h"
#include "convert/pdb/record_spool.h"

namespace vintrel {

enum class DatabaseResult {
    written,
    stopped,
    write_failed,
    too_large,  // the records would end past byte 4 GiB - 1, beyond what a record offset can hold
};

// The database header's creation and modification date: fixed, not the clock.
inline constexpr std::uint32_t database_date = 0xAE44D106;

// Bytes a database can span: its record offsets are 32-bit numbers.
inline constexpr std::uint64_t database_reach = std::uint64_t{1} << 32;

// Whether a database of `count` records whose compressed rows take `data_bytes` in all ends
// within `reach` bytes.
bool database_fits(std::uint64_t count, std::uint64_t data_bytes, std::uint64_t reach = database_reach);

// Readers on handheld devices count records in 16 bits: a database of more records is whole, but
// they may list only part of it.
inline constexpr std::size_t records_handhelds_list = 65535;

// Writes header, record list and records into `file` (positioned at its start); the rows of
// records that were moved to `spool` are read back from it. Before each list entry and each
// record it calls `keep_going`, which runs the waiting window messages and returns false when the
// user asked to stop; writing then ends at once. Every write is checked. Records that would lie
// beyond the reach of the 32-bit record offsets are refused before anything is written, rather
// than written under offsets that wrap round.
DatabaseResult write_database(std::FILE* file, const std::string& title, const RecordArray& records,
                              const std::function<bool()>& keep_going, const RecordSpool* spool = nullptr);

}  // namespace vintrel
