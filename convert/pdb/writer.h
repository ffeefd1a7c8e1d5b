// Writes the frame records of a conversion as a handheld record database (.pdb).
#pragma once

#include <cstdio>
#include <functional>
#include <string>

#include "base/fault.h"
#include "convert/pdb/frame_record.h"
#include "convert/pdb/layout.h"
#include "convert/pdb/record_spool.h"

namespace vintrel {

enum class DatabaseFailure {
    none,         // written
    stopped,      // keep_going said to stop: not a fault of the file, which holds what was written
    unwritable,   // a write came back short (the fault's system error says why)
    too_large,    // the records would end past byte 4 GiB - 1, beyond what a record offset can hold
};
using DatabaseFault = Fault<DatabaseFailure>;

// The size of a database of `count` records whose compressed rows take `data_bytes` in all.
constexpr std::uint64_t database_size(std::uint64_t count, std::uint64_t data_bytes) {
    return pdb::database_header_size + (pdb::record_list_entry_size + pdb::record_header_size) * count + data_bytes;
}

// Whether a database of `count` records whose compressed rows take `data_bytes` in all ends
// within `reach` bytes.
bool database_fits(std::uint64_t count, std::uint64_t data_bytes, std::uint64_t reach = pdb::database_reach);

// Writes header, record list and records into `file` (positioned at its start), the header named
// `title` (a file name in UTF-8) in the handheld's character set (handheld_name); the rows of
// records that were moved to `spool` are read back from it. Before each list entry and each
// record it calls `keep_going`, which returns false when the user asked to stop; writing then ends
// at once. Every write is checked. Records that would lie beyond the reach of the 32-bit record
// offsets are refused before anything is written, rather than written under offsets that wrap round.
DatabaseFault write_database(std::FILE* file, const std::string& title, const RecordArray& records,
                             const std::function<bool()>& keep_going, const RecordSpool* spool = nullptr);

}  // namespace vintrel
