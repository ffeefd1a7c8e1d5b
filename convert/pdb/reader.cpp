// Reading handheld record databases (.pdb): parsing, full validation and expansion of frame rows.
#include "convert/pdb/reader.h"

#include <algorithm>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <utility>

namespace vintrel::pdb {

namespace {

std::uint16_t read16(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::uint16_t>((bytes[at] << 8) | bytes[at + 1]);
}

std::uint32_t read32(std::span<const std::uint8_t> bytes, std::size_t at) {
    return (std::uint32_t{bytes[at]} << 24) | (std::uint32_t{bytes[at + 1]} << 16) |
           (std::uint32_t{bytes[at + 2]} << 8) | std::uint32_t{bytes[at + 3]};
}

// printf into a std::string; every use formats a handful of numbers into a short sentence.
__attribute__((format(printf, 1, 2))) std::string format(const char* pattern, ...) {
    char text[512];
    std::va_list args;
    va_start(args, pattern);
    const int length = std::vsnprintf(text, sizeof text, pattern, args);
    va_end(args);
    if (length < 0) return {};
    return std::string(text, std::min<std::size_t>(static_cast<std::size_t>(length), sizeof text - 1));
}

const char* plural(std::uint64_t n) { return n == 1 ? "" : "s"; }

PdbFault make_error(std::uint64_t offset, std::string message) {
    return {PdbFailure::damaged, {}, 0, std::move(message), offset};
}

// Walks the packets of `rows` rows of `row_bytes` bytes. With `out` set (sized rows × row_bytes)
// the rows are written there; without, the packets are only checked.
PdbFault walk_packets(std::span<const std::uint8_t> data, std::size_t row_bytes, std::size_t rows,
                                     std::uint64_t data_offset, std::uint8_t* out) {
    const std::size_t size = data.size();
    std::size_t pos = 0;
    std::size_t row = row_bytes == 0 ? rows : 0;  // rows of no bytes need no packets
    std::size_t column = 0;
    while (row < rows) {
        const std::uint64_t at = data_offset + pos;
        if (pos >= size) {
            if (column == 0)
                return make_error(at, format("the data ends at byte %" PRIu64 " after %zu of %zu rows", at, row, rows));
            return make_error(at, format("the data ends at byte %" PRIu64 " in row %zu, after %zu of its %zu bytes", at,
                                         row, column, row_bytes));
        }
        const std::uint8_t control = data[pos];
        if (control == 0x00 || control == 0x80 || control == 0x81)
            return make_error(at, format("illegal control byte 0x%02X at byte %" PRIu64 " in row %zu", control, at, row));
        const bool literal = control < 0x80;
        const std::size_t count = literal ? control : control - 0x80u;
        if (count > row_bytes - column)
            return make_error(at, format("packet at byte %" PRIu64 " runs past the end of row %zu: it expands to %zu "
                                         "bytes where %zu of the row's %zu remain",
                                         at, row, count, row_bytes - column, row_bytes));
        const std::size_t operand = literal ? count : 1;
        if (size - pos - 1 < operand) {
            if (literal)
                return make_error(at, format("literal packet at byte %" PRIu64 " needs %zu bytes, but the data ends at "
                                             "byte %" PRIu64 " after %zu of them",
                                             at, count, data_offset + size, size - pos - 1));
            return make_error(at, format("repeat packet at byte %" PRIu64 " lacks the byte to repeat: the data ends at "
                                         "byte %" PRIu64,
                                         at, data_offset + size));
        }
        if (out != nullptr) {
            std::uint8_t* target = out + row * row_bytes + column;
            if (literal)
                std::memcpy(target, data.data() + pos + 1, count);
            else
                std::memset(target, data[pos + 1], count);
        }
        pos += 1 + operand;
        column += count;
        if (column == row_bytes) {
            row++;
            column = 0;
        }
    }
    if (pos != size)
        return make_error(data_offset + pos, format("%zu byte%s of data left over after the last row, from byte %" PRIu64,
                                                    size - pos, plural(size - pos), data_offset + pos));
    return {};
}

// Checks the frame size of the record at byte `at`.
PdbFault frame_size_fault(std::uint32_t width, std::uint32_t height, std::uint64_t at) {
    if (width == 0 || height == 0)
        return make_error(at, format("frame size %" PRIu32 "x%" PRIu32 " has no pixels", width, height));
    if (width > max_frame_side || height > max_frame_side)
        return make_error(at, format("frame size %" PRIu32 "x%" PRIu32 " exceeds the largest side of %" PRIu32
                                     " pixels",
                                     width, height, max_frame_side));
    if (std::uint64_t{width} * height > max_frame_pixels)
        return make_error(at, format("frame size %" PRIu32 "x%" PRIu32 " exceeds the limit of %" PRIu64 " pixels",
                                     width, height, max_frame_pixels));
    return {};
}

}  // namespace

PdbFault expand_packets(std::span<const std::uint8_t> data, std::size_t row_bytes, std::size_t rows,
                        std::size_t data_offset, std::vector<std::uint8_t>& out) {
    // Check first: a sound walk proves rows × row_bytes is bounded by the data (at most 127 bytes
    // per 2 data bytes), so the allocation below can never be out of proportion to the input.
    if (PdbFault fault = walk_packets(data, row_bytes, rows, data_offset, nullptr); fault.failed()) return fault;
    out.assign(row_bytes == 0 ? 0 : rows * row_bytes, 0);
    return walk_packets(data, row_bytes, rows, data_offset, out.data());
}

PdbFault expand_record(std::span<const std::uint8_t> file, const StoredRecord& record,
                       std::vector<std::uint8_t>& rows) {
    const auto prefix = [&](PdbFault fault) {
        fault.detail = format("record at byte %" PRIu32 ": ", record.offset) + fault.detail;
        return fault;
    };
    if (PdbFault fault = frame_size_fault(record.width, record.height, record.offset); fault.failed())
        return prefix(std::move(fault));
    const std::uint64_t data_start = std::uint64_t{record.offset} + record_header_size;
    if (data_start > file.size() || record.data_length > file.size() - data_start)
        return prefix(make_error(record.offset, format("its %" PRIu32 " bytes of data lie outside the file (%zu bytes)",
                                                       record.data_length, file.size())));
    const auto data = file.subspan(static_cast<std::size_t>(data_start), record.data_length);
    if (PdbFault fault = expand_packets(data, static_cast<std::size_t>(row_bytes_for_width(record.width)),
                                        record.height, static_cast<std::size_t>(data_start), rows);
        fault.failed())
        return prefix(std::move(fault));
    return {};
}

ReadResult read_database(std::span<const std::uint8_t> file) {
    ReadResult result;
    const std::uint64_t size = file.size();
    const auto fail = [&](PdbFault fault) {
        result.fault = std::move(fault);
        return std::move(result);
    };

    if (size < database_header_size) {
        if (size == 0)
            return fail(make_error(0, format("the file is empty; a database starts with a %zu-byte header",
                                             database_header_size)));
        return fail(make_error(size, format("the file ends at byte %" PRIu64 ", inside the %zu-byte database header",
                                            size, database_header_size)));
    }

    DatabaseHeader& header = result.database.header;
    std::copy_n(file.begin() + header_name_at, header.name_field.size(), header.name_field.begin());
    const auto name_end = std::find(header.name_field.begin(), header.name_field.end(), std::uint8_t{0});
    header.name.assign(header.name_field.begin(), name_end);
    header.attributes = read16(file, header_attributes_at);
    header.version = read16(file, header_version_at);
    header.creation_date = read32(file, header_creation_date_at);
    header.modification_date = read32(file, header_modification_date_at);
    header.backup_date = read32(file, header_backup_date_at);
    header.modification_number = read32(file, header_modification_number_at);
    header.app_info_offset = read32(file, header_app_info_offset_at);
    header.sort_info_offset = read32(file, header_sort_info_offset_at);
    std::copy_n(file.begin() + header_type_at, header.type.size(), header.type.begin());
    std::copy_n(file.begin() + header_creator_at, header.creator.size(), header.creator.begin());
    header.unique_id_seed = read32(file, header_unique_id_seed_at);
    header.next_record_list_high = read16(file, header_next_record_list_at);
    header.record_count = read32(file, header_record_count_at);

    if (header.app_info_offset != 0)
        return fail(make_error(header_app_info_offset_at,
                               format("header at byte %zu: application info offset %" PRIu32
                                      ", but a frame database has no application info block",
                                      header_app_info_offset_at, header.app_info_offset)));
    if (header.sort_info_offset != 0)
        return fail(make_error(header_sort_info_offset_at,
                               format("header at byte %zu: sort info offset %" PRIu32
                                      ", but a frame database has no sort info block",
                                      header_sort_info_offset_at, header.sort_info_offset)));
    if (header.next_record_list_high != 0)
        return fail(make_error(header_next_record_list_at,
                               format("header at byte %zu: bytes %zu-%zu hold 0x%04X, but they are zero in a frame "
                                      "database (a further record list is not supported)",
                                      header_next_record_list_at, header_next_record_list_at,
                                      header_next_record_list_at + 1, header.next_record_list_high)));

    const std::uint32_t count = header.record_count;
    const std::uint64_t list_end = database_header_size + std::uint64_t{record_list_entry_size} * count;
    // The file ends before the records the header lists: the writing was stopped, or the file is
    // a copy cut short. The first `present` records are whole, and are kept.
    const auto incomplete = [&](const std::string& what) {
        PdbFault fault = make_error(size, format("incomplete database: the header lists %" PRIu32 " record%s, but %s",
                                                 count, plural(count), what.c_str()));
        fault.kind = PdbFailure::incomplete;
        return fault;
    };
    if (list_end > size) {
        const std::uint64_t entries = (size - database_header_size) / record_list_entry_size;
        return fail(incomplete(format("the file ends at byte %" PRIu64 " inside the record list, which runs to "
                                         "byte %" PRIu64 " (%" PRIu64 " of %" PRIu32 " entries present, no records)",
                                         size, list_end, entries, count)));
    }

    result.database.records.reserve(count);
    std::uint64_t expected = list_end;  // where the next record must start
    std::uint32_t previous_offset = 0;
    for (std::uint32_t i = 0; i < count; i++) {
        const std::size_t entry = database_header_size + std::size_t{record_list_entry_size} * i;
        StoredRecord record;
        record.offset = read32(file, entry + entry_offset_at);
        record.attributes = file[entry + entry_attributes_at];
        const std::size_t id = entry + entry_unique_id_at;
        record.unique_id =
            (std::uint32_t{file[id]} << 16) | (std::uint32_t{file[id + 1]} << 8) | std::uint32_t{file[id + 2]};
        const std::uint64_t offset = record.offset;

        const auto entry_fault = [&](std::string what) {
            return make_error(entry, format("record list entry %" PRIu32 " at byte %zu: ", i, entry) + what);
        };
        if (i > 0 && record.offset <= previous_offset)
            return fail(entry_fault(format("record offset %" PRIu32 " does not increase past record %" PRIu32
                                           "'s offset %" PRIu32,
                                           record.offset, i - 1, previous_offset)));
        if (offset != expected) {
            if (offset >= size)
                return fail(entry_fault(format("record offset %" PRIu32 " lies outside the file (%" PRIu64 " bytes)",
                                               record.offset, size)));
            if (offset < list_end)
                return fail(entry_fault(format("record offset %" PRIu32 " lies inside the header and record list, "
                                               "which for %" PRIu32 " records run to byte %" PRIu64,
                                               record.offset, count, list_end)));
            if (i == 0)
                return fail(entry_fault(format("record offset %" PRIu32 ", but the first record starts right after "
                                               "the record list, at byte %" PRIu64,
                                               record.offset, list_end)));
            return fail(entry_fault(format("record offset %" PRIu32 ", but record %" PRIu32 " ends at byte %" PRIu64,
                                           record.offset, i - 1, expected)));
        }

        const auto record_fault = [&](std::uint64_t at, std::string what) {
            return make_error(at, format("record %" PRIu32 " at byte %" PRIu64 ": ", i, offset) + what);
        };
        if (offset == size)
            return fail(incomplete(format("the file holds only %" PRIu32 " of them; it ends at byte %" PRIu64
                                             ", where record %" PRIu32 " would start",
                                             i, size, i)));
        const auto cut_in_record = [&](std::string where) {
            return incomplete(format("the file holds only %" PRIu32 " of them whole; it ends at byte %" PRIu64
                                     " inside record %" PRIu32,
                                     i, size, i) +
                              where);
        };
        if (size - offset < record_header_size)
            return fail(cut_in_record(format("'s %zu-byte header", record_header_size)));
        record.width = read32(file, record.offset + record_width_at);
        record.height = read32(file, record.offset + record_height_at);
        record.data_length = read32(file, record.offset + record_data_length_at);
        record.data_offset = static_cast<std::size_t>(offset + record_header_size);
        if (PdbFault fault = frame_size_fault(record.width, record.height, offset); fault.failed())
            return fail(record_fault(offset, std::move(fault.detail)));
        const std::uint64_t data_end = offset + record_header_size + record.data_length;
        if (data_end > size) return fail(cut_in_record(format(", which would run to byte %" PRIu64, data_end)));
        const auto data = file.subspan(record.data_offset, record.data_length);
        if (PdbFault fault = walk_packets(data, static_cast<std::size_t>(row_bytes_for_width(record.width)),
                                          record.height, record.data_offset, nullptr);
            fault.failed())
            return fail(record_fault(fault.offset, std::move(fault.detail)));

        result.database.records.push_back(record);
        previous_offset = record.offset;
        expected = data_end;
    }

    if (expected != size) {
        if (count == 0)
            return fail(make_error(expected, format("%" PRIu64 " unexpected byte%s after the header of a database "
                                                    "without records, from byte %" PRIu64,
                                                    size - expected, plural(size - expected), expected)));
        return fail(make_error(expected, format("%" PRIu64 " unexpected byte%s after the end of the last record, from "
                                                "byte %" PRIu64,
                                                size - expected, plural(size - expected), expected)));
    }
    return result;
}

std::string format_date(std::uint32_t seconds_since_1904) {
    const std::int64_t days = seconds_since_1904 / 86400;
    const std::uint32_t rest = seconds_since_1904 % 86400;
    // Civil date from a day count, on a calendar whose years start on 1 March so that the leap
    // day ends the year; 1904-01-01 lies 24107 days before 1970-01-01, which is 719468 days after
    // 0000-03-01.
    const std::int64_t z = days - 24107 + 719468;
    const std::int64_t era = z / 146097;  // z stays positive for every 32-bit input
    const std::int64_t day_of_era = z - era * 146097;
    const std::int64_t year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    const std::int64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const std::int64_t shifted_month = (5 * day_of_year + 2) / 153;  // 0 = March
    const std::int64_t day = day_of_year - (153 * shifted_month + 2) / 5 + 1;
    const std::int64_t month = shifted_month < 10 ? shifted_month + 3 : shifted_month - 9;
    const std::int64_t year = year_of_era + era * 400 + (month <= 2 ? 1 : 0);
    return format("%04" PRId64 "-%02" PRId64 "-%02" PRId64 " %02" PRIu32 ":%02" PRIu32 ":%02" PRIu32, year, month, day,
                  rest / 3600, rest / 60 % 60, rest % 60);
}

}  // namespace vintrel::pdb
