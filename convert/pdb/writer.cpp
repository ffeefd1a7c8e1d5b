// Handheld record database writer.
#include "convert/pdb/writer.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <vector>

#include "convert/pdb/handheld_name.h"

namespace vintrel {
namespace {

using pdb::database_header_size;
using pdb::record_header_size;
using pdb::record_list_entry_size;
using pdb::write_big_endian_32;

bool write_all(std::FILE* file, const void* bytes, std::size_t size) {
    return size == 0 || std::fwrite(bytes, 1, size, file) == size;
}

std::array<std::uint8_t, database_header_size> database_header(const std::string& title, std::uint32_t count) {
    std::array<std::uint8_t, database_header_size> h{};
    const std::string name = pdb::handheld_name(title);  // at most database_name_length bytes: a zero follows
    std::memcpy(&h[pdb::header_name_at], name.data(), name.size());
    write_big_endian_32(&h[pdb::header_creation_date_at], pdb::database_date);
    write_big_endian_32(&h[pdb::header_modification_date_at], pdb::database_date);
    std::memcpy(&h[pdb::header_type_at], pdb::database_type, sizeof pdb::database_type);
    std::memcpy(&h[pdb::header_creator_at], pdb::database_creator, sizeof pdb::database_creator);
    write_big_endian_32(&h[pdb::header_record_count_at], count);
    return h;
}

}  // namespace

bool database_fits(std::uint64_t count, std::uint64_t data_bytes, std::uint64_t reach) {
    return database_size(count, data_bytes) <= reach;
}

DatabaseFault write_database(std::FILE* file, const std::string& title, const RecordArray& records,
                             const std::function<bool()>& keep_going, const RecordSpool* spool) {
    // A write that came back short, with the system's reason.
    const auto unwritable = [] { return DatabaseFault{DatabaseFailure::unwritable, {}, errno ? errno : EIO, {}}; };
    std::uint64_t data_bytes = 0;
    for (const auto& record : records) data_bytes += record->data_length();
    if (!database_fits(records.size(), data_bytes)) return {DatabaseFailure::too_large, {}, 0, {}};

    const std::uint32_t count = static_cast<std::uint32_t>(records.size());
    const auto header = database_header(title, count);
    errno = 0;
    if (!write_all(file, header.data(), header.size())) return unwritable();

    std::uint32_t offset = static_cast<std::uint32_t>(database_header_size + record_list_entry_size * count);
    for (std::uint32_t i = 0; i < count; i++) {
        if (!keep_going()) return {DatabaseFailure::stopped, {}, 0, {}};
        std::uint8_t entry[record_list_entry_size] = {};
        write_big_endian_32(&entry[pdb::entry_offset_at], offset);
        entry[pdb::entry_attributes_at] = pdb::record_attributes;
        entry[pdb::entry_unique_id_at] = pdb::record_id_high[0];
        entry[pdb::entry_unique_id_at + 1] = pdb::record_id_high[1];
        entry[pdb::entry_unique_id_at + 2] = static_cast<std::uint8_t>(i & 0xFF);
        if (!write_all(file, entry, sizeof entry)) return unwritable();
        offset += static_cast<std::uint32_t>(record_header_size) + records[i]->data_length();
    }
    std::vector<std::uint8_t> spooled;
    for (std::uint32_t i = 0; i < count; i++) {
        if (!keep_going()) return {DatabaseFailure::stopped, {}, 0, {}};
        const FrameRecord& record = *records[i];
        const std::vector<std::uint8_t>* data = &record.data;
        if (record.spool_offset >= 0) {
            if (spool == nullptr || !spool->load(record, spooled)) return unwritable();
            data = &spooled;
        }
        if (!write_all(file, record.header.data(), record.header.size()) ||
            !write_all(file, data->data(), record.data_length()))
            return unwritable();
    }
    return {};
}

}  // namespace vintrel
