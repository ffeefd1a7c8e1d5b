// Dual prime: the opposite-parity vectors derived from a same-parity field vector.
#pragma once

#include "encoder/setup/picture_header.h"

namespace vintrel {

// A same-parity vector scaled to the field one field period nearer: v / 2, rounded away from 0.
inline int half_distance(int v) { return (v + (v > 0 ? 1 : 0)) >> 1; }
// ... and to the field one field period further: 3v / 2, rounded away from 0.
inline int three_half_distance(int v) { return (3 * v + (v > 0 ? 1 : 0)) >> 1; }

// The opposite-parity vectors of the field vector (mvx, mvy) with differential dmv. In a frame
// picture `first` predicts the top field from the bottom field and `second` the bottom field from
// the top field; in a field picture only `first` is used.
void dual_prime_vectors(PictureStructure structure, bool top_field_first, int first[2], int second[2], const int dmv[2],
                        int mvx, int mvy);

}  // namespace vintrel
