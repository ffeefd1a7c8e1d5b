// The handheld database format: rows compressed and expanded, files written and read back byte by
// byte, every kind of damaged file named with its offset, and vintrel-pdb, which shows what the
// reader finds, as a user runs it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "convert/pdb/writer.h"
#include "convert/pdb/reader.h"
#include "convert/pdb/row_compression.h"
#include "tests/run_program_for_test.h"
#include "tests/scratch_directory_for_test.h"

namespace vintrel {
namespace {

using pdb::read_database;
using test::run_program;

// ---- Files built byte by byte ----

using Bytes = std::vector<std::uint8_t>;

void set32(Bytes& bytes, std::size_t at, std::uint32_t value) {
    for (int k = 0; k < 4; k++) bytes[at + k] = static_cast<std::uint8_t>(value >> (24 - 8 * k));
}
void put32(Bytes& bytes, std::uint32_t value) {
    bytes.resize(bytes.size() + 4);
    set32(bytes, bytes.size() - 4, value);
}

// The 78-byte database header as our converter writes it, for `count` records.
Bytes database_header(std::uint32_t count, std::string_view name = "walk.mov") {
    Bytes header(78, 0);
    for (std::size_t k = 0; k < name.size() && k < 31; k++) header[k] = static_cast<std::uint8_t>(name[k]);
    set32(header, 36, 0xAE44D106);
    set32(header, 40, 0xAE44D106);
    const char type_creator[] = "ZebvKwop";
    for (std::size_t k = 0; k < 8; k++) header[60 + k] = static_cast<std::uint8_t>(type_creator[k]);
    set32(header, 74, count);
    return header;
}

struct TestRecord {
    std::uint32_t width;
    std::uint32_t height;
    Bytes data;  // the compressed rows
};

// A whole database: header, a consistent record list (entries of offset, attributes 0x40 and
// unique ID A4 80 (index mod 256)), the records back to back.
Bytes database(const std::vector<TestRecord>& records) {
    Bytes file = database_header(static_cast<std::uint32_t>(records.size()));
    std::uint32_t offset = 78 + 8 * static_cast<std::uint32_t>(records.size());
    for (std::size_t i = 0; i < records.size(); i++) {
        put32(file, offset);
        file.insert(file.end(), {0x40, 0xA4, 0x80, static_cast<std::uint8_t>(i)});
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
std::vector<TestRecord> three_records() {
    return {{8, 1, {0x82, 0x00}}, {4, 2, {0x02, 0x1B, 0xE4, 0x82, 0xFF}}, {9, 1, {0x04, 0x01, 0x02, 0x03, 0x04}}};
}

// ---- Rows ----

Bytes one_record(std::uint32_t width, std::uint32_t height, Bytes data) {
    return database({TestRecord{width, height, std::move(data)}});
}
Bytes plus(Bytes file, const Bytes& more) {
    file.insert(file.end(), more.begin(), more.end());
    return file;
}
Bytes prefix(const Bytes& file, std::size_t length) { return Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(length)); }
Bytes ramp(int from, int to) {
    Bytes bytes;
    for (int k = from; k < to; k++) bytes.push_back(static_cast<std::uint8_t>(k));
    return bytes;
}

// Reads a file expected to be damaged; returns the error (an empty one if the file was accepted).
pdb::PdbError damage(const Bytes& file) {
    pdb::ReadResult result = read_database(file);
    EXPECT_FALSE(result.ok()) << "a damaged file was accepted";
    return result.error.value_or(pdb::PdbError{});
}

TEST(HandheldRows, CompressToTheDocumentedPacketsAndExpandBack) {
    Bytes alternating;
    for (int i = 0; i < 40; i++) alternating.push_back(i % 2 ? 0x55 : 0xAA);
    const std::vector<std::pair<Bytes, Bytes>> rows = {
        {{0x01, 0x02, 0x03}, {0x03, 0x01, 0x02, 0x03}},
        {Bytes(10, 0x05), {0x8A, 0x05}},
        {{0x01, 0x02, 0x02, 0x03}, {0x01, 0x01, 0x82, 0x02, 0x01, 0x03}},
        {{0x01, 0x01, 0x02, 0x03, 0x03, 0x03, 0x04}, {0x82, 0x01, 0x01, 0x02, 0x83, 0x03, 0x01, 0x04}},
        {Bytes(40, 0x00), {0xA8, 0x00}},  // a white row
        {alternating, plus({40}, alternating)},
        // Equal neighbours start a repeat even inside literals: the worst case of 4R/3 bytes.
        {{0x11, 0x22, 0x22, 0x33, 0x44, 0x44}, {0x01, 0x11, 0x82, 0x22, 0x01, 0x33, 0x82, 0x44}},
        // Packets split at 127.
        {Bytes(300, 0xFF), {0xFF, 0xFF, 0xFF, 0xFF, 0xAE, 0xFF}},
        {ramp(0, 200), plus(plus(plus({127}, ramp(0, 127)), {73}), ramp(127, 200))},
    };
    for (const auto& [row, packets] : rows) {
        Bytes compressed, expanded;
        compress_row(row.data(), row.size(), compressed);
        EXPECT_EQ(compressed, packets) << row.size() << " bytes";
        auto error = pdb::expand_packets(packets, row.size(), 1, 0, expanded);
        EXPECT_FALSE(error) << error->message;
        EXPECT_EQ(expanded, row);
    }

    // Nothing carries over between rows: 01 07 | 07 09, never a run of two 07s.
    Bytes two_rows, expanded;
    for (const Bytes& row : {Bytes{0x01, 0x07}, Bytes{0x07, 0x09}}) compress_row(row.data(), 2, two_rows);
    EXPECT_EQ(two_rows, (Bytes{0x02, 0x01, 0x07, 0x02, 0x07, 0x09}));
    ASSERT_FALSE(pdb::expand_packets(two_rows, 2, 2, 0, expanded));
    EXPECT_EQ(expanded, (Bytes{0x01, 0x07, 0x07, 0x09}));
    auto error = pdb::expand_packets(Bytes{0x84, 0x07}, 2, 2, 500, expanded);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->offset, 500u);
    EXPECT_EQ(error->message, "packet at byte 500 runs past the end of row 0: it expands to 4 bytes where 2 of the "
                              "row's 2 remain");
    // Huge row counts with little data are refused without allocating.
    Bytes none;
    EXPECT_TRUE(pdb::expand_packets(Bytes{0x82, 0x00}, 1 << 20, std::size_t{1} << 40, 0, none));
    EXPECT_TRUE(none.empty());
}

TEST(HandheldRows, RowLengthIsAQuarterOfTheWidthRoundedUpThenMadeEven) {
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

// ---- Sound files, written and read ----

// Files built byte by byte are the helpers' files; vintrel-pdb info shows the fields the reader finds.
TEST(HandheldDatabase, ZeroRecordsAreTheHeaderAlone) {
    const Bytes header = {
        0x77, 0x61, 0x6C, 0x6B, 0x2E, 0x6D, 0x6F, 0x76, 0, 0, 0, 0, 0, 0, 0, 0,  // "walk.mov"
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,                // rest of the name, attributes, version
        0xAE, 0x44, 0xD1, 0x06, 0xAE, 0x44, 0xD1, 0x06,                         // created, modified
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,                         // backup, modnum, app, sort
        0x5A, 0x65, 0x62, 0x76, 0x4B, 0x77, 0x6F, 0x70,                         // "Zebv" "Kwop"
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0,                                           // seed, bytes 72-77
    };
    ASSERT_EQ(header, database_header(0));
    EXPECT_TRUE(read_database(header).ok());

}

TEST(HandheldDatabase, ThreeRecordsStartAt102AndFollowEachOther) {
    const Bytes file = database(three_records());
    ASSERT_EQ(file.size(), 150u);
    // The list as written: offsets 102, 116 (102 + 12 + 2), 133 (116 + 12 + 5).
    EXPECT_EQ(Bytes(file.begin() + 78, file.begin() + 102),
              (Bytes{0, 0, 0, 102, 0x40, 0xA4, 0x80, 0, 0, 0, 0, 116, 0x40, 0xA4, 0x80, 1,
                     0, 0, 0, 133, 0x40, 0xA4, 0x80, 2}));

    pdb::ReadResult result = read_database(file);
    ASSERT_TRUE(result.ok()) << result.error->message;
    const auto& records = result.database.records;
    ASSERT_EQ(records.size(), 3u);
    // The rows (the fields are vintrel-pdb info's).
    const std::vector<Bytes> expected = {{0x00, 0x00}, {0x1B, 0xE4, 0xFF, 0xFF}, {0x01, 0x02, 0x03, 0x04}};
    for (std::size_t k = 0; k < 3; k++) {
        Bytes expanded;
        ASSERT_FALSE(pdb::expand_record(file, records[k], expanded));
        EXPECT_EQ(expanded, expected[k]) << "record " << k;
    }
}

TEST(HandheldDatabase, DatesReadAsSecondsSince1904) {
    EXPECT_EQ(pdb::format_date(0xAE44D106), "1996-08-24 15:32:22");
    EXPECT_EQ(pdb::format_date(59 * 86400), "1904-02-29 00:00:00");  // 1904 is a leap year
    // 1904-01-01 to 2000-01-01: 96 years with 24 leap days = 35064 days; + 31 + 28 days.
    EXPECT_EQ(pdb::format_date((35064 + 59) * 86400u), "2000-02-29 00:00:00");
    EXPECT_EQ(pdb::format_date((35064 + 59) * 86400u - 1), "2000-02-28 23:59:59");
    EXPECT_EQ(pdb::format_date(0xFFFFFFFF), "2040-02-06 06:28:15");
}

// The writer's records: 160x120 frames whose `lengths` data bytes are all 5A, or that claim
// `claimed` bytes of data without holding them.
RecordArray records_with_lengths(const std::vector<std::size_t>& lengths, std::uint32_t claimed = 0) {
    RecordArray records;
    for (std::size_t n : lengths) {
        records.push_back(std::make_unique<FrameRecord>(160, 120));
        records.back()->data.assign(n, 0x5A);
        records.back()->finish();
        if (claimed) write_big_endian_32(records.back()->header.data() + 8, claimed);
    }
    return records;
}

// What write_database returns and writes to `f` (a temporary file unless given), going on while
// `go_on(bytes written so far)`.
std::pair<DatabaseResult, Bytes> written(const std::string& title, const RecordArray& records,
                                         std::function<bool(long)> go_on = [](long) { return true; },
                                         std::FILE* f = std::tmpfile()) {
    const DatabaseResult result = write_database(f, title, records, [&] { return go_on(std::ftell(f)); });
    Bytes bytes(static_cast<std::size_t>(std::max(0L, std::ftell(f))));
    std::rewind(f);
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), f));
    std::fclose(f);
    return {result, bytes};
}

// The writer's files are the ones built by hand above and read back by the reader.
TEST(HandheldDatabase, TheWriterWritesTheFilesBuiltByHand) {
    const std::vector<std::vector<std::size_t>> cases = {{}, {100}, {10, 20, 30}, std::vector<std::size_t>(300, 1)};
    for (const auto& lengths : cases) {
        std::vector<TestRecord> expected;
        for (std::size_t n : lengths) expected.push_back({160, 120, Bytes(n, 0x5A)});
        // Unique IDs wrap after 256 records.
        EXPECT_EQ(written("walk.mov", records_with_lengths(lengths)), std::pair(DatabaseResult::written, database(expected)))
            << lengths.size();
    }
    // Long titles keep their first 31 characters.
    EXPECT_EQ(written(std::string(40, 'x'), {}).second, database_header(0, std::string(31, 'x')));
    // A stop after the first record: the list ends at byte 102, the record at 124.
    const auto [stopped, bytes] = written("a", records_with_lengths({10, 10, 10}), [](long at) { return at <= 102; });
    EXPECT_EQ(stopped, DatabaseResult::stopped);
    EXPECT_EQ(bytes.size(), 78u + 24 + 22);
}

TEST(HandheldDatabase, RecordsBeyondTheReachOfTheOffsetsAreRefusedBeforeAnythingIsWritten) {
    // Two records claiming 2 GiB of data each: the second would start past byte 2^32 - 1, where a
    // 32-bit record offset wraps round. The claimed data is never read.
    EXPECT_EQ(written("a", records_with_lengths({0, 0}, 0x80000000u)), std::pair(DatabaseResult::too_large, Bytes{}));

    // Up to the last byte that an offset can reach is still written: 78 + 8 header and list bytes,
    // 12 record header bytes, and data to byte 2^32 - 1 (checked without writing it, on a full disk,
    // which must be reported).
    std::FILE* full = std::fopen("/dev/full", "wb");
    if (!full) GTEST_SKIP() << "/dev/full is not available";
    std::setvbuf(full, nullptr, _IONBF, 0);
    const RecordArray fits = records_with_lengths({0}, 0xFFFFFFFFu - 78 - 8 - 12 + 1);
    EXPECT_EQ(written("a", fits, [](long) { return true; }, full).first, DatabaseResult::write_failed);
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
    set32(file, at, value);
    return file;
}
Bytes with_byte(Bytes file, std::size_t at, std::uint8_t value) {
    file[at] = value;
    return file;
}

TEST(PdbReaderDamage, EveryFaultIsNamedWithItsOffset) {
    const Bytes three = database(three_records());  // records at 102, 116, 133; 150 bytes
    const Bytes header = database_header(0);
    // The one-record file of 198 bytes whose header says 2: entry 0 points into the second entry.
    Bytes white = one_record(160, 50, Bytes(100, 0));
    for (std::size_t k = 98; k < 198; k += 2) white[k] = 0xA8;
    Bytes gap = one_record(8, 1, {0x82, 0x00});
    gap.insert(gap.begin() + 86, 0x00);
    set32(gap, 78, 87);
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
        {"offset at the end", with32(three, 86, 150), 86,
         "record list entry 1 at byte 86: record offset 150 lies outside the file (150 bytes)"},
        {"same offset", with32(three, 94, 116), 94,
         "record list entry 2 at byte 94: record offset 116 does not increase past record 1's offset 116"},
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
    EXPECT_EQ(damage(one_record(8192, 4097, plus(data, row))).message,
              "record 0 at byte 86: frame size 8192x4097 exceeds the limit of 33554432 pixels");
}

// ---- vintrel-pdb ----

const std::string& tool = test::pdb_program;

// `bytes` written to `name` in the test's scratch folder.
std::string write_file(const std::string& name, const Bytes& bytes) {
    const std::string path = test::scratch_path(name);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
}

// The pixels of a PNG file as 8-bit grey, decoded by ffmpeg.
std::string grey_pixels(const std::string& png) {
    auto r = run_program("ffmpeg -nostdin -v error -i '" + png + "' -f rawvideo -pix_fmt gray -");
    EXPECT_EQ(r.exit_code, 0) << r.err;
    return r.out;
}

TEST(PdbToolInfo, PrintsTheHeaderAndOneLinePerRecord) {
    Bytes file = database(three_records());
    set32(file, 40, 0xAE44D107);  // modified one second after creation
    const Bytes named = database_header(3, "a\tb\\c");  // unprintable name bytes are escaped
    std::copy(named.begin(), named.begin() + 32, file.begin());
    const std::string path = write_file("three.pdb", file);
    auto r = run_program(tool + " info " + path);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out,
              "name:      a\\x09b\\\\c\n"
              "type:      Zebv\n"
              "creator:   Kwop\n"
              "created:   0xAE44D106  1996-08-24 15:32:22\n"
              "modified:  0xAE44D107  1996-08-24 15:32:23\n"
              "backed up: 0x00000000  1904-01-01 00:00:00\n"
              "records:   3\n"
              "record 0: offset 102, attributes 0x40, unique ID 0xA48000, width 8, height 1, data length 2\n"
              "record 1: offset 116, attributes 0x40, unique ID 0xA48001, width 4, height 2, data length 5\n"
              "record 2: offset 133, attributes 0x40, unique ID 0xA48002, width 9, height 1, data length 5\n");
}

TEST(PdbToolInfo, UnreadableFilesAndUsageErrors) {
    const std::string missing = test::scratch_path("missing.pdb");
    auto r = run_program(tool + " info " + missing);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, "vintrel-pdb: cannot open " + missing + ": No such file or directory\n");

    const std::string folder = test::scratch_path("folder.pdb");
    std::filesystem::create_directory(folder);
    r = run_program(tool + " info " + folder);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, "vintrel-pdb: cannot read " + folder + ": Is a directory\n");

    for (const char* arguments : {"", " info", " info a b", " export a", " export a b c", " show a.pdb", " a.pdb"}) {
        r = run_program(tool + arguments);
        EXPECT_EQ(r.exit_code, 2) << arguments;
        EXPECT_NE(r.err.find("usage: vintrel-pdb info FILE.pdb"), std::string::npos) << arguments;
    }
    r = run_program(tool + " --help");
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_NE(r.out.find("usage:"), std::string::npos);
}

// Record 0, 6x2: row 0 holds 1B E0 (codes 00 01 10 11 | 11 10), row 1 E4 50 (11 10 01 00 | 01 01).
// Record 1, 1x1: one black pixel, C0 00.
std::vector<TestRecord> picture_records() {
    return {TestRecord{6, 2, {0x02, 0x1B, 0xE0, 0x02, 0xE4, 0x50}}, TestRecord{1, 1, {0x02, 0xC0, 0x00}}};
}

TEST(PdbToolExport, WritesOneGreyPngPerFrame) {
    const std::string path = write_file("pictures.pdb", database(picture_records()));
    const std::string folder = test::scratch_path("frames") + "/nested";  // created with its parent
    auto r = run_program(tool + " export " + path + " " + folder);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, "wrote 2 frames to " + folder + "\n");

    // Each an 8-bit greyscale picture of the record's size (IHDR: width, height, depth 8, type 0).
    const std::string frames[] = {folder + "/frame-00000.png", folder + "/frame-00001.png"};
    EXPECT_EQ(test::read_file(frames[0]).substr(12, 14), std::string("IHDR\0\0\0\x06\0\0\0\x02\x08\0", 14));
    EXPECT_EQ(test::read_file(frames[1]).substr(12, 14), std::string("IHDR\0\0\0\x01\0\0\0\x01\x08\0", 14));
    EXPECT_EQ(grey_pixels(frames[0]), std::string("\xFF\xAA\x55\x00\x00\x55\x00\x55\xAA\xFF\xAA\xAA", 12));
    EXPECT_EQ(grey_pixels(frames[1]), std::string(1, '\0'));
    EXPECT_FALSE(std::filesystem::exists(folder + "/frame-00002.png"));
}

TEST(PdbToolExport, ADamagedFileIsNamedWithItsFaultAndWritesNothing) {
    // Frame 0 is sound; frame 1 (at byte 112, data from 124) carries one byte too many.
    std::vector<TestRecord> records = picture_records();
    records[1].data.push_back(0x00);
    const std::string path = write_file("leftover.pdb", database(records));
    const std::string folder = test::scratch_path("not_written");
    for (const std::string& command : {" info " + path, " export " + path + " " + folder}) {
        auto r = run_program(tool + command);
        EXPECT_EQ(r.exit_code, 1) << command;
        EXPECT_EQ(r.out, "") << command;
        EXPECT_EQ(r.err, path + ": record 1 at byte 112: 1 byte of data left over after the last row, from byte 127\n");
    }
    EXPECT_FALSE(std::filesystem::exists(folder));
}

TEST(PdbToolExport, WriteFailuresNameTheFileAndTheReason) {
    const std::string path = write_file("pictures2.pdb", database(picture_records()));

    // The folder cannot be made: its parent is a plain file.
    const std::string plain = write_file("plain_file", Bytes{1});
    auto r = run_program(tool + " export " + path + " " + plain + "/frames");
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find(plain + "/frames"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Not a directory"), std::string::npos) << r.err;

    // A frame file cannot be written: a folder stands in its place.
    const std::string folder = test::scratch_path("blocked");
    std::filesystem::create_directories(folder + "/frame-00001.png");
    r = run_program(tool + " export " + path + " " + folder);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, "vintrel-pdb: cannot write " + folder + "/frame-00001.png: Is a directory\n");
    EXPECT_TRUE(std::filesystem::exists(folder + "/frame-00000.png"));
    std::filesystem::remove_all(folder);

    // The file opens but its bytes cannot be stored: a full device.
    if (std::filesystem::exists("/dev/full")) {
        std::filesystem::create_directories(folder);
        std::filesystem::create_symlink("/dev/full", folder + "/frame-00000.png");
        r = run_program(tool + " export " + path + " " + folder);
        EXPECT_EQ(r.exit_code, 1);
        EXPECT_EQ(r.err, "vintrel-pdb: cannot write " + folder + "/frame-00000.png: No space left on device\n");
    }
}

}  // namespace
}  // namespace vintrel
