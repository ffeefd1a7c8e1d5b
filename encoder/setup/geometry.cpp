// Picture sizes from the parameters.
#include "encoder/setup/geometry.h"

namespace vintrel {

Geometry compute_geometry(const Parameters& p) {
    Geometry g;
    g.macroblock_columns = (p.horizontal_size + 15) / 16;
    g.macroblock_rows = p.progressive_sequence ? (p.vertical_size + 15) / 16 : 2 * ((p.vertical_size + 31) / 32);
    g.field_macroblock_rows = p.field_pictures ? g.macroblock_rows / 2 : g.macroblock_rows;
    g.coded_width = 16 * g.macroblock_columns;
    g.coded_height = 16 * g.macroblock_rows;
    g.chroma_width = p.chroma_format == ChromaFormat::yuv444 ? g.coded_width : g.coded_width / 2;
    g.chroma_height = p.chroma_format == ChromaFormat::yuv420 ? g.coded_height / 2 : g.coded_height;
    g.picture_height = p.field_pictures ? g.coded_height / 2 : g.coded_height;
    g.line_stride = p.field_pictures ? 2 * g.coded_width : g.coded_width;
    g.chroma_line_stride = p.field_pictures ? 2 * g.chroma_width : g.chroma_width;
    g.blocks_per_macroblock = p.chroma_format == ChromaFormat::yuv420   ? 6
                              : p.chroma_format == ChromaFormat::yuv422 ? 8
                                                                        : 12;
    return g;
}

}  // namespace vintrel
