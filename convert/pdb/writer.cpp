// Handheld record database writer.
#include "convert/pdb/writer.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace vintrel {
namespace {

constexpr std::size_t header_size = 78;
constexpr std::size_t list_entry_size = 8;
constexpr std::size_t name_length = 31;

bool write_all(std::FILE* file, const void* bytes, std::size_t size) {
    return size == 0 || std::fwrite(bytes, 1, size, file) == size;
}

std::array<std::uint8_t, header_size> database_header(const std::string& title, std::uint32_t count) {
    std::array<std::uint8_t, header_size> h{};
    std::memcpy(h.data(), title.data(), std::min(title.size(), name_length));
    write_big_endian_32(&h[36], database_date);  // creation
    write_big_endian_32(&h[40], database_date);  // modification
    std::memcpy(&h[60], "Zebv", 4);              // type
    std::memcpy(&h[64], "Kwop", 4);              // creator
    write_big_endian_32(&h[74], count);          // next record list (high half) and record count
    return h;
}

}  // namespace

bool database_fits(std::uint64_t count, std::uint64_t data_bytes, std::uint64_t reach) {
    return header_size + (list_entry_size + 12) * count + data_bytes <= reach;
}

DatabaseResult write_database(std::FILE* file, const std::string& title, const RecordArray& records,
                              const std::function<bool()>& keep_going, const RecordSpool* spool) {
    std::uint64_t data_bytes = 0;
    for (const auto& record : records) data_bytes += record->data_length();
    if (!database_fits(records.size(), data_bytes)) return DatabaseResult::too_large;

    const std::uint32_t count = static_cast<std::uint32_t>(records.size());
    const auto header = database_header(title, count);
    if (!write_all(file, header.data(), header.size())) return DatabaseResult::write_failed;

    std::uint32_t offset = static_cast<std::uint32_t>(header_size + list_entry_size * count);
    for (std::uint32_t i = 0; i < count; i++) {
        if (!keep_going()) return DatabaseResult::stopped;
        std::uint8_t entry[list_entry_size] = {0, 0, 0, 0, 0x40, 0xA4, 0x80, static_cast<std::uint8_t>(i & 0xFF)};
        write_big_endian_32(entry, offset);
        if (!write_all(file, entry, sizeof entry)) return DatabaseResult::write_failed;
        offset += 12 + records[i]->data_length();
    }
    std::vector<std::uint8_t> spooled;
    for (std::uint32_t i = 0; i < count; i++) {
        if (!keep_going()) return DatabaseResult::stopped;
        const FrameRecord& record = *records[i];
        const std::vector<std::uint8_t>* data = &record.data;
        if (record.spool_offset >= 0) {
            if (spool == nullptr || !spool->load(record, spooled)) return DatabaseResult::write_failed;
            data = &spooled;
        }
        if (!write_all(file, record.header.data(), record.header.size()) ||
            !write_all(file, data->data(), record.data_length()))
            return DatabaseResult::write_failed;
    }
    return DatabaseResult::written;
}

}  // namespace vintrel
