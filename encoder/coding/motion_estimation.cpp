// Motion estimation: the prediction of every macroblock of the picture about to be coded.
#include "encoder/coding/motion_estimation.h"

#include <cstdio>

#include "encoder/coding/motion_distances.h"
#include "encoder/coding/motion_search.h"
#include "encoder/coding/sample_sums.h"

namespace vintrel {
namespace {

// A macroblock whose best prediction still leaves this much squared error (9 per sample) and
// more than its own variance is cheaper to code intra.
constexpr int intra_threshold = 9 * 256;

bool better_intra(int vmc, unsigned var) { return vmc > static_cast<int>(var) && vmc >= intra_threshold; }

// Index of the first candidate strictly smaller than every later one (the last wins the rest).
template <std::size_t n>
int first_strictly_smallest(const int (&d)[n]) {
    for (std::size_t k = 0; k + 1 < n; k++) {
        bool smallest = true;
        for (std::size_t later = k + 1; later < n; later++)
            if (!(d[k] < d[later])) smallest = false;
        if (smallest) return static_cast<int>(k);
    }
    return static_cast<int>(n - 1);
}

// The six B candidates come as interpolated, forward, backward, each with one vector and then
// with two per direction. Sets the directions of the chosen one and returns its index.
int choose_b_candidate(MacroblockInfo& info, const int (&candidates)[6]) {
    static constexpr MacroblockType directions[3] = {MacroblockFlag::forward | MacroblockFlag::backward,
                                                     MacroblockFlag::forward, MacroblockFlag::backward};
    const int choice = first_strictly_smallest(candidates);
    info.macroblock_type = directions[choice / 2];
    return choice;
}

HalfPel point(const std::uint8_t* plane, int lx, const SearchResult& r) { return {at(plane, lx, r.x, r.y), r.x & 1, r.y & 1}; }

int squared(const std::uint8_t* plane, int lx, const SearchResult& r, const std::uint8_t* mb, int h) {
    return sse_distance(at(plane, lx, r.x, r.y), mb, lx, r.x & 1, r.y & 1, h);
}

void set_vector(MacroblockInfo& info, int r, int s, int x, int y) {
    info.motion_vectors[r][s][0] = x;
    info.motion_vectors[r][s][1] = y;
}

void make_intra(MacroblockInfo& info, unsigned var) {
    info.macroblock_type = MacroblockFlag::intra;
    info.variance = var;
}

// ---- Frame pictures ----

struct FrameMacroblock {
    const PictureContext& picture;
    const MotionPlanes& planes;
    const SearchRanges& ranges;
    const std::uint8_t* mb;
    int i, j;

    int w() const { return picture.geometry.coded_width; }
    SearchReference forward() const { return {planes.old_source, planes.old_reconstruction}; }
    SearchReference backward() const { return {planes.new_source, planes.new_reconstruction}; }

    SearchResult whole_search(SearchReference r, int sx, int sy) const {
        return full_search(r.source, r.reconstruction, mb, w(), i, j, sx, sy, 16, w(), picture.geometry.coded_height);
    }
    // Squared error of the two field predictions of a frame search from `ref`.
    int field_squared(const std::uint8_t* ref, const FrameSearch& f) const {
        return squared(ref + f.top_select * w(), 2 * w(), f.top(), mb, 8) +
               squared(ref + f.bottom_select * w(), 2 * w(), f.bottom(), mb + w(), 8);
    }
    HalfPel field_point(const std::uint8_t* ref, const FrameSearch& f, int predicted) const {
        const int select = predicted ? f.bottom_select : f.top_select;
        return point(ref + select * w(), 2 * w(), predicted ? f.bottom() : f.top());
    }
    template <typename Distance>
    int interpolated_fields(const FrameSearch& f, const FrameSearch& b, Distance distance) const {
        int sum = 0;
        for (int predicted = 0; predicted < 2; predicted++)
            sum += distance(field_point(planes.old_reconstruction, f, predicted),
                            field_point(planes.new_reconstruction, b, predicted), mb + predicted * w(), 2 * w(), 8);
        return sum;
    }
    void store_field_vectors(MacroblockInfo& info, int dir, const FrameSearch& f) const {
        set_vector(info, 0, dir, f.top().x - 2 * i, 2 * f.top().y - 2 * j);
        info.field_select[0][dir] = f.top_select;
        set_vector(info, 1, dir, f.bottom().x - 2 * i, 2 * f.bottom().y - 2 * j);
        info.field_select[1][dir] = f.bottom_select;
    }

    void estimate_p(MacroblockInfo& info, unsigned var) const {
        const std::uint8_t* old_ref = planes.old_reconstruction;
        int vmc;
        FrameSearch fields;
        SearchResult frame;
        DualPrimeResult dual;
        if (picture.header.frame_pred_frame_dct) {
            frame = whole_search(forward(), ranges.sxf, ranges.syf);
            vmc = squared(old_ref, w(), frame, mb, 16);
            info.motion_type = MotionType::frame;
        } else {
            fields = frame_search(picture.geometry, forward(), mb, i, j, ranges.sxf, ranges.syf);
            frame = fields.frame;
            const bool dual_prime_allowed = picture.params.M == 1;
            if (dual_prime_allowed)
                dual = dual_prime_frame_search(picture.geometry, picture.params.top_field_first, old_ref, mb, i, j / 2,
                                               fields);
            if (dual_prime_allowed && dual.absolute < frame.distance && dual.absolute < fields.field_distance) {
                info.motion_type = MotionType::dual_prime;
                vmc = dual.squared;
            } else if (fields.field_distance < frame.distance) {
                info.motion_type = MotionType::field;
                vmc = field_squared(old_ref, fields);
            } else {
                info.motion_type = MotionType::frame;
                vmc = squared(old_ref, w(), frame, mb, 16);
            }
        }
        if (better_intra(vmc, var)) return make_intra(info, var);

        const int v0 = sse_distance(old_ref + i + static_cast<std::ptrdiff_t>(w()) * j, mb, w(), 0, 0, 16);
        if (4 * v0 > 5 * vmc && v0 >= intra_threshold) {
            info.variance = static_cast<unsigned>(vmc);
            info.macroblock_type = MacroblockFlag::forward;
            if (info.motion_type == MotionType::frame) {
                set_vector(info, 0, 0, frame.x - 2 * i, frame.y - 2 * j);
            } else if (info.motion_type == MotionType::dual_prime) {
                set_vector(info, 0, 0, dual.x - 2 * i, 2 * dual.y - 2 * j);
                info.dual_prime_vector[0] = dual.dmv[0];
                info.dual_prime_vector[1] = dual.dmv[1];
            } else {
                store_field_vectors(info, 0, fields);
            }
            return;
        }
        info.variance = static_cast<unsigned>(v0);
        info.macroblock_type = {};
        info.motion_type = MotionType::frame;
        set_vector(info, 0, 0, 0, 0);
    }

    void estimate_b(MacroblockInfo& info, unsigned var) const {
        const std::uint8_t* old_ref = planes.old_reconstruction;
        const std::uint8_t* new_ref = planes.new_reconstruction;
        int vmc;
        bool field_mode = false;
        FrameSearch f, b;
        if (picture.header.frame_pred_frame_dct) {
            f.frame = whole_search(forward(), ranges.sxf, ranges.syf);
            b.frame = whole_search(backward(), ranges.sxb, ranges.syb);
            const int vmcf = squared(old_ref, w(), f.frame, mb, 16);
            const int vmcr = squared(new_ref, w(), b.frame, mb, 16);
            const int vmci = bidir_sse_distance(point(old_ref, w(), f.frame), point(new_ref, w(), b.frame), mb, w(), 16);
            if (vmcf <= vmcr && vmcf <= vmci) {
                info.macroblock_type = MacroblockFlag::forward;
                vmc = vmcf;
            } else if (vmci < vmcr) {
                info.macroblock_type = MacroblockFlag::forward | MacroblockFlag::backward;
                vmc = vmci;
            } else {
                info.macroblock_type = MacroblockFlag::backward;
                vmc = vmcr;
            }
        } else {
            f = frame_search(picture.geometry, forward(), mb, i, j, ranges.sxf, ranges.syf);
            b = frame_search(picture.geometry, backward(), mb, i, j, ranges.sxb, ranges.syb);
            const HalfPel fp = point(old_ref, w(), f.frame), bp = point(new_ref, w(), b.frame);
            const int choice = choose_b_candidate(
                info, {bidir_sad_distance(fp, bp, mb, w(), 16), interpolated_fields(f, b, bidir_sad_distance),
                       f.frame.distance, f.field_distance, b.frame.distance, b.field_distance});
            field_mode = choice % 2 == 1;
            switch (choice) {
            case 0: vmc = bidir_sse_distance(fp, bp, mb, w(), 16); break;
            case 1: vmc = interpolated_fields(f, b, bidir_sse_distance); break;
            case 2: vmc = squared(old_ref, w(), f.frame, mb, 16); break;
            case 3: vmc = field_squared(old_ref, f); break;
            case 4: vmc = squared(new_ref, w(), b.frame, mb, 16); break;
            default: vmc = field_squared(new_ref, b); break;
            }
        }
        info.motion_type = field_mode ? MotionType::field : MotionType::frame;
        if (better_intra(vmc, var)) return make_intra(info, var);
        info.variance = static_cast<unsigned>(vmc);
        if (field_mode) {
            store_field_vectors(info, 0, f);
            store_field_vectors(info, 1, b);
        } else {
            set_vector(info, 0, 0, f.frame.x - 2 * i, f.frame.y - 2 * j);
            set_vector(info, 0, 1, b.frame.x - 2 * i, b.frame.y - 2 * j);
        }
    }
};

// ---- Field pictures ----

struct FieldMacroblock {
    const PictureContext& picture;
    const MotionPlanes& planes;
    const SearchRanges& ranges;
    const std::uint8_t* mb;
    int i, j;  // j in field lines

    int lx() const { return 2 * picture.geometry.coded_width; }
    PictureStructure structure() const { return picture.header.picture_structure; }
    int parity() const { return structure() == PictureStructure::bottom_field ? 1 : 0; }
    const std::uint8_t* lower_half() const { return mb + 8 * static_cast<std::ptrdiff_t>(lx()); }

    FieldReferences frame_fields(const std::uint8_t* source, const std::uint8_t* reconstruction) const {
        const int w = picture.geometry.coded_width;
        return {{source, reconstruction}, {source + w, reconstruction + w}};
    }
    int whole_squared(const FieldReferences& r, const FieldSearch& f) const {
        return squared(r.field(f.whole_select).reconstruction, lx(), f.whole, mb, 16);
    }
    int halves_squared(const FieldReferences& r, const FieldSearch& f) const {
        return squared(r.field(f.upper_select).reconstruction, lx(), f.upper, mb, 8) +
               squared(r.field(f.lower_select).reconstruction, lx(), f.lower, lower_half(), 8);
    }
    template <typename Distance>
    int interpolated_whole(const FieldReferences& fr, const FieldSearch& f, const FieldReferences& br,
                           const FieldSearch& b, Distance distance) const {
        return distance(point(fr.field(f.whole_select).reconstruction, lx(), f.whole),
                        point(br.field(b.whole_select).reconstruction, lx(), b.whole), mb, lx(), 16);
    }
    template <typename Distance>
    int interpolated_halves(const FieldReferences& fr, const FieldSearch& f, const FieldReferences& br,
                            const FieldSearch& b, Distance distance) const {
        return distance(point(fr.field(f.upper_select).reconstruction, lx(), f.upper),
                        point(br.field(b.upper_select).reconstruction, lx(), b.upper), mb, lx(), 8) +
               distance(point(fr.field(f.lower_select).reconstruction, lx(), f.lower),
                        point(br.field(b.lower_select).reconstruction, lx(), b.lower), lower_half(), lx(), 8);
    }
    void store_vectors(MacroblockInfo& info, int dir, const FieldSearch& f, bool halves) const {
        if (!halves) {
            set_vector(info, 0, dir, f.whole.x - 2 * i, f.whole.y - 2 * j);
            info.field_select[0][dir] = f.whole_select;
            return;
        }
        set_vector(info, 0, dir, f.upper.x - 2 * i, f.upper.y - 2 * j);
        info.field_select[0][dir] = f.upper_select;
        set_vector(info, 1, dir, f.lower.x - 2 * i, f.lower.y - 2 * (j + 8));
        info.field_select[1][dir] = f.lower_select;
    }

    void estimate_p(MacroblockInfo& info, unsigned var, bool second_field, bool i_to_p) const {
        FieldReferences ref = frame_fields(planes.old_source, planes.old_reconstruction);
        if (second_field) {
            // The field of the other parity is this frame's first field, coded just before.
            const FieldReferences current = frame_fields(planes.current_source, planes.current_reconstruction);
            if (parity() == 0)
                ref.bottom = current.bottom;
            else
                ref.top = current.top;
        }
        const FieldSearch f =
            field_search(picture.geometry, structure(), ref, mb, i, j, ranges.sxf, ranges.syf, i_to_p);
        const bool dual_prime_allowed = picture.params.M == 1 && !i_to_p;
        DualPrimeResult dual;
        if (dual_prime_allowed)
            dual = dual_prime_field_search(picture.geometry, structure(), ref.top.reconstruction,
                                           ref.bottom.reconstruction, mb, i, j, f.same_parity);

        int vmc;
        if (dual_prime_allowed && dual.absolute < f.distance_16x8 && dual.absolute < f.whole.distance) {
            info.motion_type = MotionType::dual_prime;
            vmc = dual.squared;
        } else if (f.distance_16x8 < f.whole.distance) {
            info.motion_type = MotionType::field_16x8;
            vmc = halves_squared(ref, f);
        } else {
            info.motion_type = MotionType::field;
            vmc = whole_squared(ref, f);
        }
        if (better_intra(vmc, var)) return make_intra(info, var);

        if (!i_to_p) {
            const std::uint8_t* same = ref.field(parity()).reconstruction;
            const int v0 = sse_distance(same + i + static_cast<std::ptrdiff_t>(lx()) * j, mb, lx(), 0, 0, 16);
            if (!(4 * v0 > 5 * vmc && v0 >= intra_threshold)) {
                info.variance = static_cast<unsigned>(v0);
                info.macroblock_type = {};
                info.motion_type = MotionType::field;
                set_vector(info, 0, 0, 0, 0);
                info.field_select[0][0] = parity();
                return;
            }
        }
        info.variance = static_cast<unsigned>(vmc);
        info.macroblock_type = MacroblockFlag::forward;
        if (info.motion_type == MotionType::dual_prime) {
            set_vector(info, 0, 0, dual.x - 2 * i, dual.y - 2 * j);
            info.dual_prime_vector[0] = dual.dmv[0];
            info.dual_prime_vector[1] = dual.dmv[1];
        } else {
            store_vectors(info, 0, f, info.motion_type == MotionType::field_16x8);
        }
    }

    void estimate_b(MacroblockInfo& info, unsigned var) const {
        const FieldReferences fr = frame_fields(planes.old_source, planes.old_reconstruction);
        const FieldReferences br = frame_fields(planes.new_source, planes.new_reconstruction);
        const FieldSearch f = field_search(picture.geometry, structure(), fr, mb, i, j, ranges.sxf, ranges.syf, false);
        const FieldSearch b = field_search(picture.geometry, structure(), br, mb, i, j, ranges.sxb, ranges.syb, false);
        const int choice = choose_b_candidate(
            info, {interpolated_whole(fr, f, br, b, bidir_sad_distance), interpolated_halves(fr, f, br, b, bidir_sad_distance),
                   f.whole.distance, f.distance_16x8, b.whole.distance, b.distance_16x8});
        const bool halves = choice % 2 == 1;
        info.motion_type = halves ? MotionType::field_16x8 : MotionType::field;
        int vmc;
        switch (choice) {
        case 0: vmc = interpolated_whole(fr, f, br, b, bidir_sse_distance); break;
        case 1: vmc = interpolated_halves(fr, f, br, b, bidir_sse_distance); break;
        case 2: vmc = whole_squared(fr, f); break;
        case 3: vmc = halves_squared(fr, f); break;
        case 4: vmc = whole_squared(br, b); break;
        default: vmc = halves_squared(br, b); break;
        }
        if (better_intra(vmc, var)) return make_intra(info, var);
        info.variance = static_cast<unsigned>(vmc);
        store_vectors(info, 0, f, halves);
        store_vectors(info, 1, b, halves);
    }
};

}  // namespace

unsigned macroblock_variance(const std::uint8_t* p, int step) {
    const auto [sum, sum_of_squares] = sample_sums(p, step, 16, true);
    return sum_of_squares - ((sum * sum) >> 8);
}

void estimate_motion(const PictureContext& picture, std::vector<MacroblockInfo>& macroblocks, const Reporter& report,
                     const MotionPlanes& planes, const SearchRanges& ranges, bool second_field,
                     bool second_field_of_i_frame) {
    const Geometry& geometry = picture.geometry;
    const PictureHeader& header = picture.header;
    const bool frame = header.picture_structure == PictureStructure::frame;
    const int step = frame ? geometry.coded_width : 2 * geometry.coded_width;
    int k = 0;
    for (int j = 0; j < geometry.picture_height; j += 16) {
        for (int i = 0; i < geometry.coded_width; i += 16, k++) {
            const std::uint8_t* mb = planes.current_source + i + static_cast<std::ptrdiff_t>(j) * step;
            if (header.picture_structure == PictureStructure::bottom_field) mb += geometry.coded_width;
            MacroblockInfo& info = macroblocks[static_cast<std::size_t>(k)];
            const unsigned var = macroblock_variance(mb, step);
            if (header.picture_type == PictureType::I) {
                make_intra(info, var);
            } else if (frame) {
                const FrameMacroblock m{picture, planes, ranges, mb, i, j};
                if (header.picture_type == PictureType::P)
                    m.estimate_p(info, var);
                else
                    m.estimate_b(info, var);
            } else {
                const FieldMacroblock m{picture, planes, ranges, mb, i, j};
                if (header.picture_type == PictureType::P)
                    m.estimate_p(info, var, second_field, second_field_of_i_frame);
                else
                    m.estimate_b(info, var);
            }
        }
        report.progress(".");
    }
    report.progress("\n");
}

}  // namespace vintrel
