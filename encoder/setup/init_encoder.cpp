// Encoder initialisation for one conversion.
#include "encoder/setup/init_encoder.h"

#include <new>

#include "encoder/coding/bit_writer.h"
#include "encoder/coding/transform.h"
#include "encoder/setup/fatal_error.h"

namespace vintrel {
namespace {

void derive_sizes(EncoderState& s) {
    s.macroblock_columns = (s.horizontal_size + 15) / 16;
    s.macroblock_rows = s.progressive_sequence ? (s.vertical_size + 15) / 16 : 2 * ((s.vertical_size + 31) / 32);
    s.field_macroblock_rows = s.field_pictures ? s.macroblock_rows / 2 : s.macroblock_rows;
    s.coded_width = 16 * s.macroblock_columns;
    s.coded_height = 16 * s.macroblock_rows;
    s.chroma_width = s.chroma_format == 3 ? s.coded_width : s.coded_width / 2;
    s.chroma_height = s.chroma_format == 1 ? s.coded_height / 2 : s.coded_height;
    s.picture_height = s.field_pictures ? s.coded_height / 2 : s.coded_height;
    s.line_stride = s.field_pictures ? 2 * s.coded_width : s.coded_width;
    s.chroma_line_stride = s.field_pictures ? 2 * s.chroma_width : s.chroma_width;
    s.blocks_per_macroblock = s.chroma_format == 1 ? 6 : s.chroma_format == 2 ? 8 : 12;
}

void fill_clip_table(EncoderState& s) {
    for (int i = -384; i < 640; i++) s.clip_table[static_cast<std::size_t>(i + 384)] =
        static_cast<std::uint8_t>(i < 0 ? 0 : i > 255 ? 255 : i);
}

void allocate_buffers(EncoderState& s) {
    const std::size_t luma = static_cast<std::size_t>(s.coded_width) * static_cast<std::size_t>(s.coded_height);
    const std::size_t chroma = static_cast<std::size_t>(s.chroma_width) * static_cast<std::size_t>(s.chroma_height);
    Picture* pictures[] = {&s.new_ref_frame, &s.old_ref_frame, &s.aux_frame, &s.new_org_frame,
                           &s.old_org_frame, &s.aux_org_frame, &s.pred_frame};
    for (int c = 0; c < 3; c++)
        for (Picture* p : pictures) p->plane[static_cast<std::size_t>(c)].assign(c == 0 ? luma : chroma, 0);
    const std::size_t macroblocks =
        static_cast<std::size_t>(s.macroblock_columns) * static_cast<std::size_t>(s.field_macroblock_rows);
    s.macroblock_info.assign(macroblocks, MacroblockInfo{});
    s.blocks.assign(macroblocks * static_cast<std::size_t>(s.blocks_per_macroblock), {});
}

}  // namespace

void init_encoder(EncoderState& s) {
    init_bit_writer(s.bits, s.bits.out);  // the stream file stays the one the caller opened
    init_forward_dct(s);
    init_inverse_dct(s);
    derive_sizes(s);
    fill_clip_table(s);
    try {
        allocate_buffers(s);
    } catch (const std::bad_alloc&) {
        fatal_error(s, "malloc failed\n");
    }

    close_statistics_file(s);
    if (!s.statistics_file_name.empty() && s.statistics_file_name[0] == '-') {
        s.statistics_file = stdout;
        s.statistics_file_owned = false;
    } else {
        s.statistics_file = std::fopen(s.statistics_file_name.c_str(), "w");
        if (!s.statistics_file)
            fatal_error(s, error_text("Couldn't create statistics output file %s", s.statistics_file_name.c_str()));
        s.statistics_file_owned = true;
    }
}

bool close_statistics_file(EncoderState& s) {
    if (!s.statistics_file) return true;
    bool ok;
    if (s.statistics_file_owned) {
        const bool had_error = std::ferror(s.statistics_file) != 0;
        ok = std::fclose(s.statistics_file) == 0 && !had_error;
    } else {
        ok = std::fflush(s.statistics_file) == 0 && std::ferror(s.statistics_file) == 0;
    }
    s.statistics_file = nullptr;
    s.statistics_file_owned = false;
    return ok;
}

EncoderState::~EncoderState() { close_statistics_file(*this); }

}  // namespace vintrel
