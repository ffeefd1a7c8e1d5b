// The bit writer: bit order, alignment, counting, and what reaches the stream file.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <vector>

#include "encoder/coding/bit_writer.h"
#include "tests/bit_string_for_test.h"

namespace vintrel {
namespace {

using test::bit_string;

TEST(BitWriter, StartCodesAreWrittenWholeMostSignificantBitFirst) {
    BitWriter w;
    init_bit_writer(w);
    write_bits(w, 0x1B3, 32);
    EXPECT_EQ(w.buffer, (std::vector<std::uint8_t>{0x00, 0x00, 0x01, 0xB3}));
    EXPECT_EQ(bits_written(w), 32);
}

TEST(BitWriter, ZeroLengthWritesAndAlignedPaddingChangeNothing) {
    BitWriter w;
    init_bit_writer(w);
    write_bits(w, 0xFFFFFFFF, 0);
    write_bits(w, 1, -3);
    align_to_byte(w);
    EXPECT_EQ(bits_written(w), 0);
    EXPECT_TRUE(w.buffer.empty());

    write_bits(w, 0b101, 3);
    EXPECT_EQ(bits_written(w), 3);
    align_to_byte(w);
    EXPECT_EQ(bits_written(w), 8);
    EXPECT_EQ(w.buffer, std::vector<std::uint8_t>{0xA0});
    align_to_byte(w);
    EXPECT_EQ(bits_written(w), 8);
}

TEST(BitWriter, OnlyTheLowBitsOfTheValueAreWritten) {
    BitWriter w;
    init_bit_writer(w);
    write_bits(w, 0xFFFFFFF0u | 0x5u, 4);
    write_bits(w, 0xAu, 4);
    EXPECT_EQ(bit_string(w), "01011010");
}

// 100 000 random codes against a writer that appends one bit at a time.
TEST(BitWriter, RandomCodesMatchABitByBitReference) {
    std::mt19937 random(12345);
    BitWriter w;
    init_bit_writer(w);
    std::vector<bool> reference;
    for (int i = 0; i < 100000; i++) {
        int n = static_cast<int>(random() % 33);
        std::uint32_t value = static_cast<std::uint32_t>(random());
        write_bits(w, value, n);
        for (int b = n - 1; b >= 0; b--) reference.push_back((value >> b) & 1);
        if (random() % 97 == 0) {
            align_to_byte(w);
            while (reference.size() % 8 != 0) reference.push_back(false);
        }
    }
    ASSERT_EQ(bits_written(w), static_cast<std::int64_t>(reference.size()));
    std::string expected;
    for (bool bit : reference) expected += bit ? '1' : '0';
    EXPECT_EQ(bit_string(w), expected);
}

TEST(BitWriter, FlushedBytesReachTheFileInStreamOrder) {
    std::FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    BitWriter w;
    init_bit_writer(w, f);
    // More than one buffer's worth, so some bytes leave before the final flush.
    for (int i = 0; i < 200000; i++) write_bits(w, static_cast<std::uint32_t>(i & 0xFF), 8);
    write_bits(w, 0b11, 2);
    align_to_byte(w);
    ASSERT_TRUE(flush_bit_writer(w));
    ASSERT_EQ(std::fseek(f, 0, SEEK_SET), 0);
    std::vector<std::uint8_t> bytes(200002);
    ASSERT_EQ(std::fread(bytes.data(), 1, bytes.size(), f), 200001u);
    for (int i = 0; i < 200000; i++) ASSERT_EQ(bytes[static_cast<std::size_t>(i)], i & 0xFF) << i;
    EXPECT_EQ(bytes[200000], 0xC0);
    EXPECT_EQ(bits_written(w), 8 * 200001);
    std::fclose(f);
}

TEST(BitWriter, AFullDeviceIsReportedNotIgnored) {
    std::FILE* f = std::fopen("/dev/full", "wb");
    if (!f) GTEST_SKIP() << "/dev/full is not available";
    std::setvbuf(f, nullptr, _IONBF, 0);
    BitWriter w;
    init_bit_writer(w, f);
    write_bits(w, 0x1B3, 32);
    EXPECT_FALSE(flush_bit_writer(w));
    EXPECT_TRUE(w.write_failed);
    std::fclose(f);
}

}  // namespace
}  // namespace vintrel
