// Full-pel spiral search with half-pel refinement, and the frame and field searches built on it.
#include <algorithm>

#include "encoder/coding/motion_distances.h"
#include "encoder/coding/motion_search.h"

namespace vintrel {

SearchResult full_search(const std::uint8_t* org, const std::uint8_t* ref, const std::uint8_t* blk, int lx, int i0,
                         int j0, int sx, int sy, int h, int xmax, int ymax) {
    const int ilow = std::max(i0 - sx, 0), ihigh = std::min(i0 + sx, xmax - 16);
    const int jlow = std::max(j0 - sy, 0), jhigh = std::min(j0 + sy, ymax - h);
    auto full_pel = [org, lx](int i, int j) { return org + i + static_cast<std::ptrdiff_t>(lx) * j; };

    int best_i = i0, best_j = j0;
    int dmin = sad_distance(full_pel(i0, j0), blk, lx, 0, 0, h, 65536);

    // Rings of growing radius around the start, each walked clockwise from its top-left corner;
    // the earlier position keeps a tie, so the search leans towards short vectors.
    const int radius = std::max(sx, sy);
    for (int l = 1; l <= radius; l++) {
        int i = i0 - l, j = j0 - l;
        for (int k = 0; k < 8 * l; k++) {
            if (i >= ilow && i <= ihigh && j >= jlow && j <= jhigh) {
                const int d = sad_distance(full_pel(i, j), blk, lx, 0, 0, h, dmin);
                if (d < dmin) {
                    dmin = d;
                    best_i = i;
                    best_j = j;
                }
            }
            if (k < 2 * l)
                i++;
            else if (k < 4 * l)
                j++;
            else if (k < 6 * l)
                i--;
            else
                j--;
        }
    }

    // Half-pel refinement on the reconstruction, never reaching outside the picture.
    SearchResult best{2 * best_i, 2 * best_j, 65536};
    const int x0 = 2 * best_i, y0 = 2 * best_j;
    const int xlow = x0 > 0 ? x0 - 1 : x0, xhigh = x0 < 2 * (xmax - 16) ? x0 + 1 : x0;
    const int ylow = y0 > 0 ? y0 - 1 : y0, yhigh = y0 < 2 * (ymax - h) ? y0 + 1 : y0;
    for (int y = ylow; y <= yhigh; y++)
        for (int x = xlow; x <= xhigh; x++) {
            const int d = sad_distance(at(ref, lx, x, y), blk, lx, x & 1, y & 1, h, best.distance);
            if (d < best.distance) best = {x, y, d};
        }
    return best;
}

FrameSearch frame_search(const Geometry& geometry, SearchReference reference, const std::uint8_t* mb, int i, int j,
                         int sx, int sy) {
    const int w = geometry.coded_width;
    FrameSearch r;
    r.frame =
        full_search(reference.source, reference.reconstruction, mb, w, i, j, sx, sy, 16, w, geometry.coded_height);
    for (int predicted = 0; predicted < 2; predicted++)
        for (int field = 0; field < 2; field++)
            r.field[field][predicted] =
                full_search(reference.source + field * w, reference.reconstruction + field * w, mb + predicted * w,
                            2 * w, i, j / 2, sx, sy / 2, 8, w, geometry.coded_height / 2);
    // Each field keeps its own parity unless the other reference field is strictly better.
    r.top_select = r.field[1][0].distance < r.field[0][0].distance ? 1 : 0;
    r.bottom_select = r.field[0][1].distance < r.field[1][1].distance ? 0 : 1;
    r.field_distance = r.top().distance + r.bottom().distance;
    return r;
}

namespace {

// Searches the block in both reference fields; the bottom field wins only when strictly better.
// A field that must not be used counts as 65536, more than any block distance.
struct FieldPair {
    SearchResult result[2];
    int select() const { return result[1].distance < result[0].distance ? 1 : 0; }
    const SearchResult& best() const { return result[select()]; }
};

FieldPair search_both_fields(const Geometry& geometry, const FieldReferences& reference, const std::uint8_t* mb, int i,
                             int j, int sx, int sy, int h, int skipped_field) {
    const int w = geometry.coded_width;
    FieldPair pair;
    for (int f = 0; f < 2; f++) {
        if (f == skipped_field) {
            pair.result[f] = {2 * i, 2 * j, 65536};
            continue;
        }
        const SearchReference& field = reference.field(f);
        pair.result[f] = full_search(field.source, field.reconstruction, mb, 2 * w, i, j, sx, sy / 2, h, w,
                                     geometry.coded_height / 2);
    }
    return pair;
}

}  // namespace

FieldSearch field_search(const Geometry& geometry, PictureStructure structure, const FieldReferences& reference,
                         const std::uint8_t* mb, int i, int j, int sx, int sy, bool skip_same_parity) {
    const int parity = structure == PictureStructure::bottom_field ? 1 : 0;
    const int skipped = skip_same_parity ? parity : -1;
    const FieldPair whole = search_both_fields(geometry, reference, mb, i, j, sx, sy, 16, skipped);
    const FieldPair upper = search_both_fields(geometry, reference, mb, i, j, sx, sy, 8, skipped);
    const FieldPair lower =
        search_both_fields(geometry, reference, mb + 8 * 2 * static_cast<std::ptrdiff_t>(geometry.coded_width), i,
                           j + 8, sx, sy, 8, skipped);
    FieldSearch r;
    r.whole = whole.best();
    r.whole_select = whole.select();
    r.same_parity = whole.result[parity];
    r.upper = upper.best();
    r.upper_select = upper.select();
    r.lower = lower.best();
    r.lower_select = lower.select();
    r.distance_16x8 = r.upper.distance + r.lower.distance;
    return r;
}

}  // namespace vintrel
