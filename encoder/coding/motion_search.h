// Motion vector searches. Positions are absolute half-pel coordinates (twice the sample position);
// in a field, vertical positions count field lines.
#pragma once

#include <cstdint>

#include "encoder/setup/geometry.h"
#include "encoder/setup/picture_header.h"

namespace vintrel {

struct SearchResult {
    int x = 0, y = 0;   // best half-pel position
    int distance = 0;   // its sum of absolute differences
};

// One reference field or frame: the source searched at full-pel positions and the
// reconstruction the half-pel refinement works on.
struct SearchReference {
    const std::uint8_t* source;
    const std::uint8_t* reconstruction;
};

// The block (16 wide, h rows, lines lx apart) at full-pel (i0, j0): spiral full-pel search of
// `org` within +-sx, +-sy and the picture of xmax x ymax samples, then half-pel refinement on `ref`.
SearchResult full_search(const std::uint8_t* org, const std::uint8_t* ref, const std::uint8_t* blk, int lx, int i0,
                         int j0, int sx, int sy, int h, int xmax, int ymax);

// Best frame vector and best field vectors of the frame macroblock at (i, j).
struct FrameSearch {
    SearchResult frame;
    SearchResult field[2][2];  // [reference field][predicted field], 0 top, 1 bottom
    int top_select = 0, bottom_select = 1;  // chosen reference field of the top and bottom field
    int field_distance = 0;                 // sum of the two chosen field distances
    const SearchResult& top() const { return field[top_select][0]; }
    const SearchResult& bottom() const { return field[bottom_select][1]; }
};
FrameSearch frame_search(const Geometry& geometry, SearchReference reference, const std::uint8_t* mb, int i, int j,
                         int sx, int sy);

// The two reference fields of a field picture; `top` and `bottom` start at the field's first line.
struct FieldReferences {
    SearchReference top, bottom;
    const SearchReference& field(int f) const { return f ? bottom : top; }
};

// Best 16x16 field vector and best 16x8 vectors of the field macroblock at (i, j), j in field lines.
struct FieldSearch {
    SearchResult whole, upper, lower;    // chosen predictions
    int whole_select = 0, upper_select = 0, lower_select = 0;
    SearchResult same_parity;            // 16x16 result against the field of the current parity
    int distance_16x8 = 0;               // upper + lower
};
// With skip_same_parity (the second field of an I frame) the field of the current parity is not
// searched: only the frame's first field is a valid reference.
FieldSearch field_search(const Geometry& geometry, PictureStructure structure, const FieldReferences& reference,
                         const std::uint8_t* mb, int i, int j, int sx, int sy, bool skip_same_parity);

// Dual prime in a frame picture: the same-parity field vector (field half-pels) with its
// differential, and its squared and absolute distances.
struct DualPrimeResult {
    int x = 0, y = 0;
    int dmv[2] = {};
    int squared = 0;
    int absolute = 0;
};
DualPrimeResult dual_prime_frame_search(const Geometry& geometry, bool top_field_first, const std::uint8_t* ref,
                                        const std::uint8_t* mb, int i, int jf, const FrameSearch& fields);
DualPrimeResult dual_prime_field_search(const Geometry& geometry, PictureStructure structure,
                                        const std::uint8_t* top_ref, const std::uint8_t* bottom_ref,
                                        const std::uint8_t* mb, int i, int j, const SearchResult& same_parity);

// Where a half-pel position of a plane with lines lx apart starts.
inline const std::uint8_t* at(const std::uint8_t* plane, int lx, int x, int y) {
    return plane + (x >> 1) + static_cast<std::ptrdiff_t>(lx) * (y >> 1);
}

}  // namespace vintrel
