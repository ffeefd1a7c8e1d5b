// The picture buffers and the per-macroblock records of the picture being coded.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace vintrel {

// The flags of MacroblockInfo::macroblock_type.
inline constexpr int intra_flag = 1;
inline constexpr int pattern_flag = 2;       // coded block pattern present
inline constexpr int backward_flag = 4;      // backward motion compensation
inline constexpr int forward_flag = 8;       // forward motion compensation
inline constexpr int quantiser_flag = 16;    // quantiser scale present

// How a macroblock is motion compensated, by its syntax value: in frame pictures field, frame or
// dual prime prediction; in field pictures field (16x16), 16x8 or dual prime prediction.
enum class MotionType { field = 1, frame = 2, field_16x8 = 2, dual_prime = 3 };
constexpr int syntax_value(MotionType t) { return static_cast<int>(t); }

// Per-macroblock decisions of one coded picture, in raster order.
struct MacroblockInfo {
    int macroblock_type = 0;  // the flags above
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
