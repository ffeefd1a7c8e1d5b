// The .pdb reader: header and record list layout, row expansion, and every kind of damaged file.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "convert/pdb/reader.h"
#include "tests/pdb_file_for_test.h"

namespace vintrel {
namespace {

using pdb::read_database;
using test::Bytes;
using test::database;
using test::TestRecord;

Bytes one_record(std::uint32_t width, std::uint32_t height, Bytes data) {
    return database({TestRecord{width, height, std::move(data)}});
}

// Expands a single row of `row_bytes` bytes, failing the test on an error.
Bytes expand_row(const Bytes& packets, std::size_t row_bytes) {
    Bytes row;
    auto error = pdb::expand_packets(packets, row_bytes, 1, 0, row);
    EXPECT_FALSE(error) << error->message;
    return row;
}

// Reads a file expected to be damaged; returns the error (an empty one if the file was accepted).
pdb::PdbError damage(const Bytes& file) {
    pdb::ReadResult result = read_database(file);
    EXPECT_FALSE(result.ok()) << "a damaged file was accepted";
    return result.error.value_or(pdb::PdbError{});
}

// ---- Layout of sound files ----

TEST(PdbReaderLayout, ZeroRecordsIsTheHeaderAlone) {
    const Bytes file = {
        0x77, 0x61, 0x6C, 0x6B, 0x2E, 0x6D, 0x6F, 0x76, 0, 0, 0, 0, 0, 0, 0, 0,  // "walk.mov"
        0,    0,    0,    0,    0,    0,    0,    0,    0, 0, 0, 0, 0, 0, 0, 0,  // rest of the name
        0,    0,    0,    0,                                                    // attributes, version
        0xAE, 0x44, 0xD1, 0x06, 0xAE, 0x44, 0xD1, 0x06,                         // created, modified
        0,    0,    0,    0,    0,    0,    0,    0,    0, 0, 0, 0, 0, 0, 0, 0,  // backup, modnum, app, sort
        0x5A, 0x65, 0x62, 0x76, 0x4B, 0x77, 0x6F, 0x70,                         // "Zebv" "Kwop"
        0,    0,    0,    0,    0,    0,    0,    0,    0, 0,                    // seed, bytes 72-77
    };
    ASSERT_EQ(file.size(), 78u);
    ASSERT_EQ(file, test::database_header(0)) << "the test helper must build the same header";

    pdb::ReadResult result = read_database(file);
    ASSERT_TRUE(result.ok()) << result.error->message;
    const pdb::DatabaseHeader& header = result.database.header;
    EXPECT_EQ(header.name, "walk.mov");
    EXPECT_EQ(std::string(header.type.begin(), header.type.end()), "Zebv");
    EXPECT_EQ(std::string(header.creator.begin(), header.creator.end()), "Kwop");
    EXPECT_EQ(header.creation_date, 0xAE44D106u);
    EXPECT_EQ(header.modification_date, 0xAE44D106u);
    EXPECT_EQ(header.backup_date, 0u);
    EXPECT_EQ(header.record_count, 0u);
    EXPECT_TRUE(result.database.records.empty());
}

TEST(PdbReaderLayout, OneRecordOfOneHundredDataBytesSitsAtOffset86) {
    // 160x50 all white: 50 rows of 40 zero bytes, each row the packet A8 00.
    Bytes file = test::database_header(1);
    const Bytes entry_and_record_header = {0x00, 0x00, 0x00, 0x56, 0x40, 0xA4, 0x80, 0x00,   // entry 0
                                           0x00, 0x00, 0x00, 0xA0, 0x00, 0x00, 0x00, 0x32,   // 160, 50
                                           0x00, 0x00, 0x00, 0x64};                          // 100 bytes
    file.insert(file.end(), entry_and_record_header.begin(), entry_and_record_header.end());
    for (int row = 0; row < 50; row++) file.insert(file.end(), {0xA8, 0x00});
    ASSERT_EQ(file.size(), 198u);
    ASSERT_EQ(file, one_record(160, 50, Bytes(file.begin() + 98, file.end())));

    pdb::ReadResult result = read_database(file);
    ASSERT_TRUE(result.ok()) << result.error->message;
    ASSERT_EQ(result.database.records.size(), 1u);
    const pdb::StoredRecord& record = result.database.records[0];
    EXPECT_EQ(record.offset, 86u);
    EXPECT_EQ(record.attributes, 0x40);
    EXPECT_EQ(record.unique_id, 0xA48000u);
    EXPECT_EQ(record.width, 160u);
    EXPECT_EQ(record.height, 50u);
    EXPECT_EQ(record.data_length, 100u);

    Bytes rows;
    auto error = pdb::expand_record(file, record, rows);
    ASSERT_FALSE(error) << error->message;
    EXPECT_EQ(rows, Bytes(50 * 40, 0x00));
}

TEST(PdbReaderLayout, ThreeRecordsStartAt102AndFollowEachOther) {
    const Bytes file = database(test::three_records());
    ASSERT_EQ(file.size(), 150u);
    // The list as written: offsets 102, 116 (102 + 12 + 2), 133 (116 + 12 + 5).
    EXPECT_EQ(Bytes(file.begin() + 78, file.begin() + 102),
              (Bytes{0, 0, 0, 102, 0x40, 0xA4, 0x80, 0, 0, 0, 0, 116, 0x40, 0xA4, 0x80, 1,
                     0, 0, 0, 133, 0x40, 0xA4, 0x80, 2}));

    pdb::ReadResult result = read_database(file);
    ASSERT_TRUE(result.ok()) << result.error->message;
    const auto& records = result.database.records;
    ASSERT_EQ(records.size(), 3u);
    const std::vector<std::tuple<std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t, Bytes>> expected = {
        {102, 8, 1, 2, {0x00, 0x00}}, {116, 4, 2, 5, {0x1B, 0xE4, 0xFF, 0xFF}}, {133, 9, 1, 5, {0x01, 0x02, 0x03, 0x04}}};
    for (std::size_t k = 0; k < 3; k++) {
        const auto& [offset, width, height, length, rows] = expected[k];
        EXPECT_EQ(records[k].offset, offset);
        EXPECT_EQ(records[k].unique_id, 0xA48000u + k);
        EXPECT_EQ(records[k].width, width);
        EXPECT_EQ(records[k].height, height);
        EXPECT_EQ(records[k].data_length, length);
        Bytes expanded;
        ASSERT_FALSE(pdb::expand_record(file, records[k], expanded));
        EXPECT_EQ(expanded, rows) << "record " << k;
    }
}

TEST(PdbReaderLayout, CountIsTheWholeFourBytes74To77) {
    // 65536 records of one 4x1 row (2 bytes, packet 82 55): bytes 74-77 are 00 01 00 00, so a
    // reader looking only at bytes 76-77 would see no records at all.
    const std::uint32_t count = 65536;
    Bytes file = test::database_header(count);
    const std::uint32_t first = 78 + 8 * count;  // 524366
    for (std::uint32_t i = 0; i < count; i++) test::put_entry(file, first + 14 * i, i);
    for (std::uint32_t i = 0; i < count; i++) file.insert(file.end(), {0, 0, 0, 4, 0, 0, 0, 1, 0, 0, 0, 2, 0x82, 0x55});
    ASSERT_EQ(file.size(), 1441870u);
    EXPECT_EQ(Bytes(file.begin() + 72, file.begin() + 78), (Bytes{0, 0, 0, 1, 0, 0}));

    pdb::ReadResult result = read_database(file);
    ASSERT_TRUE(result.ok()) << result.error->message;
    EXPECT_EQ(result.database.header.record_count, 65536u);
    ASSERT_EQ(result.database.records.size(), 65536u);
    EXPECT_EQ(result.database.records[65535].offset, 1441856u);
    EXPECT_EQ(result.database.records[256].unique_id, 0xA48000u);  // the third ID byte wraps
}

TEST(PdbReaderLayout, DatesReadAsSecondsSince1904) {
    EXPECT_EQ(pdb::format_date(0xAE44D106), "1996-08-24 15:32:22");
    EXPECT_EQ(pdb::format_date(0), "1904-01-01 00:00:00");
    EXPECT_EQ(pdb::format_date(59 * 86400), "1904-02-29 00:00:00");  // 1904 is a leap year
    // 1904-01-01 to 2000-01-01: 96 years with 24 leap days = 35064 days; + 31 + 28 days.
    EXPECT_EQ(pdb::format_date((35064 + 59) * 86400u), "2000-02-29 00:00:00");
    EXPECT_EQ(pdb::format_date((35064 + 59) * 86400u - 1), "2000-02-28 23:59:59");
    EXPECT_EQ(pdb::format_date(0xFFFFFFFF), "2040-02-06 06:28:15");
}

// ---- Row expansion ----

TEST(PdbRowExpansion, PacketsExpandToTheirRowsAndNeverSpanTwo) {
    const std::vector<std::pair<Bytes, Bytes>> rows = {
        {{0x03, 0x01, 0x02, 0x03}, {0x01, 0x02, 0x03}},
        {{0x8A, 0x05}, Bytes(10, 0x05)},
        {{0x01, 0x01, 0x82, 0x02, 0x01, 0x03}, {0x01, 0x02, 0x02, 0x03}},
        {{0x82, 0x01, 0x01, 0x02, 0x83, 0x03, 0x01, 0x04}, {0x01, 0x01, 0x02, 0x03, 0x03, 0x03, 0x04}},
        {{0xFF, 0x0F}, Bytes(127, 0x0F)},  // the longest run
    };
    for (const auto& [packets, row] : rows) EXPECT_EQ(expand_row(packets, row.size()), row);
    Bytes literal = {0x7F};  // the longest literal
    for (int k = 0; k < 127; k++) literal.push_back(static_cast<std::uint8_t>(k));
    EXPECT_EQ(expand_row(literal, 127), Bytes(literal.begin() + 1, literal.end()));

    // Two 2-byte rows: 82 07 then a literal is sound; 84 07 would carry one run over into the next row.
    Bytes two_rows;
    ASSERT_FALSE(pdb::expand_packets(Bytes{0x82, 0x07, 0x01, 0x07, 0x01, 0x07}, 2, 2, 0, two_rows));
    EXPECT_EQ(two_rows, (Bytes{0x07, 0x07, 0x07, 0x07}));
    auto error = pdb::expand_packets(Bytes{0x84, 0x07}, 2, 2, 500, two_rows);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->offset, 500u);
    EXPECT_EQ(error->message, "packet at byte 500 runs past the end of row 0: it expands to 4 bytes where 2 of the "
                              "row's 2 remain");
    // Huge row counts with little data are refused without allocating.
    Bytes none;
    EXPECT_TRUE(pdb::expand_packets(Bytes{0x82, 0x00}, 1 << 20, std::size_t{1} << 40, 0, none));
    EXPECT_TRUE(none.empty());
}

TEST(PdbRowExpansion, RowLengthIsAQuarterOfTheWidthRoundedUpThenMadeEven) {
    // Width 1 and 8: 2 bytes. Width 9 and 12: ceil gives 3, made 4. Width 13: 4. 1016 pixels are
    // 254 bytes, two runs of 127; 1017 are 255, made 256.
    const std::vector<std::tuple<std::uint32_t, Bytes, bool>> cases = {
        {1, {0x82, 0xC0}, true},  {8, {0x82, 0xC0}, true},  {9, {0x84, 0x00}, true},   {12, {0x84, 0x00}, true},
        {13, {0x84, 0x00}, true}, {9, {0x83, 0x00}, false}, {12, {0x83, 0x00}, false}, {8, {0x84, 0x00}, false},
        {1016, {0xFF, 0x00, 0xFF, 0x00}, true},             {1017, {0xFF, 0x00, 0xFF, 0x00}, false},
        {1017, {0xFF, 0x00, 0xFF, 0x00, 0x82, 0x00}, true},
    };
    for (const auto& [width, data, sound] : cases)
        EXPECT_EQ(read_database(one_record(width, 1, data)).ok(), sound) << width << " with " << data.size() << " bytes";
}

// ---- Damaged files ----

struct Damage {
    const char* what;
    Bytes file;
    std::size_t offset;  // where the error points
    std::string message;
};

// `file` with the 32-bit value at `at` set to `value`.
Bytes with32(Bytes file, std::size_t at, std::uint32_t value) {
    test::set32(file, at, value);
    return file;
}
Bytes with_byte(Bytes file, std::size_t at, std::uint8_t value) {
    file[at] = value;
    return file;
}
Bytes prefix(const Bytes& file, std::size_t length) { return Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(length)); }
Bytes plus(Bytes file, const Bytes& more) {
    file.insert(file.end(), more.begin(), more.end());
    return file;
}

TEST(PdbReaderDamage, EveryFaultIsNamedWithItsOffset) {
    const Bytes three = database(test::three_records());  // records at 102, 116, 133; 150 bytes
    const Bytes header = test::database_header(0);
    // The one-record file of 198 bytes whose header says 2: entry 0 points into the second entry.
    Bytes white = one_record(160, 50, Bytes(100, 0));
    for (std::size_t k = 98; k < 198; k += 2) white[k] = 0xA8;
    Bytes gap = one_record(8, 1, {0x82, 0x00});
    gap.insert(gap.begin() + 86, 0x00);
    test::set32(gap, 78, 87);
    const std::string r0 = "record 0 at byte 86: ";
    const std::vector<Damage> cases = {
        {"empty", {}, 0, "the file is empty; a database starts with a 78-byte header"},
        {"short header", prefix(header, 77), 77, "the file ends at byte 77, inside the 78-byte database header"},
        {"second list", with_byte(header, 73, 1), 72,
         "header at byte 72: bytes 72-73 hold 0x0001, but they are zero in a frame database (a further record list "
         "is not supported)"},
        {"count past the list", with32(white, 74, 2), 78,
         "record list entry 0 at byte 78: record offset 86 lies inside the header and record list, which for 2 "
         "records run to byte 94"},
        {"list past the file", with32(white, 74, 1000), 198,
         "incomplete database: the header lists 1000 records, but the file ends at byte 198 inside the record list, "
         "which runs to byte 8078 (15 of 1000 entries present, no records)"},
        {"offset outside", with32(three, 86, 5000), 86,
         "record list entry 1 at byte 86: record offset 5000 lies outside the file (150 bytes)"},
        {"offset at the end", with32(three, 86, 150), 86,
         "record list entry 1 at byte 86: record offset 150 lies outside the file (150 bytes)"},
        {"same offset", with32(three, 94, 116), 94,
         "record list entry 2 at byte 94: record offset 116 does not increase past record 1's offset 116"},
        {"offset going back", with32(three, 94, 110), 94,
         "record list entry 2 at byte 94: record offset 110 does not increase past record 1's offset 116"},
        {"offset past a record", with32(three, 86, 117), 86,
         "record list entry 1 at byte 86: record offset 117, but record 0 ends at byte 116"},
        {"gap after the list", gap, 78,
         "record list entry 0 at byte 78: record offset 87, but the first record starts right after the record "
         "list, at byte 86"},
        {"byte after the last record", plus(three, {0}), 150,
         "1 unexpected byte after the end of the last record, from byte 150"},
        {"bytes after an empty list", plus(header, {1, 2, 3}), 78,
         "3 unexpected bytes after the header of a database without records, from byte 78"},
        {"data past the file", with32(one_record(8, 1, {0x82, 0x00}), 94, 3), 100,
         r0 + "its 3 bytes of data would run to byte 101, past the end of the file at byte 100"},
        {"record header cut", prefix(one_record(8, 1, {0x82, 0x00}), 93), 93,
         r0 + "the file ends at byte 93 inside the record's 12-byte header"},
        {"stopped after a record", prefix(three, 116), 116,
         "incomplete database: the header lists 3 records, but the file holds only 1 of them; it ends at byte 116, "
         "where record 1 would start"},
        {"stopped in the list", prefix(three, 94), 94,
         "incomplete database: the header lists 3 records, but the file ends at byte 94 inside the record list, "
         "which runs to byte 102 (2 of 3 entries present, no records)"},
        {"control 00", one_record(8, 2, {0x82, 0x00, 0x00, 0x00}), 100,
         r0 + "illegal control byte 0x00 at byte 100 in row 1"},
        {"control 80", one_record(8, 2, {0x82, 0x00, 0x80, 0x00}), 100,
         r0 + "illegal control byte 0x80 at byte 100 in row 1"},
        {"control 81", one_record(8, 2, {0x82, 0x00, 0x81, 0x00}), 100,
         r0 + "illegal control byte 0x81 at byte 100 in row 1"},
        {"packet over two rows", one_record(8, 2, {0x82, 0x00, 0x01, 0x05, 0x02, 0x06, 0x07}), 102,
         r0 + "packet at byte 102 runs past the end of row 1: it expands to 2 bytes where 1 of the row's 2 remain"},
        {"rows missing", one_record(8, 2, {0x82, 0x00}), 100, r0 + "the data ends at byte 100 after 1 of 2 rows"},
        {"row short", one_record(8, 1, {0x01, 0x00}), 100,
         r0 + "the data ends at byte 100 in row 0, after 1 of its 2 bytes"},
        {"literal short", one_record(8, 1, {0x02, 0x00}), 98,
         r0 + "literal packet at byte 98 needs 2 bytes, but the data ends at byte 100 after 1 of them"},
        {"run short", one_record(8, 1, {0x82}), 98,
         r0 + "repeat packet at byte 98 lacks the byte to repeat: the data ends at byte 99"},
        {"no data", one_record(8, 1, {}), 98, r0 + "the data ends at byte 98 after 0 of 1 rows"},
        {"data left over", one_record(8, 1, {0x82, 0x00, 0x82, 0x00}), 100,
         r0 + "2 bytes of data left over after the last row, from byte 100"},
        {"no width", one_record(0, 1, {}), 86, r0 + "frame size 0x1 has no pixels"},
        {"no height", one_record(4, 0, {}), 86, r0 + "frame size 4x0 has no pixels"},
        {"too wide", one_record(65536, 1, {0x82, 0x00}), 86,
         r0 + "frame size 65536x1 exceeds the largest side of 65535 pixels"},
        {"too large", one_record(0xFFFFFFFF, 0xFFFFFFFF, {}), 86,
         r0 + "frame size 4294967295x4294967295 exceeds the largest side of 65535 pixels"},
        {"too many pixels", one_record(65535, 65535, {}), 86,
         r0 + "frame size 65535x65535 exceeds the limit of 33554432 pixels"},
    };
    for (const Damage& c : cases) {
        SCOPED_TRACE(c.what);
        const pdb::PdbError error = damage(c.file);
        EXPECT_EQ(error.offset, c.offset);
        EXPECT_EQ(error.message, c.message);
    }
    EXPECT_EQ(damage(with_byte(header, 55, 0x50)).offset, 52u);  // application info offset
    EXPECT_EQ(damage(with_byte(header, 59, 0x50)).offset, 56u);  // sort info offset
    // The records found sound before a stop are kept.
    pdb::ReadResult partial = read_database(prefix(three, 133));
    ASSERT_FALSE(partial.ok());
    EXPECT_EQ(partial.error->records_present, 2u);
    EXPECT_EQ(partial.database.records.size(), 2u);
}

TEST(PdbReaderDamage, FrameSizesUpToThePixelLimitAreRead) {
    // 8192x4096 is exactly the limit: each 2048-byte row is 16 runs of 127 and one of 16.
    Bytes row;
    for (int k = 0; k < 16; k++) row.insert(row.end(), {0xFF, 0x00});
    row.insert(row.end(), {0x90, 0x00});
    Bytes data;
    for (int y = 0; y < 4096; y++) data.insert(data.end(), row.begin(), row.end());
    EXPECT_TRUE(read_database(one_record(8192, 4096, data)).ok());
    data.insert(data.end(), row.begin(), row.end());
    EXPECT_EQ(damage(one_record(8192, 4097, data)).message,
              "record 0 at byte 86: frame size 8192x4097 exceeds the limit of 33554432 pixels");
}

// ---- Robustness: no input may crash the reader or slip through half-checked ----

// Arbitrary changed bytes are the reader's fuzz target's; here every truncation of a sound file.
TEST(PdbReaderRobustness, EveryTruncationIsRejected) {
    const Bytes whole = database(test::three_records());
    for (std::size_t length = 0; length < whole.size(); length++) {
        pdb::ReadResult result = read_database(prefix(whole, length));
        EXPECT_FALSE(result.ok()) << "prefix of " << length << " bytes accepted";
        if (result.error) {
            EXPECT_LE(result.error->offset, length);
        }
    }
}

}  // namespace
}  // namespace vintrel
