// Motion-compensated prediction.
#include "encoder/coding/prediction.h"

#include <cstring>

#include "encoder/setup/fatal_error.h"

namespace vintrel {
namespace {

void fill(std::uint8_t* p, int stride, int width, int height) {
    for (int row = 0; row < height; row++, p += stride) std::memset(p, 128, static_cast<std::size_t>(width));
}

}  // namespace

void clear_prediction(const EncoderState& s, Picture& dst, int bx, int by) {
    const bool bottom = s.picture_structure == 2;
    fill(dst[0] + bx + static_cast<std::ptrdiff_t>(s.line_stride) * by + (bottom ? s.coded_width : 0), s.line_stride,
         16, 16);
    const int cw = s.chroma_format == 3 ? 16 : 8;
    const int ch = s.chroma_format == 1 ? 8 : 16;
    const int x = s.chroma_format == 3 ? bx : bx / 2;
    const int y = s.chroma_format == 1 ? by / 2 : by;
    for (int c = 1; c < 3; c++)
        fill(dst[c] + x + static_cast<std::ptrdiff_t>(s.chroma_line_stride) * y + (bottom ? s.chroma_width : 0),
             s.chroma_line_stride, cw, ch);
}

void predict_picture(EncoderState& s, const Picture&, const Picture&, Picture& dst, int) {
    int k = 0;
    for (int by = 0; by < s.picture_height; by += 16)
        for (int bx = 0; bx < s.coded_width; bx += 16, k++) {
            const MacroblockInfo& mb = s.macroblock_info[static_cast<std::size_t>(k)];
            if (!(mb.macroblock_type & intra_flag))
                fatal_error(s, "P and B pictures are not supported by this encoder yet (use N = M = 1)");
            clear_prediction(s, dst, bx, by);
        }
}

}  // namespace vintrel
