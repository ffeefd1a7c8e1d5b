// The handheld database layout, byte by byte.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "convert/database_writer.h"

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

Bytes slice(const Bytes& b, std::size_t from, std::size_t n) {
    return Bytes(b.begin() + static_cast<std::ptrdiff_t>(from), b.begin() + static_cast<std::ptrdiff_t>(from + n));
}

TEST(HandheldDatabase, EmptyDatabaseIsTheHeaderAlone) {
    const Bytes b = written("walk.mov", {});
    ASSERT_EQ(b.size(), 78u);
    EXPECT_EQ(std::string(b.begin(), b.begin() + 8), "walk.mov");
    EXPECT_EQ(b[8], 0);
    EXPECT_EQ(slice(b, 32, 4), (Bytes{0, 0, 0, 0}));                 // attributes, version
    EXPECT_EQ(slice(b, 36, 8), (Bytes{0xAE, 0x44, 0xD1, 0x06, 0xAE, 0x44, 0xD1, 0x06}));
    EXPECT_EQ(slice(b, 44, 16), Bytes(16, 0));                       // backup, modnum, app/sort info
    EXPECT_EQ(std::string(b.begin() + 60, b.begin() + 68), "ZebvKwop");
    EXPECT_EQ(slice(b, 68, 10), Bytes(10, 0));                       // seed, next list, count
}

TEST(HandheldDatabase, OneRecordFollowsItsListEntry) {
    const Bytes b = written("a", records_with_lengths({100}));
    ASSERT_EQ(b.size(), 198u);
    EXPECT_EQ(slice(b, 74, 4), (Bytes{0, 0, 0, 1}));
    EXPECT_EQ(slice(b, 78, 8), (Bytes{0x00, 0x00, 0x00, 0x56, 0x40, 0xA4, 0x80, 0x00}));
    EXPECT_EQ(slice(b, 86, 12), (Bytes{0, 0, 0, 0xA0, 0, 0, 0, 0x78, 0, 0, 0, 100}));
    EXPECT_EQ(b[98], 0x5A);
    EXPECT_EQ(b[197], 0x5A);
}

TEST(HandheldDatabase, RecordOffsetsAddUpAndUniqueIdsCount) {
    const Bytes b = written("a", records_with_lengths({10, 20, 30}));
    ASSERT_EQ(b.size(), 78u + 24u + 36u + 60u);
    EXPECT_EQ(slice(b, 78, 8), (Bytes{0, 0, 0, 102, 0x40, 0xA4, 0x80, 0}));
    EXPECT_EQ(slice(b, 86, 8), (Bytes{0, 0, 0, 124, 0x40, 0xA4, 0x80, 1}));
    EXPECT_EQ(slice(b, 94, 8), (Bytes{0, 0, 0, 156, 0x40, 0xA4, 0x80, 2}));
}

TEST(HandheldDatabase, UniqueIdsWrapAfter256Records) {
    const Bytes b = written("a", records_with_lengths(std::vector<std::size_t>(300, 1)));
    EXPECT_EQ(slice(b, 74, 4), (Bytes{0, 0, 0x01, 0x2C}));
    EXPECT_EQ(slice(b, 78 + 8 * 256 + 4, 4), (Bytes{0x40, 0xA4, 0x80, 0x00}));
    EXPECT_EQ(slice(b, 78 + 8 * 299 + 4, 4), (Bytes{0x40, 0xA4, 0x80, 43}));
}

TEST(HandheldDatabase, LongTitlesKeepTheirFirst31Characters) {
    const std::string title(40, 'x');
    const Bytes b = written(title, {});
    EXPECT_EQ(std::string(b.begin(), b.begin() + 31), std::string(31, 'x'));
    EXPECT_EQ(b[31], 0);
}

TEST(HandheldDatabase, StopRequestEndsWritingBetweenRecords) {
    const RecordArray records = records_with_lengths({10, 10, 10});
    int calls = 0;
    std::FILE* f = std::tmpfile();
    // Three list entries, then the first record; the stop arrives before the second record.
    EXPECT_EQ(write_database(f, "a", records, [&] { return ++calls <= 4; }), DatabaseResult::stopped);
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
