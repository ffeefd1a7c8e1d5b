// Picture-wide transform passes: prediction error into DCT blocks, and blocks back into pictures.
//
// Both passes visit the macroblocks in coding order and the blocks of each macroblock in block
// order: four luminance blocks, then Cb and Cr alternately (4:2:0 one pair; 4:2:2 a pair for the
// upper and one for the lower half; 4:4:4 those four for the left half, then four for the right).
#include <cstddef>
#include <cstdint>

#include "encoder/coding/transform.h"

#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace vintrel {
namespace {

// Where one 8x8 block lives in its plane.
struct BlockPlace {
    int component;          // 0 luminance, 1 Cb, 2 Cr
    std::ptrdiff_t offset;  // first sample
    std::ptrdiff_t step;    // distance between the block's lines
};

// What placing a block needs of the picture, gathered once per pass: a copy of the sizes, so a
// block's place is found as directly as from the sizes themselves.
struct BlockLayout {
    Geometry geometry;
    bool bottom_field;
    ChromaFormat chroma_format;
};

// Block n of the macroblock whose luminance starts at column i, line j of the coded picture.
// A field DCT macroblock of a frame picture takes its luminance (and, unless 4:2:0, its chroma)
// blocks from the lines of one field; a bottom-field picture starts one frame line down.
// Inlined: it runs for every block of both passes.
[[gnu::always_inline]] inline BlockPlace place_block(const BlockLayout& layout, int i, int j, int n, bool field_dct) {
    const Geometry& geometry = layout.geometry;
    const bool bottom_field = layout.bottom_field;
    const ChromaFormat chroma_format = layout.chroma_format;
    BlockPlace place{};
    if (n < 4) {
        place.component = 0;
        const std::ptrdiff_t column = i + 8 * (n & 1);
        if (field_dct) {
            place.offset = column + static_cast<std::ptrdiff_t>(geometry.coded_width) * (j + (n & 2) / 2);
            place.step = 2 * static_cast<std::ptrdiff_t>(geometry.coded_width);
        } else {
            place.offset = column + static_cast<std::ptrdiff_t>(geometry.line_stride) * (j + 8 * ((n & 2) / 2));
            place.step = geometry.line_stride;
        }
        if (bottom_field) place.offset += geometry.coded_width;
        return place;
    }
    place.component = (n & 1) ? 2 : 1;
    const int ic = chroma_format == ChromaFormat::yuv444 ? i : i / 2;
    const int jc = chroma_format == ChromaFormat::yuv420 ? j / 2 : j;
    const std::ptrdiff_t column = ic + (n & 8);
    if (field_dct && chroma_format != ChromaFormat::yuv420) {
        place.offset = column + static_cast<std::ptrdiff_t>(geometry.chroma_width) * (jc + (n & 2) / 2);
        place.step = 2 * static_cast<std::ptrdiff_t>(geometry.chroma_width);
    } else {
        place.offset = column + static_cast<std::ptrdiff_t>(geometry.chroma_line_stride) * (jc + 8 * ((n & 2) / 2));
        place.step = geometry.chroma_line_stride;
    }
    if (bottom_field) place.offset += geometry.chroma_width;
    return place;
}

// Calls visit(block, place) for every block of the picture in coding order.
template <typename Visit>
void for_each_block(const PictureContext& picture, const std::vector<MacroblockInfo>& macroblocks,
                    std::vector<Block>& blocks, Visit visit) {
    const BlockLayout layout{picture.geometry, picture.header.picture_structure == PictureStructure::bottom_field,
                             picture.params.chroma_format};
    const Geometry& geometry = layout.geometry;
    const bool frame = picture.header.picture_structure == PictureStructure::frame;
    const std::size_t per_macroblock = static_cast<std::size_t>(geometry.blocks_per_macroblock);
    std::size_t k = 0;
    for (int j = 0; j < geometry.picture_height; j += 16) {
        for (int i = 0; i < geometry.coded_width; i += 16, k++) {
            const bool field_dct = frame && macroblocks[k].dct_type;
            for (int n = 0; n < geometry.blocks_per_macroblock; n++)
                visit(blocks[k * per_macroblock + static_cast<std::size_t>(n)].data(),
                      place_block(layout, i, j, n, field_dct));
        }
    }
}

// block = current - prediction over the 8x8 area.
void subtract_prediction(const std::uint8_t* prediction, const std::uint8_t* current, std::ptrdiff_t step,
                         std::int16_t* block) {
    for (int row = 0; row < 8; row++, prediction += step, current += step) {
#if defined(__SSE2__)
        const __m128i zero = _mm_setzero_si128();
        const __m128i c = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(current)), zero);
        const __m128i p = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(prediction)), zero);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(block + 8 * row), _mm_sub_epi16(c, p));
#else
        for (int col = 0; col < 8; col++)
            block[8 * row + col] = static_cast<std::int16_t>(current[col] - prediction[col]);
#endif
    }
}

// reconstruction = prediction + block, clipped to 0..255 through clip_table. The vector form
// clips by saturating to unsigned bytes, which is what the table holds.
void add_prediction([[maybe_unused]] const ClipTable& clip, const std::uint8_t* prediction,
                    std::uint8_t* reconstruction, std::ptrdiff_t step, const std::int16_t* block) {
    for (int row = 0; row < 8; row++, prediction += step, reconstruction += step) {
#if defined(__SSE2__)
        const __m128i p =
            _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(prediction)), _mm_setzero_si128());
        const __m128i sum = _mm_add_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * row)), p);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(reconstruction), _mm_packus_epi16(sum, sum));
#else
        // Inverse DCT output lies in -256..255, so the sums stay inside the table's -384..639.
        for (int col = 0; col < 8; col++) reconstruction[col] = clip(block[8 * row + col] + prediction[col]);
#endif
    }
}

}  // namespace

void transform_picture(const PictureContext& picture, const Kernels& kernels,
                       const std::vector<MacroblockInfo>& macroblocks, std::vector<Block>& blocks,
                       const Picture& prediction, const Picture& current) {
    for_each_block(picture, macroblocks, blocks, [&](std::int16_t* block, const BlockPlace& place) {
        subtract_prediction(prediction[place.component] + place.offset, current[place.component] + place.offset,
                            place.step, block);
        forward_dct(kernels, block);
    });
}

void inverse_transform_picture(const PictureContext& picture, const Kernels& kernels,
                               const std::vector<MacroblockInfo>& macroblocks, std::vector<Block>& blocks,
                               const Picture& prediction, Picture& reconstruction) {
    for_each_block(picture, macroblocks, blocks, [&](std::int16_t* block, const BlockPlace& place) {
        inverse_dct(kernels, block);
        add_prediction(kernels.clip, prediction[place.component] + place.offset,
                       reconstruction[place.component] + place.offset, place.step, block);
    });
}

}  // namespace vintrel
