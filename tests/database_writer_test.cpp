// The handheld database layout, byte by byte.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "convert/pdb/writer.h"
#include "tests/pdb_file_for_test.h"

namespace vintrel {
namespace {

using Bytes = std::vector<std::uint8_t>;

RecordArray records_with_lengths(const std::vector<std::size_t>& lengths) {
    RecordArray records;
    for (std::size_t n : lengths) {
        auto r = std::make_unique<FrameRecord>(160, 120);
        r->data.assign(n, 0x5A);
        r->finish();
        records.push_back(std::move(r));
    }
    return records;
}

Bytes written(const std::string& title, const RecordArray& records, std::function<bool()> keep_going = [] {
    return true;
}) {
    std::FILE* f = std::tmpfile();
    EXPECT_NE(f, nullptr);
    EXPECT_EQ(write_database(f, title, records, keep_going), DatabaseResult::written);
    Bytes bytes(static_cast<std::size_t>(std::ftell(f)));
    std::rewind(f);
    EXPECT_EQ(std::fread(bytes.data(), 1, bytes.size(), f), bytes.size());
    std::fclose(f);
    return bytes;
}

// The writer's files are the ones the reader test builds by hand and checks byte by byte.
TEST(HandheldDatabase, WritesTheHeaderTheListAndTheRecords) {
    const auto records_of = [](const std::vector<std::size_t>& lengths) {
        std::vector<test::TestRecord> records;
        for (std::size_t n : lengths) records.push_back({160, 120, Bytes(n, 0x5A)});
        return records;
    };
    const std::vector<std::vector<std::size_t>> cases = {{}, {100}, {10, 20, 30}, std::vector<std::size_t>(300, 1)};
    for (const auto& lengths : cases) {
        // Unique IDs wrap after 256 records.
        EXPECT_EQ(written("walk.mov", records_with_lengths(lengths)), test::database(records_of(lengths)))
            << lengths.size() << " records";
    }
    // Long titles keep their first 31 characters.
    EXPECT_EQ(written(std::string(40, 'x'), {}), test::database_header(0, std::string(31, 'x')));
}

TEST(HandheldDatabase, StopRequestEndsWritingBetweenRecords) {
    const RecordArray records = records_with_lengths({10, 10, 10});
    std::FILE* f = std::tmpfile();
    // Goes on until the first record is written: the list ends at byte 102, the record at 124.
    EXPECT_EQ(write_database(f, "a", records, [&] { return std::ftell(f) <= 102; }), DatabaseResult::stopped);
    EXPECT_EQ(std::ftell(f), 78 + 24 + 22);
    std::fclose(f);
}

TEST(HandheldDatabase, AFullDiskIsReported) {
    std::FILE* f = std::fopen("/dev/full", "wb");
    if (!f) GTEST_SKIP() << "/dev/full is not available";
    std::setvbuf(f, nullptr, _IONBF, 0);
    EXPECT_EQ(write_database(f, "a", records_with_lengths({10}), [] { return true; }), DatabaseResult::write_failed);
    std::fclose(f);
}

TEST(HandheldDatabase, RecordsBeyondTheReachOfTheOffsetsAreRefusedBeforeAnythingIsWritten) {
    // Two records claiming 2 GiB of data each: the second would start past byte 2^32 - 1, where a
    // 32-bit record offset wraps round. The claimed data is never read.
    RecordArray records;
    for (int i = 0; i < 2; i++) {
        records.push_back(std::make_unique<FrameRecord>(160, 120));
        write_big_endian_32(records.back()->header.data() + 8, 0x80000000u);
    }
    std::FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(write_database(f, "a", records, [] { return true; }), DatabaseResult::too_large);
    EXPECT_EQ(std::ftell(f), 0);
    std::fclose(f);

    // Up to the last byte that an offset can reach is still written: 78 + 8 header and list bytes,
    // 12 record header bytes, and data to byte 2^32 - 1 (checked without writing it).
    RecordArray fits;
    fits.push_back(std::make_unique<FrameRecord>(160, 120));
    write_big_endian_32(fits.back()->header.data() + 8, 0xFFFFFFFFu - 78 - 8 - 12 + 1);
    std::FILE* full = std::fopen("/dev/full", "wb");
    if (!full) GTEST_SKIP() << "/dev/full is not available";
    std::setvbuf(full, nullptr, _IONBF, 0);
    EXPECT_EQ(write_database(full, "a", fits, [] { return true; }), DatabaseResult::write_failed);
    std::fclose(full);
}

}  // namespace
}  // namespace vintrel
