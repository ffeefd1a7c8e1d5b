// vintrel-pdb as a user runs it: info output, damaged and missing files, PNG export, exit codes.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "tests/pdb_file_for_test.h"
#include "tests/run_program_for_test.h"
#include "tests/scratch_directory_for_test.h"

namespace vintrel {
namespace {

using test::Bytes;
using test::run_program;
using test::TestRecord;

const std::string tool = VINTREL_PDB_PATH;

// A fresh path in the test's scratch folder.
std::string temp_path(const std::string& name) {
    const std::string path = test::scratch_path(name);
    std::filesystem::remove_all(path);
    return path;
}

std::string write_file(const std::string& name, const Bytes& bytes) {
    const std::string path = temp_path(name);
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
}

// The pixels of a PNG file as 8-bit grey, decoded by ffmpeg.
std::string grey_pixels(const std::string& png) {
    auto r = run_program("ffmpeg -nostdin -v error -i '" + png + "' -f rawvideo -pix_fmt gray -");
    EXPECT_EQ(r.exit_code, 0) << r.err;
    return r.out;
}

std::uint32_t be32_at(const std::string& bytes, std::size_t at) {
    return (std::uint32_t{static_cast<unsigned char>(bytes[at])} << 24) |
           (std::uint32_t{static_cast<unsigned char>(bytes[at + 1])} << 16) |
           (std::uint32_t{static_cast<unsigned char>(bytes[at + 2])} << 8) |
           std::uint32_t{static_cast<unsigned char>(bytes[at + 3])};
}

TEST(PdbToolInfo, PrintsTheHeaderAndOneLinePerRecord) {
    Bytes file = test::database(test::three_records());
    test::set32(file, 40, 0xAE44D107);  // modified one second after creation
    const std::string path = write_file("three.pdb", file);
    auto r = run_program(tool + " info " + path);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out,
              "name:      walk.mov\n"
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

TEST(PdbToolInfo, UnprintableNameBytesAreEscaped) {
    const std::string path = write_file("tab.pdb", test::database_header(0, "a\tb\\c"));
    auto r = run_program(tool + " info " + path);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, r.out.find('\n') + 1), "name:      a\\x09b\\\\c\n");
    EXPECT_NE(r.out.find("records:   0\n"), std::string::npos) << r.out;
}

TEST(PdbToolInfo, DamagedAndIncompleteFilesNameTheFaultAndItsOffset) {
    // Row 1 of a 2-byte-wide record ends with a 2-byte literal where one byte is left; a stopped
    // conversion left the first of three records.
    const Bytes whole = test::database(test::three_records());
    const std::pair<std::string, std::string> cases[] = {
        {write_file("span.pdb", test::database({TestRecord{8, 2, {0x82, 0x00, 0x01, 0x05, 0x02, 0x06, 0x07}}})),
         ": record 0 at byte 86: packet at byte 102 runs past the end of row 1: it expands to 2 bytes where 1 of the "
         "row's 2 remain\n"},
        {write_file("stopped.pdb", Bytes(whole.begin(), whole.begin() + 116)),
         ": incomplete database: the header lists 3 records, but the file holds only 1 of them; it ends at byte 116, "
         "where record 1 would start\n"},
    };
    for (const auto& [path, message] : cases) {
        auto r = run_program(tool + " info " + path);
        EXPECT_EQ(r.exit_code, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, path + message);
    }
}

TEST(PdbToolInfo, UnreadableFilesAndUsageErrors) {
    const std::string missing = temp_path("missing.pdb");
    auto r = run_program(tool + " info " + missing);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, "vintrel-pdb: cannot open " + missing + ": No such file or directory\n");

    const std::string folder = temp_path("folder.pdb");
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
    const std::string path = write_file("pictures.pdb", test::database(picture_records()));
    const std::string parent = temp_path("frames");
    const std::string folder = parent + "/nested";  // created with its parent
    auto r = run_program(tool + " export " + path + " " + folder);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, "wrote 2 frames to " + folder + "\n");

    const std::string first = test::read_file(folder + "/frame-00000.png");
    ASSERT_GT(first.size(), 33u);
    EXPECT_EQ(first.substr(12, 4), "IHDR");
    EXPECT_EQ(be32_at(first, 16), 6u);  // width
    EXPECT_EQ(be32_at(first, 20), 2u);  // height
    EXPECT_EQ(first[24], 8);            // bit depth
    EXPECT_EQ(first[25], 0);            // greyscale
    EXPECT_EQ(grey_pixels(folder + "/frame-00000.png"),
              std::string("\xFF\xAA\x55\x00\x00\x55"
                          "\x00\x55\xAA\xFF\xAA\xAA",
                          12));

    const std::string second = test::read_file(folder + "/frame-00001.png");
    ASSERT_GT(second.size(), 33u);
    EXPECT_EQ(be32_at(second, 16), 1u);
    EXPECT_EQ(be32_at(second, 20), 1u);
    EXPECT_EQ(grey_pixels(folder + "/frame-00001.png"), std::string(1, '\0'));

    EXPECT_FALSE(std::filesystem::exists(folder + "/frame-00002.png"));
}

TEST(PdbToolExport, DamagedFileWritesNothing) {
    // Frame 0 is sound; frame 1 (at byte 112, data from 124) carries one byte too many.
    std::vector<TestRecord> records = picture_records();
    records[1].data.push_back(0x00);
    const std::string path = write_file("leftover.pdb", test::database(records));
    const std::string folder = temp_path("not_written");
    auto r = run_program(tool + " export " + path + " " + folder);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, path + ": record 1 at byte 112: 1 byte of data left over after the last row, from byte 127\n");
    EXPECT_FALSE(std::filesystem::exists(folder));
}

TEST(PdbToolExport, WriteFailuresNameTheFileAndTheReason) {
    const std::string path = write_file("pictures2.pdb", test::database(picture_records()));

    // The folder cannot be made: its parent is a plain file.
    const std::string plain = write_file("plain_file", Bytes{1});
    auto r = run_program(tool + " export " + path + " " + plain + "/frames");
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find(plain + "/frames"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Not a directory"), std::string::npos) << r.err;

    // A frame file cannot be written: a folder stands in its place.
    const std::string folder = temp_path("blocked");
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
