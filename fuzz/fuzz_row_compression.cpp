// Row compression round trip: any row compresses into legal packets that expand back to the row.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "convert/pdb/reader.h"
#include "convert/pdb/row_compression.h"

using namespace vintrel;

namespace {

// Expands packets independently of the database reader, aborting on any illegal control byte.
std::vector<std::uint8_t> expand(const std::vector<std::uint8_t>& packets) {
    std::vector<std::uint8_t> row;
    std::size_t i = 0;
    while (i < packets.size()) {
        const std::uint8_t control = packets[i++];
        if (control == 0x00 || control == 0x80 || control == 0x81) std::abort();
        if (control < 0x80) {
            if (i + control > packets.size()) std::abort();
            row.insert(row.end(), packets.begin() + static_cast<std::ptrdiff_t>(i),
                       packets.begin() + static_cast<std::ptrdiff_t>(i + control));
            i += control;
        } else {
            if (i >= packets.size()) std::abort();
            row.insert(row.end(), static_cast<std::size_t>(control - 0x80), packets[i++]);
        }
    }
    return row;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> packets;
    compress_row(data, size, packets);
    if (expand(packets) != std::vector<std::uint8_t>(data, data + size)) std::abort();

    // The worst case alternates single bytes and pairs: four packet bytes for every three.
    if (packets.size() > (4 * size + 2) / 3) std::abort();

    // The reader a handheld program would use must take the same packets as one row.
    std::vector<std::uint8_t> rows;
    if (size > 0) {
        if (pdb::expand_packets(packets, size, 1, 0, rows).failed()) std::abort();
        if (rows != std::vector<std::uint8_t>(data, data + size)) std::abort();
    }
    return 0;
}
