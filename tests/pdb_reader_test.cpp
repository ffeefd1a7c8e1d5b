// The .pdb reader: header and record list layout, row expansion, and every kind of damaged file.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "convert/pdb_reader.h"
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
    const pdb::FrameRecord& record = result.database.records[0];
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
    EXPECT_EQ(records[0].offset, 102u);
    EXPECT_EQ(records[1].offset, 116u);
    EXPECT_EQ(records[2].offset, 133u);
    EXPECT_EQ(records[0].unique_id, 0xA48000u);
    EXPECT_EQ(records[1].unique_id, 0xA48001u);
    EXPECT_EQ(records[2].unique_id, 0xA48002u);
    EXPECT_EQ(records[1].width, 4u);
    EXPECT_EQ(records[1].height, 2u);
    EXPECT_EQ(records[1].data_length, 5u);

    Bytes rows;
    ASSERT_FALSE(pdb::expand_record(file, records[0], rows));
    EXPECT_EQ(rows, (Bytes{0x00, 0x00}));
    ASSERT_FALSE(pdb::expand_record(file, records[1], rows));
    EXPECT_EQ(rows, (Bytes{0x1B, 0xE4, 0xFF, 0xFF}));
    ASSERT_FALSE(pdb::expand_record(file, records[2], rows));
    EXPECT_EQ(rows, (Bytes{0x01, 0x02, 0x03, 0x04}));
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

TEST(PdbRowExpansion, CompressionExamplesExpandBack) {
    EXPECT_EQ(expand_row({0x03, 0x01, 0x02, 0x03}, 3), (Bytes{0x01, 0x02, 0x03}));
    EXPECT_EQ(expand_row({0x8A, 0x05}, 10), Bytes(10, 0x05));
    EXPECT_EQ(expand_row({0x01, 0x01, 0x82, 0x02, 0x01, 0x03}, 4), (Bytes{0x01, 0x02, 0x02, 0x03}));
    EXPECT_EQ(expand_row({0x82, 0x01, 0x01, 0x02, 0x83, 0x03, 0x01, 0x04}, 7),
              (Bytes{0x01, 0x01, 0x02, 0x03, 0x03, 0x03, 0x04}));
    EXPECT_EQ(expand_row({0x04, 0x01, 0x02, 0x01, 0x02}, 4), (Bytes{0x01, 0x02, 0x01, 0x02}));
    // The longest packets: a run of 127 and a literal of 127.
    EXPECT_EQ(expand_row({0xFF, 0x0F}, 127), Bytes(127, 0x0F));
    Bytes literal = {0x7F};
    for (int k = 0; k < 127; k++) literal.push_back(static_cast<std::uint8_t>(k));
    EXPECT_EQ(expand_row(literal, 127), Bytes(literal.begin() + 1, literal.end()));
}

TEST(PdbRowExpansion, WhiteFrame160x120) {
    Bytes file = test::database_header(1);
    test::put_entry(file, 86, 0);
    file.insert(file.end(), {0x00, 0x00, 0x00, 0xA0, 0x00, 0x00, 0x00, 0x78, 0x00, 0x00, 0x00, 0xF0});
    for (int row = 0; row < 120; row++) file.insert(file.end(), {0xA8, 0x00});
    pdb::ReadResult result = read_database(file);
    ASSERT_TRUE(result.ok()) << result.error->message;
    Bytes rows;
    ASSERT_FALSE(pdb::expand_record(file, result.database.records[0], rows));
    EXPECT_EQ(rows, Bytes(120 * 40, 0x00));
}

TEST(PdbRowExpansion, RowLengthIsAQuarterOfTheWidthRoundedUpThenMadeEven) {
    // Width 1 and 8: 2 bytes. Width 9 and 12: ceil gives 3, made 4. Width 13: 4.
    EXPECT_TRUE(read_database(one_record(1, 1, {0x82, 0xC0})).ok());
    EXPECT_TRUE(read_database(one_record(8, 1, {0x82, 0xC0})).ok());
    EXPECT_TRUE(read_database(one_record(9, 1, {0x84, 0x00})).ok());
    EXPECT_TRUE(read_database(one_record(12, 1, {0x84, 0x00})).ok());
    EXPECT_TRUE(read_database(one_record(13, 1, {0x84, 0x00})).ok());
    EXPECT_FALSE(read_database(one_record(9, 1, {0x83, 0x00})).ok());
    EXPECT_FALSE(read_database(one_record(12, 1, {0x83, 0x00})).ok());
    EXPECT_FALSE(read_database(one_record(8, 1, {0x84, 0x00})).ok());
    // Rows longer than one packet can hold: 1016 pixels are 254 bytes, two runs of 127.
    EXPECT_TRUE(read_database(one_record(1016, 1, {0xFF, 0x00, 0xFF, 0x00})).ok());
    // 1017 pixels are 255 bytes, made 256.
    EXPECT_FALSE(read_database(one_record(1017, 1, {0xFF, 0x00, 0xFF, 0x00})).ok());
    EXPECT_TRUE(read_database(one_record(1017, 1, {0xFF, 0x00, 0xFF, 0x00, 0x82, 0x00})).ok());
}

TEST(PdbRowExpansion, RowsNeverShareAPacket) {
    // Two 2-byte rows: 82 07 82 07 is sound; 84 07 would carry one run over into the next row.
    Bytes rows;
    ASSERT_FALSE(pdb::expand_packets(Bytes{0x82, 0x07, 0x01, 0x07, 0x01, 0x07}, 2, 2, 0, rows));
    EXPECT_EQ(rows, (Bytes{0x07, 0x07, 0x07, 0x07}));
    auto error = pdb::expand_packets(Bytes{0x84, 0x07}, 2, 2, 500, rows);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->offset, 500u);
    EXPECT_EQ(error->message, "packet at byte 500 runs past the end of row 0: it expands to 4 bytes where 2 of the "
                              "row's 2 remain");
}

TEST(PdbRowExpansion, HugeRowCountsWithLittleDataAreRefusedWithoutAllocating) {
    Bytes rows;
    auto error = pdb::expand_packets(Bytes{0x82, 0x00}, 1 << 20, std::size_t{1} << 40, 0, rows);
    ASSERT_TRUE(error);
    EXPECT_TRUE(rows.empty());
}

// ---- Damaged files: the header and the record list ----

TEST(PdbReaderDamage, TruncatedHeader) {
    EXPECT_EQ(damage({}).offset, 0u);
    EXPECT_EQ(damage({}).message, "the file is empty; a database starts with a 78-byte header");
    Bytes file = test::database_header(0);
    file.pop_back();
    const pdb::PdbError error = damage(file);
    EXPECT_EQ(error.offset, 77u);
    EXPECT_EQ(error.message, "the file ends at byte 77, inside the 78-byte database header");
}

TEST(PdbReaderDamage, HeaderFieldsThatAFrameDatabaseNeverHolds) {
    Bytes file = test::database_header(0);
    file[73] = 1;
    EXPECT_EQ(damage(file).offset, 72u);
    EXPECT_EQ(damage(file).message, "header at byte 72: bytes 72-73 hold 0x0001, but they are zero in a frame "
                                    "database (a further record list is not supported)");
    file = test::database_header(0);
    file[55] = 0x50;
    EXPECT_EQ(damage(file).offset, 52u);
    EXPECT_NE(damage(file).message.find("application info offset 80"), std::string::npos) << damage(file).message;
    file = test::database_header(0);
    file[59] = 0x50;
    EXPECT_EQ(damage(file).offset, 56u);
}

TEST(PdbReaderDamage, CountLargerThanTheList) {
    // The one-record file of 198 bytes, but the header says 2: entry 0 points into what would be
    // the second list entry.
    Bytes file = one_record(160, 50, Bytes(100, 0));
    for (std::size_t k = 98; k < 198; k += 2) file[k] = 0xA8;
    test::set32(file, 74, 2);
    pdb::PdbError error = damage(file);
    EXPECT_EQ(error.offset, 78u);
    EXPECT_EQ(error.record, 0u);
    EXPECT_EQ(error.message, "record list entry 0 at byte 78: record offset 86 lies inside the header and record "
                             "list, which for 2 records run to byte 94");

    // A count whose list would not even fit in the file.
    test::set32(file, 74, 1000);
    error = damage(file);
    EXPECT_EQ(error.offset, 198u);
    EXPECT_EQ(error.records_present, 0u);
    EXPECT_EQ(error.message, "incomplete database: the header lists 1000 records, but the file ends at byte 198 inside "
                             "the record list, which runs to byte 8078 (15 of 1000 entries present, no records)");
}

TEST(PdbReaderDamage, OffsetsOutOfRangeOutOfOrderOrInconsistent) {
    Bytes file = database(test::three_records());
    test::set32(file, 86, 5000);
    pdb::PdbError error = damage(file);
    EXPECT_EQ(error.offset, 86u);
    EXPECT_EQ(error.record, 1u);
    EXPECT_EQ(error.message, "record list entry 1 at byte 86: record offset 5000 lies outside the file (150 bytes)");

    file = database(test::three_records());
    test::set32(file, 86, 150);  // exactly at the end: still outside
    EXPECT_EQ(damage(file).message, "record list entry 1 at byte 86: record offset 150 lies outside the file (150 bytes)");

    file = database(test::three_records());
    test::set32(file, 94, 116);  // record 2 at the same offset as record 1
    error = damage(file);
    EXPECT_EQ(error.offset, 94u);
    EXPECT_EQ(error.message, "record list entry 2 at byte 94: record offset 116 does not increase past record 1's "
                             "offset 116");
    test::set32(file, 94, 110);
    EXPECT_EQ(damage(file).message, "record list entry 2 at byte 94: record offset 110 does not increase past record "
                                    "1's offset 116");

    file = database(test::three_records());
    test::set32(file, 86, 117);  // one byte after the end of record 0
    EXPECT_EQ(damage(file).message, "record list entry 1 at byte 86: record offset 117, but record 0 ends at byte 116");

    // A gap between the list and the first record.
    file = one_record(8, 1, {0x82, 0x00});
    file.insert(file.begin() + 86, 0x00);
    test::set32(file, 78, 87);
    EXPECT_EQ(damage(file).message, "record list entry 0 at byte 78: record offset 87, but the first record starts "
                                    "right after the record list, at byte 86");
}

TEST(PdbReaderDamage, BytesAfterTheLastRecord) {
    Bytes file = database(test::three_records());
    file.push_back(0x00);
    pdb::PdbError error = damage(file);
    EXPECT_EQ(error.offset, 150u);
    EXPECT_EQ(error.message, "1 unexpected byte after the end of the last record, from byte 150");

    file = test::database_header(0);
    file.insert(file.end(), {1, 2, 3});
    EXPECT_EQ(damage(file).message, "3 unexpected bytes after the header of a database without records, from byte 78");
}

TEST(PdbReaderDamage, RecordRunningPastTheEndOfTheFile) {
    Bytes file = one_record(8, 1, {0x82, 0x00});
    test::set32(file, 94, 3);  // data length 3, but the file ends after 2
    pdb::PdbError error = damage(file);
    EXPECT_EQ(error.offset, 100u);
    EXPECT_EQ(error.record, 0u);
    EXPECT_EQ(error.message, "record 0 at byte 86: its 3 bytes of data would run to byte 101, past the end of the file "
                             "at byte 100");

    file = one_record(8, 1, {0x82, 0x00});
    file.resize(93);
    EXPECT_EQ(damage(file).message, "record 0 at byte 86: the file ends at byte 93 inside the record's 12-byte header");
}

TEST(PdbReaderDamage, StoppedWriterLeavesAnIncompleteDatabase) {
    const Bytes whole = database(test::three_records());
    // Stopped after the first record: the list is whole, records 1 and 2 are missing.
    pdb::PdbError error = damage(Bytes(whole.begin(), whole.begin() + 116));
    EXPECT_EQ(error.offset, 116u);
    EXPECT_EQ(error.records_present, 1u);
    EXPECT_EQ(error.message, "incomplete database: the header lists 3 records, but the file holds only 1 of them; it "
                             "ends at byte 116, where record 1 would start");
    // Stopped right after the list.
    error = damage(Bytes(whole.begin(), whole.begin() + 102));
    EXPECT_EQ(error.records_present, 0u);
    EXPECT_NE(error.message.find("holds only 0 of them"), std::string::npos) << error.message;
    // Stopped inside the list, after two entries.
    error = damage(Bytes(whole.begin(), whole.begin() + 94));
    EXPECT_EQ(error.records_present, 0u);
    EXPECT_EQ(error.message, "incomplete database: the header lists 3 records, but the file ends at byte 94 inside the "
                             "record list, which runs to byte 102 (2 of 3 entries present, no records)");
    // The records found sound before the stop are kept.
    pdb::ReadResult partial = read_database(Bytes(whole.begin(), whole.begin() + 133));
    ASSERT_FALSE(partial.ok());
    EXPECT_EQ(partial.error->records_present, 2u);
    EXPECT_EQ(partial.database.records.size(), 2u);
}

// ---- Damaged files: the packets of a record ----
// One record at byte 86, its data from byte 98.

TEST(PdbReaderDamage, IllegalControlBytes) {
    for (const std::uint8_t control : {0x00, 0x80, 0x81}) {
        const pdb::PdbError error = damage(one_record(8, 2, {0x82, 0x00, control, 0x00}));
        EXPECT_EQ(error.offset, 100u);
        char expected[120];
        std::snprintf(expected, sizeof expected, "record 0 at byte 86: illegal control byte 0x%02X at byte 100 in row 1",
                      control);
        EXPECT_EQ(error.message, expected);
    }
}

TEST(PdbReaderDamage, PacketSpanningTwoRows) {
    // Row 0: 82 00. Row 1: 01 05, then a 2-byte literal where one byte of the row is left.
    const pdb::PdbError error = damage(one_record(8, 2, {0x82, 0x00, 0x01, 0x05, 0x02, 0x06, 0x07}));
    EXPECT_EQ(error.offset, 102u);
    EXPECT_EQ(error.record, 0u);
    EXPECT_EQ(error.message, "record 0 at byte 86: packet at byte 102 runs past the end of row 1: it expands to 2 "
                             "bytes where 1 of the row's 2 remain");
}

TEST(PdbReaderDamage, DataShortOfTheRows) {
    pdb::PdbError error = damage(one_record(8, 2, {0x82, 0x00}));
    EXPECT_EQ(error.offset, 100u);
    EXPECT_EQ(error.message, "record 0 at byte 86: the data ends at byte 100 after 1 of 2 rows");
    error = damage(one_record(8, 1, {0x01, 0x00}));
    EXPECT_EQ(error.message, "record 0 at byte 86: the data ends at byte 100 in row 0, after 1 of its 2 bytes");
    error = damage(one_record(8, 1, {0x02, 0x00}));
    EXPECT_EQ(error.offset, 98u);
    EXPECT_EQ(error.message, "record 0 at byte 86: literal packet at byte 98 needs 2 bytes, but the data ends at byte "
                             "100 after 1 of them");
    error = damage(one_record(8, 1, {0x82}));
    EXPECT_EQ(error.message, "record 0 at byte 86: repeat packet at byte 98 lacks the byte to repeat: the data ends "
                             "at byte 99");
    EXPECT_EQ(damage(one_record(8, 1, {})).message, "record 0 at byte 86: the data ends at byte 98 after 0 of 1 rows");
}

TEST(PdbReaderDamage, DataLeftOverAfterTheRows) {
    pdb::PdbError error = damage(one_record(8, 1, {0x82, 0x00, 0x82, 0x00}));
    EXPECT_EQ(error.offset, 100u);
    EXPECT_EQ(error.message, "record 0 at byte 86: 2 bytes of data left over after the last row, from byte 100");
}

TEST(PdbReaderDamage, FrameSizesOutsideTheSaneRange) {
    EXPECT_EQ(damage(one_record(0, 1, {})).message, "record 0 at byte 86: frame size 0x1 has no pixels");
    EXPECT_EQ(damage(one_record(4, 0, {})).message, "record 0 at byte 86: frame size 4x0 has no pixels");
    EXPECT_EQ(damage(one_record(65536, 1, {0x82, 0x00})).message,
              "record 0 at byte 86: frame size 65536x1 exceeds the largest side of 65535 pixels");
    EXPECT_EQ(damage(one_record(0xFFFFFFFF, 0xFFFFFFFF, {})).message,
              "record 0 at byte 86: frame size 4294967295x4294967295 exceeds the largest side of 65535 pixels");
    EXPECT_EQ(damage(one_record(65535, 65535, {})).message,
              "record 0 at byte 86: frame size 65535x65535 exceeds the limit of 33554432 pixels");

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

// A file the reader accepts must expand, record by record, to exactly its rows.
void expect_accepted_file_expands(const Bytes& file) {
    pdb::ReadResult result = read_database(file);
    if (!result.ok()) return;
    ASSERT_EQ(result.database.records.size(), result.database.header.record_count);
    for (const pdb::FrameRecord& record : result.database.records) {
        Bytes rows;
        auto error = pdb::expand_record(file, record, rows);
        ASSERT_FALSE(error) << error->message;
        EXPECT_EQ(rows.size(), pdb::row_bytes_for_width(record.width) * record.height);
    }
}

TEST(PdbReaderRobustness, EveryTruncationIsRejected) {
    const Bytes whole = database(test::three_records());
    for (std::size_t length = 0; length < whole.size(); length++) {
        pdb::ReadResult result = read_database(Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length)));
        EXPECT_FALSE(result.ok()) << "prefix of " << length << " bytes accepted";
        if (result.error) {
            EXPECT_LE(result.error->offset, length);
        }
    }
}

TEST(PdbReaderRobustness, SingleByteChangesNeverCrash) {
    const Bytes whole = database(test::three_records());
    for (std::size_t at = 0; at < whole.size(); at++) {
        for (const std::uint8_t value : {0x00, 0x01, 0x7F, 0x80, 0x81, 0xFF}) {
            Bytes file = whole;
            file[at] = value;
            expect_accepted_file_expands(file);
        }
    }
}

TEST(PdbReaderRobustness, PseudoRandomFilesNeverCrash) {
    std::uint32_t state = 12345;
    const auto next = [&state] {
        state = state * 1664525u + 1013904223u;
        return static_cast<std::uint8_t>(state >> 24);
    };
    for (int trial = 0; trial < 2000; trial++) {
        Bytes file = database(test::three_records());
        const int changes = 1 + trial % 8;
        for (int k = 0; k < changes; k++) file[next() % file.size()] = next();
        if (trial % 3 == 0) file.resize(next() % file.size());
        expect_accepted_file_expands(file);
    }
}

}  // namespace
}  // namespace vintrel
