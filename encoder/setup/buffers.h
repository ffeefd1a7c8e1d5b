// The picture buffers and the per-macroblock records of the picture being coded.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace vintrel {

// One flag of a macroblock_type. Its value is its bit in the index of the macroblock_type codes.
enum class MacroblockFlag : unsigned {
    intra = 1,
    pattern = 2,     // coded block pattern present
    backward = 4,    // backward motion compensation
    forward = 8,     // forward motion compensation
    quantiser = 16,  // quantiser scale present
};

// A macroblock_type: the set of its flags.
class MacroblockType {
public:
    constexpr MacroblockType() = default;
    constexpr MacroblockType(MacroblockFlag flag) : bits_(static_cast<unsigned>(flag)) {}  // the set of one flag

    constexpr bool has(MacroblockFlag flag) const { return (bits_ & static_cast<unsigned>(flag)) != 0; }
    constexpr MacroblockType& operator|=(MacroblockType other) {
        bits_ |= other.bits_;
        return *this;
    }
    friend constexpr MacroblockType operator|(MacroblockType a, MacroblockType b) { return a |= b; }
    friend constexpr MacroblockType operator&(MacroblockType a, MacroblockType b) {
        a.bits_ &= b.bits_;
        return a;
    }
    friend constexpr bool operator==(MacroblockType, MacroblockType) = default;

    // The index of the type's code in the macroblock_type code tables.
    constexpr unsigned code_index() const { return bits_; }

private:
    unsigned bits_ = 0;
};

constexpr MacroblockType operator|(MacroblockFlag a, MacroblockFlag b) { return MacroblockType(a) | b; }

// How a macroblock is motion compensated, by its syntax value: in frame pictures field, frame or
// dual prime prediction; in field pictures field (16x16), 16x8 or dual prime prediction.
enum class MotionType { field = 1, frame = 2, field_16x8 = 2, dual_prime = 3 };
constexpr int syntax_value(MotionType t) { return static_cast<int>(t); }

// Per-macroblock decisions of one coded picture, in raster order.
struct MacroblockInfo {
    MacroblockType macroblock_type;
    MotionType motion_type{};  // 0, no type, until motion estimation decides
    bool dct_type = false;     // field DCT (dct_type 1 in the stream) rather than frame DCT
    int mquant = 0;
    int coded_block_pattern = 0;
    bool skipped = false;
    int motion_vectors[2][2][2] = {};  // [first/second][forward/backward][horizontal/vertical]
    int field_select[2][2] = {};
    int dual_prime_vector[2] = {};
    double activity = 0.0;
    unsigned variance = 0;
};

// One 8x8 block of coefficients or prediction errors, raster order.
using Block = std::array<std::int16_t, 64>;

// Three 8-bit planes: luminance, Cb, Cr.
struct Picture {
    std::array<std::vector<std::uint8_t>, 3> plane;
    std::uint8_t* operator[](int c) { return plane[c].data(); }
    const std::uint8_t* operator[](int c) const { return plane[c].data(); }
};

struct Buffers {
    // Reconstructions of the two reference frames and of the B frame being coded.
    Picture new_ref_frame, old_ref_frame, aux_frame;
    // The source pictures of the two reference frames.
    Picture new_org_frame, old_org_frame;
    // The source pictures of the B frames between them (M - 1), which arrive before the later
    // reference and are coded after it.
    std::vector<Picture> b_org_frames;
    Picture pred_frame;

    std::vector<MacroblockInfo> macroblock_info;
    std::vector<Block> blocks;
};

}  // namespace vintrel
