// vintrel-pdb and the database reader on arbitrary .pdb files.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "convert/pdb/reader.h"
#include "fuzz/fuzz_temp_file.h"

int vintrel_pdb_main(int argc, char** argv);

using namespace vintrel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    const pdb::ReadResult result = pdb::read_database(bytes);
    if (result.ok()) {
        // A database the reader accepts expands, record by record, into exactly its rows.
        const auto& records = result.database.records;
        if (records.size() != result.database.header.record_count) __builtin_trap();
        std::vector<std::uint8_t> rows;
        for (const pdb::StoredRecord& record : records) {
            if (pdb::expand_record(bytes, record, rows).failed()) __builtin_trap();
            if (rows.size() != pdb::row_bytes_for_width(record.width) * record.height) __builtin_trap();
        }
    } else if (result.fault.offset > size) {
        __builtin_trap();  // a fault is found inside the file, or just at its end
    }

    // The program a user runs, from reading the file to printing every record.
    static fuzz::TempFile file(".pdb");
    file.write(data, size);
    char program[] = "vintrel-pdb", command[] = "info";
    std::vector<char> path(file.path().begin(), file.path().end());
    path.push_back('\0');
    char* argv[] = {program, command, path.data(), nullptr};
    const int status = vintrel_pdb_main(3, argv);
    if (status != (result.ok() ? 0 : 1)) __builtin_trap();
    return 0;
}
