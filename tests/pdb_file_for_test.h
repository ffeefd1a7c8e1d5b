// Builds handheld database files byte by byte for the .pdb reader and vintrel-pdb tests.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vintrel::test {

using Bytes = std::vector<std::uint8_t>;

inline void put32(Bytes& bytes, std::uint32_t value) {
    bytes.push_back(static_cast<std::uint8_t>(value >> 24));
    bytes.push_back(static_cast<std::uint8_t>(value >> 16));
    bytes.push_back(static_cast<std::uint8_t>(value >> 8));
    bytes.push_back(static_cast<std::uint8_t>(value));
}

inline void set32(Bytes& bytes, std::size_t at, std::uint32_t value) {
    bytes[at] = static_cast<std::uint8_t>(value >> 24);
    bytes[at + 1] = static_cast<std::uint8_t>(value >> 16);
    bytes[at + 2] = static_cast<std::uint8_t>(value >> 8);
    bytes[at + 3] = static_cast<std::uint8_t>(value);
}

// The 78-byte database header as our converter writes it, for `count` records.
inline Bytes database_header(std::uint32_t count, std::string_view name = "walk.mov") {
    Bytes header(78, 0);
    for (std::size_t k = 0; k < name.size() && k < 31; k++) header[k] = static_cast<std::uint8_t>(name[k]);
    set32(header, 36, 0xAE44D106);
    set32(header, 40, 0xAE44D106);
    const char type_creator[] = "ZebvKwop";
    for (std::size_t k = 0; k < 8; k++) header[60 + k] = static_cast<std::uint8_t>(type_creator[k]);
    set32(header, 74, count);
    return header;
}

// One record list entry: offset, attributes 0x40, unique ID A4 80 (index mod 256).
inline void put_entry(Bytes& bytes, std::uint32_t offset, std::uint32_t index) {
    put32(bytes, offset);
    bytes.push_back(0x40);
    bytes.push_back(0xA4);
    bytes.push_back(0x80);
    bytes.push_back(static_cast<std::uint8_t>(index & 0xFF));
}

struct TestRecord {
    std::uint32_t width;
    std::uint32_t height;
    Bytes data;  // the compressed rows
};

// A whole database: header, a consistent record list, the records back to back.
inline Bytes database(const std::vector<TestRecord>& records) {
    Bytes file = database_header(static_cast<std::uint32_t>(records.size()));
    std::uint32_t offset = 78 + 8 * static_cast<std::uint32_t>(records.size());
    for (std::size_t i = 0; i < records.size(); i++) {
        put_entry(file, offset, static_cast<std::uint32_t>(i));
        offset += 12 + static_cast<std::uint32_t>(records[i].data.size());
    }
    for (const TestRecord& record : records) {
        put32(file, record.width);
        put32(file, record.height);
        put32(file, static_cast<std::uint32_t>(record.data.size()));
        file.insert(file.end(), record.data.begin(), record.data.end());
    }
    return file;
}

// Three small records: at 102 (8x1, 2 data bytes), 116 (4x2, 5 bytes) and 133 (9x1, 5 bytes);
// the file is 150 bytes long.
inline std::vector<TestRecord> three_records() {
    return {{8, 1, {0x82, 0x00}},
            {4, 2, {0x02, 0x1B, 0xE4, 0x82, 0xFF}},
            {9, 1, {0x04, 0x01, 0x02, 0x03, 0x04}}};
}

}  // namespace vintrel::test
