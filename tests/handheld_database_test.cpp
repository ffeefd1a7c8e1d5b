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
#include <numeric>
#include <string>
#include <vector>

#include "convert/pdb/reader.h"
#include "convert/pdb/row_compression.h"
#include "convert/pdb/writer.h"
#include "tests/run_program_for_test.h"
#include "tests/scratch_directory_for_test.h"

namespace vintrel {
namespace {

using pdb::read_database;
using test::run_program;

// ---- Files built byte by byte ----

using Bytes = std::vector<std::uint8_t>;

Bytes& operator+=(Bytes& bytes, const Bytes& more) {
    bytes.insert(bytes.end(), more.begin(), more.end());
    return bytes;
}
Bytes operator+(Bytes bytes, const Bytes& more) {
    bytes += more;
    return bytes;
}
Bytes be32(std::uint32_t value) {
    return {static_cast<std::uint8_t>(value >> 24), static_cast<std::uint8_t>(value >> 16),
            static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
}

// The 78-byte database header as our converter writes it, for `count` records: the name in 32
// bytes, zero attributes and version, created and modified 0xAE44D106, zero backup date,
// modification number and info offsets, type and creator, a zero seed and the 32-bit count.
Bytes database_header(std::uint32_t count, std::string name = "walk.mov") {
    name.resize(32, '\0');
    return Bytes(name.begin(), name.end()) + Bytes(4, 0) + be32(0xAE44D106) + be32(0xAE44D106) + Bytes(16, 0) +
           Bytes{'Z', 'e', 'b', 'v', 'K', 'w', 'o', 'p'} + Bytes(6, 0) + be32(count);
}

struct TestRecord {
    std::uint32_t width, height;
    Bytes data;  // the compressed rows
};

// A whole database: header, a consistent record list (entries of offset, attributes 0x40 and
// unique ID A4 80 (index mod 256)), the records back to back.
Bytes database(const std::vector<TestRecord>& records) {
    const auto count = static_cast<std::uint32_t>(records.size());
    Bytes list, data;
    for (std::uint32_t i = 0; i < count; i++) {
        list += be32(78 + 8 * count + static_cast<std::uint32_t>(data.size())) +
                Bytes{0x40, 0xA4, 0x80, static_cast<std::uint8_t>(i)};
        const TestRecord& r = records[i];
        data += be32(r.width) + be32(r.height) + be32(static_cast<std::uint32_t>(r.data.size())) + r.data;
    }
    return database_header(count) + list + data;
}
Bytes one_record(std::uint32_t width, std::uint32_t height, Bytes data) {
    return database({TestRecord{width, height, std::move(data)}});
}

// `file` with the bytes at `at` replaced by `bytes`.
Bytes with(Bytes file, std::size_t at, const Bytes& bytes) {
    std::copy(bytes.begin(), bytes.end(), file.begin() + static_cast<std::ptrdiff_t>(at));
    return file;
}
Bytes prefix(const Bytes& file, std::size_t length) {
    return Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(length));
}

// Three small records: at 102 (8x1, 2 data bytes), 116 (4x2, 5 bytes) and 133 (9x1, 5 bytes);
// the file is 150 bytes long.
std::vector<TestRecord> three_records() {
    return {{8, 1, {0x82, 0x00}}, {4, 2, {0x02, 0x1B, 0xE4, 0x82, 0xFF}}, {9, 1, {0x04, 0x01, 0x02, 0x03, 0x04}}};
}

TEST(HandheldRows, CompressToTheDocumentedPacketsAndExpandBack) {
    Bytes ramp(200);
    std::iota(ramp.begin(), ramp.end(), 0);
    const std::vector<std::pair<Bytes, Bytes>> rows = {
        {{0x01, 0x02, 0x03}, {0x03, 0x01, 0x02, 0x03}},
        {Bytes(10, 0x05), {0x8A, 0x05}},
        {{0x01, 0x01, 0x02, 0x03, 0x03, 0x03, 0x04}, {0x82, 0x01, 0x01, 0x02, 0x83, 0x03, 0x01, 0x04}},
        // Equal neighbours start a repeat even inside literals: the worst case of 4R/3 bytes.
        {{0x11, 0x22, 0x22, 0x33, 0x44, 0x44}, {0x01, 0x11, 0x82, 0x22, 0x01, 0x33, 0x82, 0x44}},
        // Packets split at 127.
        {Bytes(300, 0xFF), {0xFF, 0xFF, 0xFF, 0xFF, 0xAE, 0xFF}},
        {ramp, Bytes{127} + prefix(ramp, 127) + Bytes{73} + Bytes(ramp.begin() + 127, ramp.end())},
    };
    for (const auto& [row, packets] : rows) {
        Bytes compressed, expanded;
        compress_row(row.data(), row.size(), compressed);
        EXPECT_EQ(compressed, packets) << row.size() << " bytes";
        const pdb::PdbFault fault = pdb::expand_packets(packets, row.size(), 1, 0, expanded);
        EXPECT_FALSE(fault.failed()) << fault.detail;
        EXPECT_EQ(expanded, row);
    }
    // Errors name the data's place in the file; huge row counts with little data are refused
    // without allocating.
    Bytes expanded;
    EXPECT_EQ(pdb::expand_packets(Bytes{0x84, 0x07}, 2, 2, 500, expanded).detail,
              "packet at byte 500 runs past the end of row 0: it expands to 4 bytes where 2 of the row's 2 remain");
    EXPECT_TRUE(pdb::expand_packets(Bytes{0x82, 0x00}, 1 << 20, std::size_t{1} << 40, 0, expanded).failed());
    EXPECT_TRUE(expanded.empty());
}

TEST(HandheldDatabase, DatesReadAsSecondsSince1904) {
    EXPECT_EQ(pdb::format_date(0xAE44D106), "1996-08-24 15:32:22");
    EXPECT_EQ(pdb::format_date(59 * 86400), "1904-02-29 00:00:00");  // 1904 is a leap year
    // 1904-01-01 to 2000-01-01: 96 years with 24 leap days = 35064 days; + 31 + 28 days.
    EXPECT_EQ(pdb::format_date((35064 + 59) * 86400u), "2000-02-29 00:00:00");
    EXPECT_EQ(pdb::format_date((35064 + 59) * 86400u - 1), "2000-02-28 23:59:59");
    EXPECT_EQ(pdb::format_date(0xFFFFFFFF), "2040-02-06 06:28:15");
}

// The writer's records for `records`; with `claimed` set, each claims that many bytes of data
// without holding them.
RecordArray frame_records(const std::vector<TestRecord>& records, std::uint32_t claimed = 0) {
    RecordArray frames;
    for (const TestRecord& r : records) {
        frames.push_back(std::make_unique<FrameRecord>(r.width, r.height));
        frames.back()->data = r.data;
        frames.back()->finish();
        if (claimed) write_big_endian_32(&frames.back()->header[pdb::record_data_length_at], claimed);
    }
    return frames;
}

// What write_database returns and writes to `f` (a temporary file unless given), going on while
// `go_on(bytes written so far)`.
std::pair<DatabaseFailure, Bytes> written(const std::string& title, const RecordArray& records,
                                         std::function<bool(long)> go_on = [](long) { return true; },
                                         std::FILE* f = std::tmpfile()) {
    const DatabaseFailure result = write_database(f, title, records, [&] { return go_on(std::ftell(f)); }).kind;
    Bytes bytes(static_cast<std::size_t>(std::max(0L, std::ftell(f))));
    std::rewind(f);
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), f));
    std::fclose(f);
    return {result, bytes};
}

// The writer's files are the ones built by hand above, and the reader takes them whole.
TEST(HandheldDatabase, TheWriterWritesTheFilesBuiltByHandAndTheReaderReadsThem) {
    // Unique IDs wrap after 256 records.
    const std::vector<TestRecord> many(300, TestRecord{8, 1, {0x82, 0x00}});
    for (const auto& records : {std::vector<TestRecord>{}, three_records(), many}) {
        const auto [result, file] = written("walk.mov", frame_records(records));
        EXPECT_EQ(std::pair(result, file), std::pair(DatabaseFailure::none, database(records))) << records.size();
        EXPECT_TRUE(read_database(file).ok()) << records.size();
    }
    // The title (a file name in UTF-8) is named in Windows-1252, one byte a character: ASCII as it
    // is, Latin-1 letters and the 27 characters at 0x80..0x9F their byte, other Latin letters a
    // close ASCII letter, anything else "?". Bytes that start no UTF-8 sequence are Windows-1252
    // already, but for the five it leaves undefined. At most 31 bytes; a zero byte follows.
    const std::pair<std::string, std::string> names[] = {
        {"Walk\t~\x7F" + std::string(33, 'x'), "Walk\t~\x7F" + std::string(24, 'x')},
        {"\u00DCbung \u00E9.mp4", "\xDC" "bung \xE9.mp4"},
        {"\u20AC 5.mov", "\x80 5.mov"},
        {"\u0141\u00F3d\u017A.mov", "L\xF3" "dz.mov"},
        {"\u6771\u4EAC\U0001F3AC\u0080.mp4", "????.mp4"},  // CJK, an emoji, a C1 control character
        {"Caf\xE9.mov", "Caf\xE9.mov"},
        {"\x8D\x80\xC0.mov", "?\x80\xC0.mov"},
    };
    for (const auto& [title, name] : names)
        EXPECT_EQ(written(title, {}).second, database_header(0, name)) << title;
    std::string capitals;
    for (int k = 0; k < 40; k++) capitals += "\u00C4";
    EXPECT_EQ(written(capitals, {}).second, database_header(0, std::string(31, '\xC4')));
    // A stop after the first record: the list ends at byte 102, the record at 116.
    const auto [stopped, bytes] =
        written("walk.mov", frame_records(three_records()), [](long at) { return at <= 102; });
    EXPECT_EQ(stopped, DatabaseFailure::stopped);
    EXPECT_EQ(bytes, prefix(database(three_records()), 116));
}

TEST(HandheldDatabase, RecordsBeyondTheReachOfTheOffsetsAreRefusedBeforeAnythingIsWritten) {
    // Two records claiming 2 GiB of data each: the second would start past byte 2^32 - 1, where a
    // 32-bit record offset wraps round. The claimed data is never read.
    const std::vector<TestRecord> empty(2, TestRecord{160, 120, {}});
    EXPECT_EQ(written("a", frame_records(empty, 0x80000000u)), std::pair(DatabaseFailure::too_large, Bytes{}));

    // Up to the last byte that an offset can reach is still written: 78 + 8 header and list bytes,
    // 12 record header bytes, and data to byte 2^32 - 1 (checked without writing it, on a full disk,
    // which must be reported).
    std::FILE* full = std::fopen("/dev/full", "wb");
    if (!full) GTEST_SKIP() << "/dev/full is not available";
    std::setvbuf(full, nullptr, _IONBF, 0);
    const RecordArray fits = frame_records({empty[0]}, 0xFFFFFFFFu - 78 - 8 - 12 + 1);
    EXPECT_EQ(written("a", fits, [](long) { return true; }, full).first, DatabaseFailure::unwritable);
}

TEST(PdbReaderDamage, EveryFaultIsNamedWithItsOffset) {
    const Bytes three = database(three_records());  // records at 102, 116, 133; 150 bytes
    const Bytes header = database_header(0);
    const std::string r0 = "record 0 at byte 86: ";
    // 8192x4096 is exactly the pixel limit: each 2048-byte row is 16 runs of 127 and one of 16.
    Bytes row, rows;
    for (int k = 0; k < 16; k++) row += {0xFF, 0x00};
    row += {0x90, 0x00};
    for (int y = 0; y < 4096; y++) rows += row;
    // The file, where the error points, what it says.
    const std::vector<std::tuple<Bytes, std::size_t, std::string>> cases = {
        {{}, 0, "the file is empty; a database starts with a 78-byte header"},
        {prefix(header, 77), 77, "the file ends at byte 77, inside the 78-byte database header"},
        {with(header, 55, {0x50}), 52,
         "header at byte 52: application info offset 80, but a frame database has no application info block"},
        {with(header, 59, {0x50}), 56,
         "header at byte 56: sort info offset 80, but a frame database has no sort info block"},
        {with(header, 73, {1}), 72,
         "header at byte 72: bytes 72-73 hold 0x0001, but they are zero in a frame database (a further record list "
         "is not supported)"},
        {with(three, 74, be32(4)), 78,
         "record list entry 0 at byte 78: record offset 102 lies inside the header and record list, which for 4 "
         "records run to byte 110"},
        {with(three, 74, be32(1000)), 150,
         "incomplete database: the header lists 1000 records, but the file ends at byte 150 inside the record list, "
         "which runs to byte 8078 (9 of 1000 entries present, no records)"},
        {with(three, 86, be32(150)), 86,
         "record list entry 1 at byte 86: record offset 150 lies outside the file (150 bytes)"},
        {with(three, 94, be32(116)), 94,
         "record list entry 2 at byte 94: record offset 116 does not increase past record 1's offset 116"},
        {with(three, 86, be32(117)), 86,
         "record list entry 1 at byte 86: record offset 117, but record 0 ends at byte 116"},
        {with(three, 78, be32(103)), 78,
         "record list entry 0 at byte 78: record offset 103, but the first record starts right after the record "
         "list, at byte 102"},
        {three + Bytes{0}, 150, "1 unexpected byte after the end of the last record, from byte 150"},
        {header + Bytes{1, 2, 3}, 78,
         "3 unexpected bytes after the header of a database without records, from byte 78"},
        {with(one_record(8, 1, {0x82, 0x00}), 94, be32(3)), 100,
         "incomplete database: the header lists 1 record, but the file holds only 0 of them whole; it ends at byte "
         "100 inside record 0, which would run to byte 101"},
        {prefix(one_record(8, 1, {0x82, 0x00}), 93), 93,
         "incomplete database: the header lists 1 record, but the file holds only 0 of them whole; it ends at byte "
         "93 inside record 0's 12-byte header"},
        {prefix(three, 130), 130,
         "incomplete database: the header lists 3 records, but the file holds only 1 of them whole; it ends at byte "
         "130 inside record 1, which would run to byte 133"},
        {prefix(three, 116), 116,
         "incomplete database: the header lists 3 records, but the file holds only 1 of them; it ends at byte 116, "
         "where record 1 would start"},
        {prefix(three, 94), 94,
         "incomplete database: the header lists 3 records, but the file ends at byte 94 inside the record list, "
         "which runs to byte 102 (2 of 3 entries present, no records)"},
        {one_record(8, 2, {0x82, 0x00, 0x00, 0x00}), 100, r0 + "illegal control byte 0x00 at byte 100 in row 1"},
        {one_record(8, 2, {0x82, 0x00, 0x80, 0x00}), 100, r0 + "illegal control byte 0x80 at byte 100 in row 1"},
        {one_record(8, 2, {0x82, 0x00, 0x81, 0x00}), 100, r0 + "illegal control byte 0x81 at byte 100 in row 1"},
        {one_record(8, 2, {0x82, 0x00, 0x01, 0x05, 0x02, 0x06, 0x07}), 102,
         r0 + "packet at byte 102 runs past the end of row 1: it expands to 2 bytes where 1 of the row's 2 remain"},
        {one_record(8, 2, {0x82, 0x00}), 100, r0 + "the data ends at byte 100 after 1 of 2 rows"},
        {one_record(8, 1, {0x01, 0x00}), 100, r0 + "the data ends at byte 100 in row 0, after 1 of its 2 bytes"},
        {one_record(8, 1, {0x02, 0x00}), 98,
         r0 + "literal packet at byte 98 needs 2 bytes, but the data ends at byte 100 after 1 of them"},
        {one_record(8, 1, {0x82}), 98,
         r0 + "repeat packet at byte 98 lacks the byte to repeat: the data ends at byte 99"},
        {one_record(8, 1, {}), 98, r0 + "the data ends at byte 98 after 0 of 1 rows"},
        {one_record(8, 1, {0x82, 0x00, 0x82, 0x00}), 100,
         r0 + "2 bytes of data left over after the last row, from byte 100"},
        {one_record(0, 1, {}), 86, r0 + "frame size 0x1 has no pixels"},
        {one_record(4, 0, {}), 86, r0 + "frame size 4x0 has no pixels"},
        {one_record(65536, 1, {0x82, 0x00}), 86, r0 + "frame size 65536x1 exceeds the largest side of 65535 pixels"},
        {one_record(1, 0xFFFFFFFF, {}), 86, r0 + "frame size 1x4294967295 exceeds the largest side of 65535 pixels"},
        {one_record(65535, 65535, {}), 86, r0 + "frame size 65535x65535 exceeds the limit of 33554432 pixels"},
        {one_record(8192, 4097, rows + row), 86, r0 + "frame size 8192x4097 exceeds the limit of 33554432 pixels"},
    };
    for (const auto& [file, offset, message] : cases) {
        const pdb::ReadResult read = read_database(file);
        ASSERT_FALSE(read.ok()) << message;
        EXPECT_EQ(std::pair(read.fault.offset, read.fault.detail), std::pair(std::uint64_t(offset), message));
    }
    EXPECT_TRUE(read_database(one_record(8192, 4096, rows)).ok());
    // The records found sound before a stop are kept.
    pdb::ReadResult partial = read_database(prefix(three, 133));
    ASSERT_FALSE(partial.ok());
    EXPECT_EQ(partial.fault.kind, pdb::PdbFailure::incomplete);
    EXPECT_EQ(partial.database.records.size(), 2u);
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

TEST(PdbTool, InfoPrintsTheHeaderAndTheRecordsAndExportWritesAGreyPngOfEach) {
    // Modified one second after creation; the name is read in Windows-1252 (DC, 80 and 9F are Ü, €
    // and Ÿ), the bytes that are no printable character escaped.
    const Bytes named = with(database(three_records()), 0,
                             Bytes{'a', '\t', 'b', '\\', 'c', 0xDC, 0x80, 0x9F, 0x81, 0x7F, 0});
    const Bytes file = with(named, 40, be32(0xAE44D107));
    const std::string path = write_file("three.pdb", file);
    // A copy cut short inside record 1 lists and exports record 0, then says what is missing.
    const std::string cut = write_file("cut.pdb", prefix(file, 130));
    const std::string header =
        "name:      a\\x09b\\\\c\u00DC\u20AC\u0178\\x81\\x7F\n"
        "type:      Zebv\n"
        "creator:   Kwop\n"
        "created:   0xAE44D106  1996-08-24 15:32:22\n"
        "modified:  0xAE44D107  1996-08-24 15:32:23\n"
        "backed up: 0x00000000  1904-01-01 00:00:00\n"
        "records:   3\n"
        "record 0: offset 102, attributes 0x40, unique ID 0xA48000, width 8, height 1, data length 2\n";
    const std::string incomplete = cut + ": incomplete database: the header lists 3 records, but the file holds only "
                                         "1 of them whole; it ends at byte 130 inside record 1, which would run to "
                                         "byte 133\n";
    const std::string folder = test::scratch_path("frames") + "/nested";  // created with its parent
    const std::string cut_folder = test::scratch_path("cut_frames");
    const std::tuple<std::string, int, std::string, std::string> runs[] = {
        {"info " + path, 0,
         header +
             "record 1: offset 116, attributes 0x40, unique ID 0xA48001, width 4, height 2, data length 5\n"
             "record 2: offset 133, attributes 0x40, unique ID 0xA48002, width 9, height 1, data length 5\n",
         ""},
        {"info " + cut, 1, header, incomplete},
        {"export " + path + " " + folder, 0, "wrote 3 frames to " + folder + "\n", ""},
        {"export " + cut + " " + cut_folder, 1, "wrote 1 frame to " + cut_folder + "\n", incomplete},
    };
    for (const auto& [arguments, exit_code, out, err] : runs) {
        auto r = run_program(tool + " " + arguments);
        EXPECT_EQ(std::tuple(r.exit_code, r.out, r.err), std::tuple(exit_code, out, err)) << arguments;
    }
    // Each an 8-bit greyscale picture of the record's size (IHDR: width, height, depth 8, type 0),
    // whose pixels ffmpeg decodes: codes 00 white, 01 170, 10 85, 11 black. Record 0 is eight white
    // pixels; record 1's rows are 1B and FF; record 2's row is 01 02 03.
    const std::pair<std::string, std::string> frames[] = {
        {std::string("IHDR\0\0\0\x08\0\0\0\x01\x08\0", 14), std::string(8, '\xFF')},
        {std::string("IHDR\0\0\0\x04\0\0\0\x02\x08\0", 14), std::string("\xFF\xAA\x55\x00\x00\x00\x00\x00", 8)},
        {std::string("IHDR\0\0\0\x09\0\0\0\x01\x08\0", 14), "\xFF\xFF\xFF\xAA\xFF\xFF\xFF\x55\xFF"},
    };
    for (int k = 0; k < 3; k++) {
        const std::string png = folder + "/frame-0000" + std::to_string(k) + ".png";
        EXPECT_EQ(test::read_file(png).substr(12, 14), frames[k].first);
        auto pixels = run_program("ffmpeg -nostdin -v error -i '" + png + "' -f rawvideo -pix_fmt gray -");
        EXPECT_EQ(pixels.out, frames[k].second) << pixels.err;
    }
    EXPECT_FALSE(std::filesystem::exists(folder + "/frame-00003.png"));
    EXPECT_EQ(test::read_file(cut_folder + "/frame-00000.png"), test::read_file(folder + "/frame-00000.png"));
    EXPECT_FALSE(std::filesystem::exists(cut_folder + "/frame-00001.png"));
}

TEST(PdbTool, OtherArgumentsShowTheUsage) {
    for (const char* arguments : {"", " info", " info a b", " export a", " export a b c", " show a.pdb", " a.pdb"}) {
        auto r = run_program(tool + arguments);
        EXPECT_EQ(r.exit_code, 2) << arguments;
        EXPECT_NE(r.err.find("usage: vintrel-pdb info FILE.pdb"), std::string::npos) << arguments;
    }
    auto r = run_program(tool + " --help");
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_NE(r.out.find("usage:"), std::string::npos);
}

TEST(PdbTool, FailuresNameTheFileAndTheReasonAndWriteNothingFurther) {
    const std::string missing = test::scratch_path("missing.pdb"), folder = test::scratch_path("folder.pdb");
    std::filesystem::create_directory(folder);
    // Frames 0 and 1 are sound; frame 2 (at byte 133, data from 145) carries one byte too many.
    std::vector<TestRecord> records = three_records();
    records[2].data.push_back(0x00);
    const std::string damaged = write_file("leftover.pdb", database(records));
    const std::string sound = write_file("sound.pdb", database(three_records()));
    // Export folders where nothing may be written: below a plain file, with a folder in the place of
    // frame 1, with frame 1 on a full device.
    const std::string plain = write_file("plain_file", Bytes{1}), not_written = test::scratch_path("not_written");
    const std::string blocked = test::fresh_scratch_folder("blocked"), full = test::fresh_scratch_folder("full");
    std::filesystem::create_directory(blocked + "/frame-00001.png");
    std::filesystem::create_symlink("/dev/full", full + "/frame-00001.png");
    const std::string left_over =
        ": record 2 at byte 133: 1 byte of data left over after the last row, from byte 150\n";
    const std::string cannot_write = "vintrel-pdb: cannot write ", frame_1 = "/frame-00001.png: ";
    const std::pair<std::string, std::string> cases[] = {
        {"info " + missing, "vintrel-pdb: cannot open " + missing + ": No such file or directory\n"},
        {"info " + folder, "vintrel-pdb: cannot read " + folder + ": Is a directory\n"},
        {"info " + damaged, damaged + left_over},
        {"export " + damaged + " " + not_written, damaged + left_over},
        {"export " + sound + " " + plain + "/frames",
         "vintrel-pdb: cannot create directory " + plain + "/frames: Not a directory\n"},
        {"export " + sound + " " + blocked, cannot_write + blocked + frame_1 + "Is a directory\n"},
        {"export " + sound + " " + full, cannot_write + full + frame_1 + "No space left on device\n"},
    };
    for (const auto& [arguments, message] : cases) {
        auto r = run_program(tool + " " + arguments);
        EXPECT_EQ(std::tuple(r.exit_code, r.out, r.err), std::tuple(1, "", message)) << arguments;
    }
    EXPECT_FALSE(std::filesystem::exists(not_written));
    for (const std::string& written : {blocked, full})
        EXPECT_TRUE(std::filesystem::exists(written + "/frame-00000.png"));
}

}  // namespace
}  // namespace vintrel
