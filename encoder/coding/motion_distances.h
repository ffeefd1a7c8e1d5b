// Distances between a 16-sample-wide block of the current picture and a half-pel prediction.
//
// p is the prediction's first full-pel sample, blk the current block; both have lines lx apart.
// The half-pel flags (hx, hy) select the prediction sample of column c of a row:
//   (0, 0) p[c]                      (1, 0) (p[c] + p[c + 1] + 1) >> 1
//   (0, 1) (p[c] + p[c + lx] + 1) >> 1
//   (1, 1) (p[c] + p[c + 1] + p[c + lx] + p[c + lx + 1] + 2) >> 2
// The bidirectional distances average a forward and a backward prediction: (f + b + 1) >> 1.
#pragma once

#include <cstdint>

namespace vintrel {

// The prediction sample of column c of the row starting at p, by the formulas above.
inline int half_pel_sample(const std::uint8_t* p, int c, int lx, int hx, int hy) {
    if (!hx && !hy) return p[c];
    if (!hy) return (p[c] + p[c + 1] + 1) >> 1;
    if (!hx) return (p[c] + p[c + lx] + 1) >> 1;
    return (p[c] + p[c + 1] + p[c + lx] + p[c + lx + 1] + 2) >> 2;
}

// Where one half-pel prediction starts: its first full-pel sample and its half-pel flags.
struct HalfPel {
    const std::uint8_t* p;
    int hx, hy;
};

// Sum of absolute differences over h rows. At full-pel positions (0, 0) it stops after the
// first row at which the running sum reaches `limit` and returns that partial sum.
int sad_distance(const std::uint8_t* p, const std::uint8_t* blk, int lx, int hx, int hy, int h, int limit);

// Sum of squared differences over h rows.
int sse_distance(const std::uint8_t* p, const std::uint8_t* blk, int lx, int hx, int hy, int h);

int bidir_sad_distance(HalfPel forward, HalfPel backward, const std::uint8_t* blk, int lx, int h);
int bidir_sse_distance(HalfPel forward, HalfPel backward, const std::uint8_t* blk, int lx, int h);

// The same distances, one sample at a time: the reference the vector kernels are checked against.
namespace plain {
int sad_distance(const std::uint8_t* p, const std::uint8_t* blk, int lx, int hx, int hy, int h, int limit);
int sse_distance(const std::uint8_t* p, const std::uint8_t* blk, int lx, int hx, int hy, int h);
int bidir_sad_distance(HalfPel forward, HalfPel backward, const std::uint8_t* blk, int lx, int h);
int bidir_sse_distance(HalfPel forward, HalfPel backward, const std::uint8_t* blk, int lx, int h);
}  // namespace plain

}  // namespace vintrel
