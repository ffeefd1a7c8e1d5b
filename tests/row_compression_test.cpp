// Row compression: the documented examples and the packet limits; round trips of arbitrary rows
// are the row compression fuzz target's.
#include <gtest/gtest.h>

#include <vector>

#include "convert/pdb/row_compression.h"

namespace vintrel {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes compressed(const Bytes& row) {
    Bytes out;
    compress_row(row.data(), row.size(), out);
    return out;
}

// Expands packets back into bytes, failing on any control byte the format does not allow.
Bytes expand(const Bytes& packets) {
    Bytes out;
    for (std::size_t i = 0; i < packets.size();) {
        const int control = packets[i++];
        EXPECT_NE(control, 0x00);
        EXPECT_NE(control, 0x80);
        EXPECT_NE(control, 0x81);
        if (control < 0x80) {
            EXPECT_LE(i + static_cast<std::size_t>(control), packets.size());
            for (int k = 0; k < control && i < packets.size(); k++) out.push_back(packets[i++]);
        } else {
            EXPECT_LT(i, packets.size());
            if (i < packets.size()) out.insert(out.end(), static_cast<std::size_t>(control - 0x80), packets[i++]);
        }
    }
    return out;
}

TEST(RowCompression, DocumentedExamples) {
    EXPECT_EQ(compressed({0x01, 0x02, 0x03}), (Bytes{0x03, 0x01, 0x02, 0x03}));
    EXPECT_EQ(compressed(Bytes(10, 0x05)), (Bytes{0x8A, 0x05}));
    EXPECT_EQ(compressed({0x01, 0x02, 0x02, 0x03}), (Bytes{0x01, 0x01, 0x82, 0x02, 0x01, 0x03}));
    EXPECT_EQ(compressed({0x01, 0x01, 0x02, 0x03, 0x03, 0x03, 0x04}),
              (Bytes{0x82, 0x01, 0x01, 0x02, 0x83, 0x03, 0x01, 0x04}));
}

TEST(RowCompression, WhiteRowsAndRowsWithoutEqualNeighbours) {
    EXPECT_EQ(compressed(Bytes(40, 0x00)), (Bytes{0xA8, 0x00}));
    Bytes alternating;
    for (int i = 0; i < 40; i++) alternating.push_back(i % 2 ? 0x55 : 0xAA);
    const Bytes packets = compressed(alternating);
    ASSERT_EQ(packets.size(), 41u);
    EXPECT_EQ(packets[0], 40);
}

TEST(RowCompression, EqualNeighboursStartARepeatPacketEvenInsideLiterals) {
    // Pairs alternating with single bytes: the worst case of 4R/3 bytes.
    const Bytes row = {0x11, 0x22, 0x22, 0x33, 0x44, 0x44};
    EXPECT_EQ(compressed(row), (Bytes{0x01, 0x11, 0x82, 0x22, 0x01, 0x33, 0x82, 0x44}));
}

TEST(RowCompression, LongRowsSplitTheirPacketsAt127) {
    EXPECT_EQ(compressed(Bytes(300, 0xFF)), (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0xAE, 0xFF}));
    Bytes literal;
    for (int i = 0; i < 200; i++) literal.push_back(static_cast<std::uint8_t>(i));
    const Bytes packets = compressed(literal);
    ASSERT_EQ(packets.size(), 202u);
    EXPECT_EQ(packets[0], 127);
    EXPECT_EQ(packets[128], 73);
    EXPECT_EQ(expand(packets), literal);
}

TEST(RowCompression, NothingCarriesOverBetweenRows) {
    Bytes out;
    const Bytes first = {0x01, 0x02, 0x07}, second = {0x07, 0x09};
    compress_row(first.data(), first.size(), out);
    compress_row(second.data(), second.size(), out);
    EXPECT_EQ(out, (Bytes{0x03, 0x01, 0x02, 0x07, 0x02, 0x07, 0x09}));
}

}  // namespace
}  // namespace vintrel
