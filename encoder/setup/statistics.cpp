// The per-picture statistics report.
#include "encoder/setup/statistics.h"

#include <cstddef>
#include <cstdio>

namespace vintrel {
namespace {

struct PictureCounts {
    int intra = 0;
    int coded_blocks = 0;
    int not_coded = 0;
    int skipped = 0;
    int forward = 0;
    int backward = 0;
    int interpolated = 0;
};

PictureCounts count_macroblocks(const std::vector<MacroblockInfo>& info, std::size_t macroblocks,
                                int blocks_per_macroblock) {
    PictureCounts n;
    for (std::size_t k = 0; k < macroblocks; k++) {
        const MacroblockInfo& mb = info[k];
        const MacroblockType type = mb.macroblock_type;
        if (mb.skipped) {
            n.skipped++;
        } else if (type.has(MacroblockFlag::intra)) {
            n.intra++;
        } else if (!type.has(MacroblockFlag::pattern)) {
            n.not_coded++;
        }
        for (int b = 0; b < blocks_per_macroblock && b < 31; b++)
            if (mb.coded_block_pattern & (1 << b)) n.coded_blocks++;
        const bool forward = type.has(MacroblockFlag::forward);
        const bool backward = type.has(MacroblockFlag::backward);
        if (forward && !backward) n.forward++;
        if (backward && !forward) n.backward++;
        if (forward && backward) n.interpolated++;
    }
    return n;
}

// A share in percent; an empty picture has no share to show.
double percent(int count, long long total) { return total > 0 ? count * 100.0 / static_cast<double>(total) : 0.0; }

char type_character(const MacroblockInfo& mb) {
    if (mb.skipped) return 'S';
    const MacroblockType type = mb.macroblock_type;
    if (type.has(MacroblockFlag::intra)) return 'I';
    const bool forward = type.has(MacroblockFlag::forward);
    const bool backward = type.has(MacroblockFlag::backward);
    if (forward && !backward) return mb.motion_type == MotionType::field ? 'f' : mb.motion_type == MotionType::dual_prime ? 'p' : 'F';
    if (backward && !forward) return mb.motion_type == MotionType::field ? 'b' : 'B';
    if (forward && backward) return mb.motion_type == MotionType::field ? 'd' : 'D';
    return '0';
}

char quantiser_character(const MacroblockInfo& mb) {
    const MacroblockType type = mb.macroblock_type;
    if (type.has(MacroblockFlag::quantiser)) return 'Q';
    if (type.has(MacroblockFlag::intra) || type.has(MacroblockFlag::pattern)) return ' ';
    return 'N';
}

std::size_t macroblock_index(int columns, int row, int column) {
    return static_cast<std::size_t>(row) * static_cast<std::size_t>(columns) + static_cast<std::size_t>(column);
}

// Writes rows of a picture plane to PATH, checking every write and the close.
}  // namespace

void print_statistics(std::FILE* out, const Geometry& geometry, const std::vector<MacroblockInfo>& macroblock_info) {
    if (!out) return;
    const int columns = geometry.macroblock_columns > 0 ? geometry.macroblock_columns : 0;
    const int rows = geometry.field_macroblock_rows > 0 ? geometry.field_macroblock_rows : 0;
    const std::size_t macroblocks = static_cast<std::size_t>(columns) * static_cast<std::size_t>(rows);
    // Records that do not cover the picture cannot be reported on.
    if (macroblocks > macroblock_info.size()) return;
    const auto total = static_cast<long long>(macroblocks);

    const PictureCounts n = count_macroblocks(macroblock_info, macroblocks, geometry.blocks_per_macroblock);
    const long long blocks = total * geometry.blocks_per_macroblock;
    std::fprintf(out, "\npicture statistics:\n");
    std::fprintf(out, " # of intra coded macroblocks:  %4d (%.1f%%)\n", n.intra, percent(n.intra, total));
    std::fprintf(out, " # of coded blocks:             %4d (%.1f%%)\n", n.coded_blocks,
                 percent(n.coded_blocks, blocks));
    std::fprintf(out, " # of not coded macroblocks:    %4d (%.1f%%)\n", n.not_coded, percent(n.not_coded, total));
    std::fprintf(out, " # of skipped macroblocks:      %4d (%.1f%%)\n", n.skipped, percent(n.skipped, total));
    std::fprintf(out, " # of forw. pred. macroblocks:  %4d (%.1f%%)\n", n.forward, percent(n.forward, total));
    std::fprintf(out, " # of backw. pred. macroblocks: %4d (%.1f%%)\n", n.backward, percent(n.backward, total));
    std::fprintf(out, " # of interpolated macroblocks: %4d (%.1f%%)\n", n.interpolated,
                 percent(n.interpolated, total));

    std::fprintf(out, "\nmacroblock_type map:\n");
    for (int row = 0; row < rows; row++) {
        for (int column = 0; column < columns; column++) {
            const MacroblockInfo& mb = macroblock_info[macroblock_index(columns, row, column)];
            std::fprintf(out, "%c%c ", type_character(mb), quantiser_character(mb));
        }
        std::fputc('\n', out);
    }

    // Within a row, a quantiser equal to the one on its left is left blank.
    std::fprintf(out, "\nmquant map:\n");
    for (int row = 0; row < rows; row++) {
        for (int column = 0; column < columns; column++) {
            const int mquant = macroblock_info[macroblock_index(columns, row, column)].mquant;
            const bool repeats =
                column > 0 && mquant == macroblock_info[macroblock_index(columns, row, column - 1)].mquant;
            if (repeats)
                std::fputs("   ", out);
            else
                std::fprintf(out, "%3d", mquant);
        }
        std::fputc('\n', out);
    }
}

}  // namespace vintrel
