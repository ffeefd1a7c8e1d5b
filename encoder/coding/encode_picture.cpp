// Picture, slice and macroblock coding.
#include "encoder/coding/encode_picture.h"

#include <emmintrin.h>

#include <bit>
#include <cstdio>
#include <cstdlib>

#include "encoder/coding/bit_writer.h"
#include "encoder/coding/quantise.h"
#include "encoder/coding/quantiser_scale_tables.h"
#include "encoder/coding/rate_control.h"
#include "encoder/coding/scan_tables.h"
#include "encoder/coding/stream_headers.h"
#include "encoder/coding/vlc_tables.h"
#include "encoder/coding/vlc_writers.h"

namespace vintrel {
namespace {

// Motion vector predictors [first/second][forward/backward][horizontal/vertical].
using Predictors = int[2][2][2];

const std::uint8_t* scan_of(const PictureHeader& header) {
    return header.alternate_scan ? alternate_scan_order.data() : zigzag_scan.data();
}

int quantiser_scale_code(const PictureHeader& header, int q) {
    return header.q_scale_type ? linear_to_code_map[static_cast<std::size_t>(q)] : q >> 1;
}

void put(const CodeWriter& out, int value, int n) { write_bits(out.bits, static_cast<std::uint32_t>(value), n); }

void write_slice_header(const CodeWriter& out, const PictureHeader& header, int vertical_size, int row,
                        int previous_q) {
    align_to_byte(out.bits);
    if (out.mpeg1 || vertical_size <= 2800) {
        put(out, 0x101 + row, 32);
    } else {
        put(out, 0x101 + (row & 127), 32);
        put(out, row >> 7, 3);  // slice_vertical_position_extension
    }
    put(out, quantiser_scale_code(header, previous_q), 5);
    put(out, 0, 1);  // extra_bit_slice
}

void write_motion_vectors(const CodeWriter& out, PictureStructure structure, const MacroblockInfo& mb, Predictors& pmv,
                          int dir, int hf, int vf) {
    const auto& mv = mb.motion_vectors;
    auto same_for_both = [&pmv, dir](const int (&v)[2]) {
        for (int t = 0; t < 2; t++) pmv[0][dir][t] = pmv[1][dir][t] = v[t];
    };
    auto each_own = [&pmv, &mv, dir]() {
        for (int r = 0; r < 2; r++)
            for (int t = 0; t < 2; t++) pmv[r][dir][t] = mv[r][dir][t];
    };
    if (structure == PictureStructure::frame) {
        if (mb.motion_type == MotionType::frame) {  // frame
            write_motion_vector(out, mv[0][dir][0] - pmv[0][dir][0], hf);
            write_motion_vector(out, mv[0][dir][1] - pmv[0][dir][1], vf);
            same_for_both(mv[0][dir]);
        } else if (mb.motion_type == MotionType::field) {  // field: vertical components in field units
            for (int r = 0; r < 2; r++) {
                put(out, mb.field_select[r][dir], 1);
                write_motion_vector(out, mv[r][dir][0] - pmv[r][dir][0], hf);
                write_motion_vector(out, (mv[r][dir][1] >> 1) - (pmv[r][dir][1] >> 1), vf);
            }
            each_own();
        } else {  // dual prime
            write_motion_vector(out, mv[0][dir][0] - pmv[0][dir][0], hf);
            write_dual_prime(out, mb.dual_prime_vector[0]);
            write_motion_vector(out, (mv[0][dir][1] >> 1) - (pmv[0][dir][1] >> 1), vf);
            write_dual_prime(out, mb.dual_prime_vector[1]);
            same_for_both(mv[0][dir]);
        }
        return;
    }
    if (mb.motion_type == MotionType::field) {  // field
        put(out, mb.field_select[0][dir], 1);
        write_motion_vector(out, mv[0][dir][0] - pmv[0][dir][0], hf);
        write_motion_vector(out, mv[0][dir][1] - pmv[0][dir][1], vf);
        same_for_both(mv[0][dir]);
    } else if (mb.motion_type == MotionType::field_16x8) {  // 16x8
        for (int r = 0; r < 2; r++) {
            put(out, mb.field_select[r][dir], 1);
            write_motion_vector(out, mv[r][dir][0] - pmv[r][dir][0], hf);
            write_motion_vector(out, mv[r][dir][1] - pmv[r][dir][1], vf);
        }
        each_own();
    } else {  // dual prime
        write_motion_vector(out, mv[0][dir][0] - pmv[0][dir][0], hf);
        write_dual_prime(out, mb.dual_prime_vector[0]);
        write_motion_vector(out, mv[0][dir][1] - pmv[0][dir][1], vf);
        write_dual_prime(out, mb.dual_prime_vector[1]);
        same_for_both(mv[0][dir]);
    }
}

void clear_predictors(int (&dc_predictor)[3], Predictors& pmv) {
    dc_predictor[0] = dc_predictor[1] = dc_predictor[2] = 0;
    for (auto& r : pmv)
        for (auto& d : r) d[0] = d[1] = 0;
}

// A B macroblock repeats its left neighbour's prediction exactly: same directions, vectors
// equal to the predictors (and, in a field picture, the field of the same parity). A decoder
// rebuilds a skipped macroblock with the left neighbour's motion type and field selections, so
// those must be the macroblock's own as well: a frame vector equal to the first vector of a
// field-predicted neighbour is no reason to skip.
bool b_macroblock_skippable(PictureStructure structure, const MacroblockInfo& mb, const MacroblockInfo& left,
                            MacroblockType type, const Predictors& pmv) {
    const MacroblockType directions = MacroblockFlag::forward | MacroblockFlag::backward;
    const bool frame = structure == PictureStructure::frame;
    if (mb.motion_type != (frame ? MotionType::frame : MotionType::field) || left.motion_type != mb.motion_type) return false;
    if ((type & directions) != (left.macroblock_type & directions)) return false;
    for (int dir = 0; dir < 2; dir++) {
        if (!type.has(dir == 0 ? MacroblockFlag::forward : MacroblockFlag::backward)) continue;
        if (mb.motion_vectors[0][dir][0] != pmv[0][dir][0] || mb.motion_vectors[0][dir][1] != pmv[0][dir][1])
            return false;
        if (!frame && (mb.field_select[0][dir] != (structure == PictureStructure::bottom_field ? 1 : 0) ||
                       left.field_select[0][dir] != mb.field_select[0][dir]))
            return false;
    }
    return true;
}

}  // namespace

void write_motion_vector(const CodeWriter& out, int d, int f_code) {
    const int r_size = f_code - 1;
    const int f = 1 << r_size;
    const int high = 16 * f - 1, low = -16 * f;
    if (d > high)
        d -= 32 * f;
    else if (d < low)
        d += 32 * f;
    if (d > high || d < low) out.report.warning("invalid motion vector\n");
    const int t = std::abs(d) + f - 1;
    const int motion_code = d < 0 ? -(t >> r_size) : t >> r_size;
    write_motion_code(out, motion_code);
    if (r_size != 0 && motion_code != 0) put(out, t & (f - 1), r_size);
}

// The block's coefficients in scan order, and a mask with bit n set where the n-th is not 0:
// the coder then visits only the coefficients it writes.
std::uint64_t scan_block(const std::int16_t* block, const std::uint8_t* scan, std::int16_t (&scanned)[64]) {
    for (int n = 0; n < 64; n++) scanned[n] = block[scan[n]];
    std::uint64_t nonzero = 0;
    const __m128i zero = _mm_setzero_si128();
    for (int n = 0; n < 64; n += 16) {
        const __m128i a = _mm_cmpeq_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(scanned + n)), zero);
        const __m128i b = _mm_cmpeq_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(scanned + n + 8)), zero);
        const auto zeros = static_cast<std::uint64_t>(_mm_movemask_epi8(_mm_packs_epi16(a, b)));
        nonzero |= (~zeros & 0xFFFF) << n;
    }
    return nonzero;
}

void write_intra_block(const CodeWriter& out, const PictureHeader& header, int (&dc_predictor)[3],
                       const std::int16_t* block, int cc) {
    const int difference = block[0] - dc_predictor[cc];
    dc_predictor[cc] = block[0];
    if (cc == 0)
        write_dc_luminance(out, difference);
    else
        write_dc_chrominance(out, difference);
    std::int16_t scanned[64];
    std::uint64_t nonzero = scan_block(block, scan_of(header), scanned) & ~std::uint64_t{1};
    for (int previous = 0; nonzero != 0; nonzero &= nonzero - 1) {
        const int n = std::countr_zero(nonzero);
        write_ac(out, n - previous - 1, scanned[n], header.intra_vlc_format);
        previous = n;
    }
    const VlcCode eob = header.intra_vlc_format ? end_of_block_b15 : end_of_block_b14;
    write_bits(out.bits, eob.code, eob.length);
}

void write_non_intra_block(const CodeWriter& out, const PictureHeader& header, const std::int16_t* block) {
    std::int16_t scanned[64];
    std::uint64_t nonzero = scan_block(block, scan_of(header), scanned);
    for (int previous = -1; nonzero != 0; nonzero &= nonzero - 1) {
        const int n = std::countr_zero(nonzero);
        if (previous < 0)
            write_first_ac(out, n, scanned[n]);
        else
            write_ac(out, n - previous - 1, scanned[n], 0);
        previous = n;
    }
    write_bits(out.bits, end_of_block_b14.code, end_of_block_b14.length);
}

void encode_picture(EncoderState& s, const std::uint8_t* source_luma) {
    const PictureContext picture{s.params, s.geometry, s.header};
    start_picture_rate_control(s.rc, picture, s.buffers.macroblock_info, s.statistics.file, source_luma,
                               bits_written(s.bits));
    // The delay counts to the end of the picture start code: the next byte boundary and 32 bits on.
    s.header.vbv_delay =
        compute_vbv_delay(s.rc, picture, s.report, s.statistics.file, (bits_written(s.bits) + 7) / 8 * 8 + 32);
    write_picture_header(s.header, s.params, s.bits);
    if (!s.params.is_mpeg1) write_picture_coding_extension(s.header, s.params, s.bits);
    int previous_q = initial_quantiser_scale(s.rc, s.header);
    const CodeWriter out{s.bits, s.params.is_mpeg1, s.report};
    const PictureHeader& header = s.header;

    const int bpm = s.geometry.blocks_per_macroblock;
    const int all_blocks = (1 << bpm) - 1;
    Predictors pmv = {};
    int address_increment = 1;
    int k = 0;
    for (int j = 0; j < s.geometry.field_macroblock_rows; j++) {
        for (int i = 0; i < s.geometry.macroblock_columns; i++, k++) {
            if (i == 0) {
                write_slice_header(out, header, s.params.vertical_size, j, previous_q);
                clear_predictors(s.dc_predictor, pmv);
                address_increment = i + 1;
            }
            MacroblockInfo& mb = s.buffers.macroblock_info[static_cast<std::size_t>(k)];
            std::array<std::int16_t, 64>* blocks = &s.buffers.blocks[static_cast<std::size_t>(k) * static_cast<std::size_t>(bpm)];
            MacroblockType type = mb.macroblock_type;
            const int q = macroblock_quantiser_scale(s.rc, s.geometry, header, s.buffers.macroblock_info, k,
                                                     bits_written(s.bits));
            mb.mquant = q;

            int pattern = 0;
            if (type.has(MacroblockFlag::intra)) {
                for (int b = 0; b < bpm; b++)
                    quantise_intra(s.kernels.simd, s.params.is_mpeg1, blocks[b].data(), blocks[b].data(), s.params.intra_dc_precision,
                                   s.params.intra_quant_matrix.data(), q);
                pattern = all_blocks;
            } else {
                for (int b = 0; b < bpm; b++)
                    pattern = pattern * 2 +
                              quantise_non_intra(s.kernels.simd, s.params.is_mpeg1, blocks[b].data(), blocks[b].data(), s.params.non_intra_quant_matrix.data(), q);
                if (pattern) type |= MacroblockFlag::pattern;
            }
            mb.coded_block_pattern = pattern;
            if (pattern && q != previous_q) type |= MacroblockFlag::quantiser;

            bool skip = false;
            if (i != 0 && i != s.geometry.macroblock_columns - 1 && pattern == 0) {
                if (header.picture_type == PictureType::P && !type.has(MacroblockFlag::forward)) {
                    skip = true;
                    clear_predictors(s.dc_predictor, pmv);
                } else if (header.picture_type == PictureType::B) {
                    skip =
                        b_macroblock_skippable(header.picture_structure, mb,
                                               s.buffers.macroblock_info[static_cast<std::size_t>(k - 1)], type, pmv);
                }
            }
            if (skip) {
                mb.macroblock_type = type;
                mb.skipped = true;
                address_increment++;
                continue;
            }

            mb.skipped = false;
            if (header.picture_type == PictureType::P && pattern == 0 && !type.has(MacroblockFlag::forward))
                type |= MacroblockFlag::forward;
            write_address_increment(out, address_increment);
            address_increment = 1;
            write_macroblock_type(out, header.picture_type, type);
            // Field pictures always carry the motion type: they have no frame prediction to imply.
            if ((type.has(MacroblockFlag::forward) || type.has(MacroblockFlag::backward)) &&
                (!header.frame_pred_frame_dct || header.picture_structure != PictureStructure::frame))
                put(out, syntax_value(mb.motion_type), 2);
            if (header.picture_structure == PictureStructure::frame && pattern && !header.frame_pred_frame_dct)
                put(out, syntax_value(mb.dct_type), 1);
            if (type.has(MacroblockFlag::quantiser)) {
                put(out, quantiser_scale_code(header, q), 5);
                previous_q = q;
            }
            if (type.has(MacroblockFlag::forward))
                write_motion_vectors(out, header.picture_structure, mb, pmv, 0, header.forw_hor_f_code,
                                     header.forw_vert_f_code);
            if (type.has(MacroblockFlag::backward))
                write_motion_vectors(out, header.picture_structure, mb, pmv, 1, header.back_hor_f_code,
                                     header.back_vert_f_code);
            if (type.has(MacroblockFlag::pattern)) {
                write_coded_block_pattern(out, (pattern >> (bpm - 6)) & 63);
                if (s.params.chroma_format != ChromaFormat::yuv420) put(out, pattern & ((1 << (bpm - 6)) - 1), bpm - 6);
            }
            for (int b = 0; b < bpm; b++) {
                if (!(pattern & (1 << (bpm - 1 - b)))) continue;
                if (type.has(MacroblockFlag::intra))
                    write_intra_block(out, header, s.dc_predictor, blocks[b].data(), b < 4 ? 0 : 1 + (b & 1));
                else
                    write_non_intra_block(out, header, blocks[b].data());
            }
            if (!type.has(MacroblockFlag::intra)) s.dc_predictor[0] = s.dc_predictor[1] = s.dc_predictor[2] = 0;
            if (type.has(MacroblockFlag::intra) ||
                (header.picture_type == PictureType::P && !type.has(MacroblockFlag::forward)))
                for (auto& r : pmv)
                    for (auto& d : r) d[0] = d[1] = 0;
            mb.macroblock_type = type;
        }
    }
    end_picture_rate_control(s.rc, s.geometry, header, s.statistics.file, bits_written(s.bits));
    update_vbv_at_picture_end(s.rc, bits_written(s.bits));
}

}  // namespace vintrel
