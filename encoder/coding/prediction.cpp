// Motion-compensated prediction: every macroblock's prediction from the reference reconstructions,
// following the decisions motion estimation left in macroblock_info.
#include "encoder/coding/prediction.h"

#include <cstdio>
#include <cstring>

#include "encoder/coding/dual_prime.h"
#include "encoder/coding/motion_distances.h"

namespace vintrel {
namespace {

void fill(std::uint8_t* p, int stride, int width, int height) {
    for (int row = 0; row < height; row++, p += stride) std::memset(p, 128, static_cast<std::size_t>(width));
}

// One rectangle with the half-pel case and the averaging fixed at compile time, so the inner loop
// has no branches.
template <int hx, int hy, bool average>
void predict_rows(const std::uint8_t* s, std::uint8_t* d, int lx, int w, int h) {
    for (int row = 0; row < h; row++, s += lx, d += lx)
        for (int c = 0; c < w; c++) {
            int v = half_pel_sample(s, c, lx, hx, hy);
            if constexpr (average) v = (d[c] + v + 1) >> 1;
            d[c] = static_cast<std::uint8_t>(v);
        }
}

template <bool average>
void predict_rows(const std::uint8_t* s, std::uint8_t* d, int lx, int w, int h, int hx, int hy) {
    switch (hx + 2 * hy) {
    case 0: return predict_rows<0, 0, average>(s, d, lx, w, h);
    case 1: return predict_rows<1, 0, average>(s, d, lx, w, h);
    case 2: return predict_rows<0, 1, average>(s, d, lx, w, h);
    default: return predict_rows<1, 1, average>(s, d, lx, w, h);
    }
}

// A vector of one prediction, in half-pels.
struct Vector {
    int x, y;
};

class MacroblockPredictor {
public:
    MacroblockPredictor(const PictureContext& picture, const Reporter& report, const Picture& old_reference,
                        const Picture& new_reference, Picture& destination, int bx, int by, const MacroblockInfo& mb,
                        bool second_field)
        : picture_(picture), report_(report), old_(old_reference), new_(new_reference), dst_(destination), bx_(bx),
          by_(by), mb_(mb), second_field_(second_field) {}

    void predict() {
        if (mb_.macroblock_type.has(MacroblockFlag::intra)) {
            clear_prediction(picture_, dst_, bx_, by_);
            return;
        }
        const bool forward =
            mb_.macroblock_type.has(MacroblockFlag::forward) || picture_.header.picture_type == PictureType::P;
        if (forward) {
            if (picture_.header.picture_structure == PictureStructure::frame)
                forward_frame();
            else
                forward_field();
        }
        if (mb_.macroblock_type.has(MacroblockFlag::backward)) {
            if (picture_.header.picture_structure == PictureStructure::frame)
                backward_frame(forward);
            else
                backward_field(forward);
        }
    }

private:
    Vector vector(int r, int dir) const { return {mb_.motion_vectors[r][dir][0], mb_.motion_vectors[r][dir][1]}; }
    // A field vector of a frame picture: its vertical part is kept in frame units.
    Vector field_vector(int r, int dir) const { return {mb_.motion_vectors[r][dir][0], mb_.motion_vectors[r][dir][1] >> 1}; }

    // w x h at (x, y) of field (or frame, lx = coded_width) dfield of the destination from field
    // sfield of src, in all three components.
    void area(const Picture& src, int sfield, int dfield, int lx, int w, int h, int x, int y, Vector v,
              bool average) const {
        int dx = v.x, dy = v.y;
        for (int c = 0; c < 3; c++) {
            if (c == 1) {
                if (picture_.params.chroma_format == ChromaFormat::yuv420) {
                    h >>= 1;
                    y >>= 1;
                    dy /= 2;
                }
                if (picture_.params.chroma_format != ChromaFormat::yuv444) {
                    w >>= 1;
                    x >>= 1;
                    lx >>= 1;
                    dx /= 2;
                }
            }
            predict_component(src[c] + (sfield ? lx / 2 : 0), dst_[c] + (dfield ? lx / 2 : 0), lx, w, h, x, y, dx, dy,
                              average);
        }
    }

    // Both fields of a frame macroblock, each from its selected reference field.
    void frame_fields(const Picture& src, int dir, bool average) const {
        const int lx = 2 * picture_.geometry.coded_width;
        area(src, mb_.field_select[0][dir], 0, lx, 16, 8, bx_, by_ / 2, field_vector(0, dir), average);
        area(src, mb_.field_select[1][dir], 1, lx, 16, 8, bx_, by_ / 2, field_vector(1, dir), average);
    }

    void forward_frame() const {
        const bool motion = mb_.macroblock_type.has(MacroblockFlag::forward);
        if (mb_.motion_type == MotionType::frame || !motion) {
            area(old_, 0, 0, picture_.geometry.coded_width, 16, 16, bx_, by_, vector(0, 0), false);
        } else if (mb_.motion_type == MotionType::field) {
            frame_fields(old_, 0, false);
        } else if (mb_.motion_type == MotionType::dual_prime) {
            const int lx = 2 * picture_.geometry.coded_width;
            const Vector v = field_vector(0, 0);
            int first[2], second[2];
            dual_prime_vectors(picture_.header.picture_structure, picture_.params.top_field_first, first, second,
                               mb_.dual_prime_vector, v.x, v.y);
            area(old_, 0, 0, lx, 16, 8, bx_, by_ / 2, v, false);
            area(old_, 1, 1, lx, 16, 8, bx_, by_ / 2, v, false);
            area(old_, 1, 0, lx, 16, 8, bx_, by_ / 2, {first[0], first[1]}, true);
            area(old_, 0, 1, lx, 16, 8, bx_, by_ / 2, {second[0], second[1]}, true);
        } else {
            report_.warning("invalid motion_type\n");
        }
    }

    int current_field() const { return picture_.header.picture_structure == PictureStructure::bottom_field ? 1 : 0; }

    // The reference holding field `select` for a forward prediction: in the second field of a P
    // frame the field of the other parity is this frame's own first field.
    const Picture& forward_source(int select) const {
        return picture_.header.picture_type == PictureType::P && second_field_ && select != current_field() ? new_
                                                                                                            : old_;
    }

    // The 16x16 or the two 16x8 predictions of a field macroblock.
    void field_halves(int dir, bool halves, bool average) const {
        const int lx = 2 * picture_.geometry.coded_width;
        const int cur = current_field();
        for (int r = 0; r < (halves ? 2 : 1); r++) {
            const int select = mb_.field_select[r][dir];
            const Picture& src = dir == 0 ? forward_source(select) : new_;
            area(src, select, cur, lx, 16, halves ? 8 : 16, bx_, by_ + 8 * r, vector(r, dir), average);
        }
    }

    void forward_field() const {
        const bool motion = mb_.macroblock_type.has(MacroblockFlag::forward);
        if (mb_.motion_type == MotionType::field || !motion) {
            field_halves(0, false, false);
        } else if (mb_.motion_type == MotionType::field_16x8) {
            field_halves(0, true, false);
        } else if (mb_.motion_type == MotionType::dual_prime) {
            const int lx = 2 * picture_.geometry.coded_width;
            const int cur = current_field();
            const Vector v = vector(0, 0);
            int first[2], second[2];
            dual_prime_vectors(picture_.header.picture_structure, picture_.params.top_field_first, first, second,
                               mb_.dual_prime_vector, v.x, v.y);
            area(old_, cur, cur, lx, 16, 16, bx_, by_, v, false);
            area(second_field_ ? new_ : old_, 1 - cur, cur, lx, 16, 16, bx_, by_, {first[0], first[1]}, true);
        } else {
            report_.warning("invalid motion_type\n");
        }
    }

    void backward_frame(bool average) const {
        if (mb_.motion_type == MotionType::frame)
            area(new_, 0, 0, picture_.geometry.coded_width, 16, 16, bx_, by_, vector(0, 1), average);
        else
            frame_fields(new_, 1, average);
    }

    void backward_field(bool average) const {
        if (mb_.motion_type == MotionType::field)
            field_halves(1, false, average);
        else if (mb_.motion_type == MotionType::field_16x8)
            field_halves(1, true, average);
        else
            report_.warning("invalid motion_type\n");
    }

    const PictureContext& picture_;
    const Reporter& report_;
    const Picture& old_;
    const Picture& new_;
    Picture& dst_;
    int bx_, by_;
    const MacroblockInfo& mb_;
    bool second_field_;
};

}  // namespace

void predict_component(const std::uint8_t* src, std::uint8_t* dst, int lx, int w, int h, int x, int y, int dx, int dy,
                       bool average) {
    const std::uint8_t* s = src + static_cast<std::ptrdiff_t>(lx) * (y + (dy >> 1)) + x + (dx >> 1);
    std::uint8_t* d = dst + static_cast<std::ptrdiff_t>(lx) * y + x;
    if (average)
        predict_rows<true>(s, d, lx, w, h, dx & 1, dy & 1);
    else
        predict_rows<false>(s, d, lx, w, h, dx & 1, dy & 1);
}

void clear_prediction(const PictureContext& picture, Picture& dst, int bx, int by) {
    const Geometry& geometry = picture.geometry;
    const ChromaFormat chroma_format = picture.params.chroma_format;
    const bool bottom = picture.header.picture_structure == PictureStructure::bottom_field;
    fill(dst[0] + bx + static_cast<std::ptrdiff_t>(geometry.line_stride) * by + (bottom ? geometry.coded_width : 0),
         geometry.line_stride, 16, 16);
    const int cw = chroma_format == ChromaFormat::yuv444 ? 16 : 8;
    const int ch = chroma_format == ChromaFormat::yuv420 ? 8 : 16;
    const int x = chroma_format == ChromaFormat::yuv444 ? bx : bx / 2;
    const int y = chroma_format == ChromaFormat::yuv420 ? by / 2 : by;
    for (int c = 1; c < 3; c++)
        fill(dst[c] + x + static_cast<std::ptrdiff_t>(geometry.chroma_line_stride) * y +
                 (bottom ? geometry.chroma_width : 0),
             geometry.chroma_line_stride, cw, ch);
}

void predict_picture(const PictureContext& picture, const std::vector<MacroblockInfo>& macroblocks,
                     const Reporter& report, const Picture& old_reference, const Picture& new_reference, Picture& dst,
                     bool second_field) {
    int k = 0;
    for (int by = 0; by < picture.geometry.picture_height; by += 16)
        for (int bx = 0; bx < picture.geometry.coded_width; bx += 16, k++)
            MacroblockPredictor(picture, report, old_reference, new_reference, dst, bx, by,
                                macroblocks[static_cast<std::size_t>(k)], second_field)
                .predict();
}

}  // namespace vintrel
