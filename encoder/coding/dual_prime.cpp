// Dual prime: derived vectors, and the searches for the best differential around a field vector.
#include "encoder/coding/dual_prime.h"

#include "encoder/coding/motion_distances.h"
#include "encoder/coding/motion_search.h"

namespace vintrel {

void dual_prime_vectors(PictureStructure structure, bool top_field_first, int first[2], int second[2], const int dmv[2],
                        int mvx, int mvy) {
    if (structure == PictureStructure::frame) {
        if (top_field_first) {
            first[0] = half_distance(mvx) + dmv[0];
            first[1] = half_distance(mvy) + dmv[1] - 1;
            second[0] = three_half_distance(mvx) + dmv[0];
            second[1] = three_half_distance(mvy) + dmv[1] + 1;
        } else {
            first[0] = three_half_distance(mvx) + dmv[0];
            first[1] = three_half_distance(mvy) + dmv[1] - 1;
            second[0] = half_distance(mvx) + dmv[0];
            second[1] = half_distance(mvy) + dmv[1] + 1;
        }
        return;
    }
    first[0] = half_distance(mvx) + dmv[0];
    first[1] = half_distance(mvy) + dmv[1] + (structure == PictureStructure::top_field ? -1 : 1);
    second[0] = first[0];
    second[1] = first[1];
}

namespace {

// 2v / 3 rounded half away from zero: a vector spanning three field periods scaled to two.
int two_thirds(int v) { return v >= 0 ? (2 * v + 1) / 3 : -((-2 * v + 1) / 3); }

bool inside(int x, int y, int xmax, int ymax) { return x >= 0 && x <= xmax && y >= 0 && y <= ymax; }

// The three predictions of a frame macroblock's dual prime candidate (field half-pels).
struct FramePositions {
    int same_x, same_y;                // both fields from their own parity
    int top_from_bottom_x, top_from_bottom_y;
    int bottom_from_top_x, bottom_from_top_y;
};

// Distance of both fields of the macroblock against the averaged same- and opposite-parity
// predictions, with the squared or the absolute distance.
template <typename Distance>
int frame_dual_prime_cost(const Geometry& geometry, const std::uint8_t* ref, const std::uint8_t* mb,
                          const FramePositions& p, Distance distance) {
    const int w = geometry.coded_width, lx = 2 * w;
    auto field_point = [&](int field, int x, int y) {
        return HalfPel{at(ref + field * w, lx, x, y), x & 1, y & 1};
    };
    return distance(field_point(0, p.same_x, p.same_y), field_point(1, p.top_from_bottom_x, p.top_from_bottom_y), mb,
                    lx, 8) +
           distance(field_point(1, p.same_x, p.same_y), field_point(0, p.bottom_from_top_x, p.bottom_from_top_y),
                    mb + w, lx, 8);
}

}  // namespace

DualPrimeResult dual_prime_frame_search(const Geometry& geometry, bool top_field_first, const std::uint8_t* ref,
                                        const std::uint8_t* mb, int i, int jf, const FrameSearch& fields) {
    const int xmax = 2 * (geometry.coded_width - 16), ymax = geometry.coded_height - 16;
    DualPrimeResult best;
    best.squared = 1 << 30;
    FramePositions best_positions{};
    for (int pref = 0; pref < 2; pref++)
        for (int ppred = 0; ppred < 2; ppred++) {
            int is = fields.field[pref][ppred].x - 2 * i;
            int js = fields.field[pref][ppred].y - 2 * jf;
            if (pref != ppred) {
                // An opposite-parity vector: shift it by half a field line to the same parity, and
                // scale the one that spans three field periods down to two.
                js += ppred == 0 ? 1 : -1;
                if (ppred != (top_field_first ? 1 : 0)) continue;
                is = two_thirds(is);
                js = two_thirds(js);
            }
            int tb[2], bt[2];
            if (top_field_first) {
                tb[0] = half_distance(is), tb[1] = half_distance(js) - 1;
                bt[0] = three_half_distance(is), bt[1] = three_half_distance(js) + 1;
            } else {
                tb[0] = three_half_distance(is), tb[1] = three_half_distance(js) - 1;
                bt[0] = half_distance(is), bt[1] = half_distance(js) + 1;
            }
            const int same_x = is + 2 * i, same_y = js + 2 * jf;
            if (!inside(same_x, same_y, xmax, ymax)) continue;
            for (int dy = -1; dy <= 1; dy++)
                for (int dx = -1; dx <= 1; dx++) {
                    const FramePositions p{same_x,
                                           same_y,
                                           tb[0] + 2 * i + dx,
                                           tb[1] + 2 * jf + dy,
                                           bt[0] + 2 * i + dx,
                                           bt[1] + 2 * jf + dy};
                    if (!inside(p.top_from_bottom_x, p.top_from_bottom_y, xmax, ymax) ||
                        !inside(p.bottom_from_top_x, p.bottom_from_top_y, xmax, ymax))
                        continue;
                    const int cost = frame_dual_prime_cost(geometry, ref, mb, p, bidir_sse_distance);
                    if (cost < best.squared) {
                        best.squared = cost;
                        best.x = same_x;
                        best.y = same_y;
                        best.dmv[0] = dx;
                        best.dmv[1] = dy;
                        best_positions = p;
                    }
                }
        }
    best.absolute = frame_dual_prime_cost(geometry, ref, mb, best_positions, bidir_sad_distance);
    return best;
}

DualPrimeResult dual_prime_field_search(const Geometry& geometry, PictureStructure structure,
                                        const std::uint8_t* top_ref, const std::uint8_t* bottom_ref,
                                        const std::uint8_t* mb, int i, int j, const SearchResult& same_parity) {
    const bool top = structure == PictureStructure::top_field;
    const std::uint8_t* same = top ? top_ref : bottom_ref;
    const std::uint8_t* opposite = top ? bottom_ref : top_ref;
    const int lx = geometry.line_stride;
    const int xmax = 2 * (geometry.coded_width - 16), ymax = 2 * (geometry.picture_height - 16);
    const int is = same_parity.x - 2 * i, js = same_parity.y - 2 * j;
    const int base_x = half_distance(is) + 2 * i, base_y = half_distance(js) + (top ? -1 : 1) + 2 * j;
    const HalfPel same_prediction{at(same, lx, same_parity.x, same_parity.y), same_parity.x & 1, same_parity.y & 1};

    DualPrimeResult best;
    best.squared = 1 << 30;
    int best_x = 0, best_y = 0;
    for (int dy = -1; dy <= 1; dy++)
        for (int dx = -1; dx <= 1; dx++) {
            const int x = base_x + dx, y = base_y + dy;
            if (!inside(x, y, xmax, ymax)) continue;
            const int cost = bidir_sse_distance(same_prediction, HalfPel{at(opposite, lx, x, y), x & 1, y & 1}, mb, lx, 16);
            if (cost < best.squared) {
                best.squared = cost;
                best.dmv[0] = dx;
                best.dmv[1] = dy;
                best_x = x;
                best_y = y;
            }
        }
    best.x = same_parity.x;
    best.y = same_parity.y;
    best.absolute = bidir_sad_distance(same_prediction, HalfPel{at(opposite, lx, best_x, best_y), best_x & 1, best_y & 1},
                                       mb, lx, 16);
    return best;
}

}  // namespace vintrel
