// Streams coded by vintrel-encode from raw pictures written at test time, decoded by an independent decoder
// (FFmpeg's: the ffmpeg program for the pictures, its library in this process for picture types and motion
// vectors). The decoder must accept them silently and its pictures must match our reconstruction.
//
// Intra streams cover a matrix of parameter sets. Streams with predicted pictures (P and B, frame and field
// pictures, dual prime, MPEG-1 and MPEG-2 in every chroma format) are coded from a panned texture with a
// moving object: the decoder must show the source frames in display order, stay close to our reconstruction
// over a whole group of pictures (no drift), and read vectors from P and B pictures that follow the pan.
#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/motion_vector.h>
}

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tests/parameter_table_for_test.h"
#include "tests/run_program_for_test.h"
#include "tests/scratch_directory_for_test.h"

namespace vintrel {
namespace {

using test::fresh_scratch_folder;
using test::read_file;
using test::run_program;
using test::ProgramResult;
using test::ParameterTable;

// Replacements of numbered parameter lines.
using ParameterLines = std::vector<std::pair<int, std::string>>;

ParameterLines with(ParameterLines base, const ParameterLines& more) {
    base.insert(base.end(), more.begin(), more.end());
    return base;
}

// Peak signal-to-noise ratio of two equally long sample strings; 99 dB when they are equal.
double psnr(std::string_view a, std::string_view b) {
    double sum = 0;
    for (std::size_t i = 0; i < a.size(); i++) {
        const double d = static_cast<unsigned char>(a[i]) - static_cast<unsigned char>(b[i]);
        sum += d * d;
    }
    return sum == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 * static_cast<double>(a.size()) / sum);
}

// A stream of `frames` pictures with chroma_format 1 (4:2:0), 2 (4:2:2) or 3 (4:4:4), coded from the files
// <dir>/src<f>.yuv into <dir>/out.mpg and reconstructed into <dir>/rec<f>.Y/.U/.V.
struct EncodedStream {
    std::string dir;
    int width, height, chroma_format, frames;

    int chroma_width() const { return chroma_format == 3 ? width : width / 2; }
    int chroma_height() const { return chroma_format == 1 ? height / 2 : height; }
    std::size_t luma_size() const { return static_cast<std::size_t>(width * height); }
    std::size_t frame_size() const { return luma_size() + 2 * static_cast<std::size_t>(chroma_width() * chroma_height()); }
    std::string stream_path() const { return dir + "/out.mpg"; }
    std::string source_path(int f) const { return dir + "/src" + std::to_string(f) + ".yuv"; }

    // Source picture f: the three planes one after the other, as the encoder's .yuv reader takes them.
    void write_source(int f, const std::vector<std::uint8_t>& planes) const {
        std::ofstream(source_path(f), std::ios::binary)
            .write(reinterpret_cast<const char*>(planes.data()), static_cast<std::streamsize>(planes.size()));
    }

    // Codes the sources with raw .yuv input, reconstruction and statistics in the directory, the picture size
    // and count, optionally loaded quantiser matrices, then `lines`.
    ProgramResult encode(const ParameterLines& lines, bool loaded_matrices = false) const {
        ParameterTable table;
        table.set(1, dir + "/src%d").set(2, dir + "/rec%d").set(5, dir + "/stat.out").set(6, "1");
        table.set(7, std::to_string(frames)).set(14, std::to_string(width)).set(15, std::to_string(height));
        table.set(30, std::to_string(width)).set(31, std::to_string(height));
        if (loaded_matrices) {
            std::ofstream intra(dir + "/intra.mat"), non_intra(dir + "/non_intra.mat");
            for (int i = 0; i < 64; i++) {
                intra << 8 + (i * 7) % 60 << (i % 8 == 7 ? "\n" : " ");
                non_intra << 12 + i % 20 << " ";
            }
            table.set(3, dir + "/intra.mat").set(4, dir + "/non_intra.mat");
        }
        for (const auto& [k, text] : lines) table.set(k, text);
        std::ofstream parameters(dir + "/lines.par");
        for (const std::string& line : table.lines()) parameters << line << "\n";
        parameters.close();
        return run_program(std::string(VINTREL_ENCODE_PATH) + " --lines " + dir + "/lines.par " + stream_path());
    }

    // Decodes the stream with the ffmpeg program into raw pictures in display order (none dropped or
    // repeated): the decoder must take it without a word and give `frames` pictures, each within `min_psnr`
    // of our reconstruction. Returns the decoded pictures and the lowest PSNR.
    std::pair<std::string, double> expect_decodes_to_reconstruction(double min_psnr) const {
        const char* format = chroma_format == 1 ? "yuv420p" : chroma_format == 2 ? "yuv422p" : "yuv444p";
        const ProgramResult decoded = run_program("ffmpeg -nostdin -v error -i " + stream_path() +
                                                  " -vsync passthrough -f rawvideo -pix_fmt " + format + " -y " + dir +
                                                  "/decoded.yuv");
        EXPECT_EQ(decoded.exit_code, 0) << decoded.err;
        EXPECT_EQ(decoded.err, "") << "the decoder complained";
        const std::string pictures = read_file(dir + "/decoded.yuv");
        if (pictures.size() != frame_size() * static_cast<std::size_t>(frames)) {
            ADD_FAILURE() << "wrong number or size of pictures: " << pictures.size() << " bytes";
            return {"", 0.0};
        }
        double lowest = 99.0;
        for (int f = 0; f < frames; f++) {
            const std::string rec = dir + "/rec" + std::to_string(f);
            const double p = psnr(std::string_view(pictures).substr(f * frame_size(), frame_size()),
                                  read_file(rec + ".Y") + read_file(rec + ".U") + read_file(rec + ".V"));
            EXPECT_GE(p, min_psnr) << "decoded frame " << f << " against our reconstruction";
            lowest = std::min(lowest, p);
        }
        return {pictures, lowest};
    }
};

struct DecodedVector {
    int direction;        // -1 from the past reference, +1 from the future one
    int x, y;             // centre of the predicted area in the picture (samples)
    int width, height;    // size of the predicted area (16 x 16, or 16 x 8 for field and 16 x 8 prediction)
    // The vector in half samples as the decoder reports it: vertically in frame lines for frame prediction and
    // in field lines for 16 x 16 field-picture prediction and frame-picture dual prime; the vertical part of
    // 16 x 8 areas (field prediction in frame pictures, 16 x 8 prediction in field pictures) it doubles.
    int dx, dy;
};

struct DecodedPicture {
    char type = '?';      // 'I', 'P' or 'B'
    bool interlaced = false;
    bool top_field_first = false;
    std::vector<DecodedVector> vectors;
};

// Decodes the video stream in `path` into `pictures`; returns why it could not, or "".
std::string decode_with_vectors(const std::string& path, std::vector<DecodedPicture>& pictures) {
    av_log_set_level(AV_LOG_ERROR);  // no notes on estimated durations of elementary streams
    struct Resources {
        AVFormatContext* format = nullptr;
        AVCodecContext* codec = nullptr;
        AVPacket* packet = av_packet_alloc();
        AVFrame* frame = av_frame_alloc();
        ~Resources() {
            av_frame_free(&frame);
            av_packet_free(&packet);
            avcodec_free_context(&codec);
            avformat_close_input(&format);
        }
    } r;
    if (avformat_open_input(&r.format, path.c_str(), av_find_input_format("mpegvideo"), nullptr) < 0 ||
        avformat_find_stream_info(r.format, nullptr) < 0 || r.format->nb_streams != 1)
        return "no video stream in " + path;
    const AVCodec* decoder = avcodec_find_decoder(r.format->streams[0]->codecpar->codec_id);
    r.codec = avcodec_alloc_context3(decoder);
    if (!decoder || !r.codec || avcodec_parameters_to_context(r.codec, r.format->streams[0]->codecpar) < 0)
        return "no decoder for " + path;
    r.codec->thread_count = 1;
    r.codec->export_side_data |= AV_CODEC_EXPORT_DATA_MVS;
    if (avcodec_open2(r.codec, decoder, nullptr) < 0) return "cannot start the decoder for " + path;

    auto receive = [&]() {
        while (avcodec_receive_frame(r.codec, r.frame) == 0) {
            DecodedPicture picture{av_get_picture_type_char(r.frame->pict_type), r.frame->interlaced_frame != 0,
                                   r.frame->top_field_first != 0, {}};
            if (const AVFrameSideData* side = av_frame_get_side_data(r.frame, AV_FRAME_DATA_MOTION_VECTORS)) {
                const auto* mv = reinterpret_cast<const AVMotionVector*>(side->data);
                for (std::size_t k = 0; k < side->size / sizeof(AVMotionVector); k++) {
                    const int scale = mv[k].motion_scale ? mv[k].motion_scale : 1;
                    picture.vectors.push_back({mv[k].source < 0 ? -1 : 1, mv[k].dst_x, mv[k].dst_y, mv[k].w, mv[k].h,
                                               mv[k].motion_x * 2 / scale, mv[k].motion_y * 2 / scale});
                }
            }
            pictures.push_back(std::move(picture));
            av_frame_unref(r.frame);
        }
    };
    while (av_read_frame(r.format, r.packet) >= 0) {
        const int sent = avcodec_send_packet(r.codec, r.packet);
        av_packet_unref(r.packet);
        if (sent < 0) return "the decoder refused a packet of " + path;
        receive();
    }
    avcodec_send_packet(r.codec, nullptr);
    receive();
    return "";
}

// ---- Predicted streams ----

struct MotionCase {
    const char* name;
    int width, height;
    int chroma_format;  // 1 4:2:0, 2 4:2:2, 3 4:4:4
    ParameterLines lines;
    // Picture types in display order, worked out by hand from N, M and the frame count.
    const char* display_types;
    // Motion of the background per frame, in half samples (positive: right and down).
    int pan_x, pan_y;
    bool loaded_matrices = false;
};

void PrintTo(const MotionCase& c, std::ostream* out) { *out << c.name; }

const ParameterLines mpeg1_ibbp = {{10, "15"}, {11, "3"}};
// MPEG-2 Main Profile, progressive frames: frame prediction and frame DCT only.
const ParameterLines mpeg2_progressive = {{12, "0"}, {25, "1"}, {24, "1"}, {40, "1"}, {33, "0"}};
// MPEG-2 Main Profile, interlaced frames, field and frame prediction, field DCT.
const ParameterLines interlaced = {{12, "0"}, {25, "1"}, {24, "0"}, {40, "0"}, {33, "1"}, {34, "0 0 0"}};
const ParameterLines interlaced_ibbp = with(interlaced, {{10, "12"}, {11, "3"}});
const ParameterLines nonlinear_q_vlc1_alternate = {{36, "1 1 1"}, {37, "1 1 1"}, {38, "1 1 1"}};
const ParameterLines field_pictures = {{13, "1"}};

// Background texture: a sum of sinusoids of unrelated frequencies, smooth enough that a half-sample shift is
// close to the average of two neighbouring samples, and without any period inside the search ranges.
double texture(double x, double y) {
    return 128 + 42 * std::sin(0.21 * x + 0.13 * y) + 30 * std::sin(0.05 * x - 0.23 * y + 1.0) +
           22 * std::cos(0.37 * x + 0.31 * y + 2.0) + 18 * std::sin(0.43 * x - 0.17 * y);
}

// The moving object: a 24 x 24 checkerboard moving two samples left and one down per frame.
constexpr int object_size = 24;
double object_x(const MotionCase& c, double t) { return c.width * 0.6 - 2 * t; }
double object_y(const MotionCase& c, double t) { return c.height * 0.15 + t; }

std::uint8_t clip(double v) { return static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : std::lround(v)); }

// Background macroblocks of P or B pictures: how many there are, and how many carry vectors equal to the pan
// or within one half sample of it, as the decoder reads them.
struct VectorCount {
    int eligible = 0, exact = 0, near = 0;
    double share(int count) const { return eligible ? static_cast<double>(count) / eligible : 1.0; }
};

class MotionDecoder : public testing::TestWithParam<MotionCase> {
protected:
    const MotionCase& c = GetParam();
    EncodedStream stream{fresh_scratch_folder("motion_" + std::string(c.name)), c.width, c.height, c.chroma_format,
                         static_cast<int>(std::string_view(c.display_types).size())};

    // The text of parameter line k as the case sets it (the last setting wins), or `otherwise`.
    std::string line(int k, const std::string& otherwise) const {
        std::string text = otherwise;
        for (const auto& [n, t] : c.lines)
            if (n == k) text = t;
        return text;
    }
    bool interlaced_source() const { return line(24, "0") == "0" && line(12, "1") == "0"; }
    bool top_field_first() const { return line(33, "1") == "1"; }
    bool field_pictures() const { return line(13, "0") == "1"; }

    // Time of a field of frame f: in interlaced sources the second field is half a frame later.
    double field_time(int f, bool bottom) const {
        return f + (interlaced_source() && bottom == top_field_first() ? 0.5 : 0.0);
    }
    double row_time(int f, int row) const { return field_time(f, row % 2 == 1); }

    bool inside_object(int f, int row, int col) const {
        const int ox = static_cast<int>(std::floor(object_x(c, row_time(f, row))));
        const int oy = static_cast<int>(std::floor(object_y(c, f)));
        return col >= ox && col < ox + object_size && row >= oy && row < oy + object_size;
    }

    // Luminance at a sample of frame f: the panned texture, or the object.
    double luminance(int f, int row, int col) const {
        const double t = row_time(f, row);
        if (inside_object(f, row, col)) return ((col - static_cast<int>(std::floor(object_x(c, t)))) / 4 + row / 4) % 2 ? 220 : 30;
        return texture(col - c.pan_x * 0.5 * t, row - c.pan_y * 0.5 * t);
    }

    void write_sources() const {
        const int sx = c.chroma_format == 3 ? 1 : 2, sy = c.chroma_format == 1 ? 2 : 1;
        const int cw = stream.chroma_width(), ch = stream.chroma_height();
        for (int f = 0; f < stream.frames; f++) {
            std::vector<std::uint8_t> planes(stream.frame_size());
            for (int row = 0; row < c.height; row++)
                for (int col = 0; col < c.width; col++) planes[row * c.width + col] = clip(luminance(f, row, col));
            std::uint8_t *u = planes.data() + stream.luma_size(), *v = u + cw * ch;
            for (int row = 0; row < ch; row++)
                for (int col = 0; col < cw; col++) {
                    // Chroma rows alternate between the fields as luminance rows do.
                    const double t = row_time(f, row);
                    const double x = col * sx - c.pan_x * 0.5 * t, y = row * sy - c.pan_y * 0.5 * t;
                    const bool object = inside_object(f, row * sy, col * sx);
                    u[row * cw + col] = object ? 70 : clip(128 + 40 * std::sin(0.09 * x + 0.05 * y));
                    v[row * cw + col] = object ? 200 : clip(128 + 35 * std::cos(0.04 * x - 0.11 * y));
                }
            stream.write_source(f, planes);
        }
    }

    // Whether the area of `height` frame rows at (x, y), displaced by (dx, dy) half samples into the reference
    // `distance` frames earlier (later when negative), sees only the panned background, fully inside the picture,
    // in both pictures.
    bool background_area(int f, int distance, int x, int y, int height, int dx, int dy) const {
        const int rx = x + (dx >> 1), ry = y + (dy >> 1);
        if (x + 16 > c.width || y + height > c.height || rx < 0 || ry < 0 || rx + 17 > c.width || ry + height + 1 > c.height)
            return false;
        for (int k : {f, f - distance}) {
            const double ox = object_x(c, k), oy = object_y(c, k);
            for (int px : {x, rx})
                for (int py : {y, ry})
                    if (px < ox + object_size + 2 && px + 18 > ox && py < oy + object_size + 2 && py + height + 2 > oy)
                        return false;
        }
        return true;
    }

    // How close the decoder's vector `v` of a macroblock of frame f predicted from frame `reference` comes to
    // the motion of the pan: 1 equal, 2 within one half sample, 3 further off.
    //
    // Frame prediction moves both fields by the pan over the frames between the pictures. Field-based vectors
    // count in field lines (the decoder reports those of 16 x 16 field-picture prediction, and of dual prime in
    // frame pictures, in field half samples, and doubles the vertical part of 16 x 8 ones) and move the field by
    // the pan over the time between the two fields. The reference field may have the other parity, which lies
    // one frame line lower (a top field predicted from a bottom one) or one line higher. `own_frame` allows, in
    // addition, the second field of a P frame predicted from the first field of its own frame.
    int vector_error(const DecodedVector& v, int f, int reference, bool own_frame) const {
        double best = 1e9;
        // Candidate motion over `time` frames, in field or frame half samples, with `parity` field half samples
        // of parity change; `per_half`: units of the decoder's vertical part per half sample.
        auto candidate = [&](double time, bool field, double parity, double per_half) {
            const double ex = v.dx + c.pan_x * time;
            const double ey = v.dy / per_half + c.pan_y * time / (field ? 2 : 1) - parity;
            best = std::min(best, std::max(std::abs(ex), std::abs(ey)));
        };
        const bool field_picture = field_pictures();
        const bool bottom = field_picture ? (v.y / 16) % 2 == 1 : v.y % 16 >= 8;
        const double other_parity = bottom ? 1 : -1;
        if (!field_picture && v.height == 16) {
            candidate(f - reference, false, 0, 1);  // frame prediction
            // dual prime: the same-parity vector of the fields
            candidate(field_time(f, false) - field_time(reference, false), true, 0, 1);
        } else {
            const double per_half = field_picture && v.height == 16 ? 1 : 2;
            const double now = field_time(f, bottom);
            candidate(now - field_time(reference, bottom), true, 0, per_half);
            candidate(now - field_time(reference, !bottom), true, other_parity, per_half);
            if (own_frame) candidate(now - field_time(f, !bottom), true, other_parity, per_half);
        }
        return best < 0.01 ? 1 : best < 1.01 ? 2 : 3;
    }

    // Counts the background macroblocks of P and B pictures whose vectors (every vector of a direction) follow
    // the pan, as the decoder saw them. The decoder numbers macroblock rows in frame pictures from the top, and
    // in field pictures alternately of the two fields.
    void count_pan_vectors(const std::vector<DecodedPicture>& seen, VectorCount& p_vectors, VectorCount& b_vectors) const {
        const int frames = static_cast<int>(seen.size());
        const int columns = (c.width + 15) / 16, rows = (c.height + 31) / 32 * 2;
        int last_reference = frames - 1;
        while (last_reference > 0 && seen[last_reference].type == 'B') last_reference--;
        for (int f = 0; f < frames; f++) {
            // The decoder hands out the last reference picture when it is flushed, without its vectors.
            if (seen[f].type == 'I' || (f == last_reference && seen[f].vectors.empty())) continue;
            int past = f - 1, future = f + 1;
            while (past > 0 && seen[past].type == 'B') past--;
            while (future < frames - 1 && seen[future].type == 'B') future++;
            for (int direction : {-1, 1}) {
                if (direction == 1 && seen[f].type != 'B') continue;
                const int distance = direction < 0 ? f - past : future - f;
                // Per macroblock: 0 no vector, else the worst vector_error of its vectors.
                std::vector<int> state(columns * rows, 0);
                for (const DecodedVector& v : seen[f].vectors) {
                    if (v.direction != direction || v.x < 0 || v.y < 0 || v.x / 16 >= columns || v.y / 16 >= rows) continue;
                    const bool second_field = field_pictures() && (v.y / 16) % 2 == (top_field_first() ? 1 : 0);
                    int& s = state[(v.y / 16) * columns + v.x / 16];
                    s = std::max(s, vector_error(v, f, direction < 0 ? past : future, second_field && seen[f].type == 'P'));
                }
                VectorCount& count = seen[f].type == 'P' ? p_vectors : b_vectors;
                for (int row = 0; row < rows; row++)
                    for (int col = 0; col < columns; col++) {
                        const int y = field_pictures() ? row / 2 * 32 : row * 16, s = state[row * columns + col];
                        // A B macroblock may rightly be predicted from the other reference alone.
                        if ((seen[f].type == 'B' && s == 0) ||
                            !background_area(f, -direction * distance, col * 16, y, field_pictures() ? 32 : 16,
                                             direction * c.pan_x * distance, direction * c.pan_y * distance))
                            continue;
                        count.eligible++;
                        count.exact += s == 1;
                        count.near += s == 1 || s == 2;
                    }
            }
        }
    }
};

TEST_P(MotionDecoder, DecodesSilentlyInDisplayOrderWithTrueVectors) {
    const std::string types = c.display_types;
    write_sources();
    // A bit rate of a third of a bit per luminance sample at 30 frames per second, as for a typical video
    // stream, so that quantisation is coarse enough for prediction to pay off; at least 100 kbit/s, as headers
    // weigh more in small pictures.
    const auto encoded = stream.encode(with({{18, std::to_string(std::max(c.width * c.height * 10, 100000)) + ".0"}}, c.lines),
                                       c.loaded_matrices);
    ASSERT_EQ(encoded.exit_code, 0) << encoded.err;

    // The decoder's pictures differ from ours only by the decoders' inverse transforms, and that difference must
    // not build up along the chain of predictions.
    const auto [pictures, lowest_to_ours] = stream.expect_decodes_to_reconstruction(50.0);
    if (HasFailure()) return;

    // Picture types, field order and vectors as the decoder saw them, in display order.
    std::vector<DecodedPicture> seen;
    ASSERT_EQ(decode_with_vectors(stream.stream_path(), seen), "");
    std::string seen_types;
    for (const DecodedPicture& p : seen) {
        seen_types += p.type;
        EXPECT_EQ(p.interlaced, interlaced_source());
        EXPECT_TRUE(!interlaced_source() || p.top_field_first == top_field_first());
    }
    EXPECT_EQ(seen_types, types) << "picture types in display order";

    // Decoded frame f shows source frame f.
    double lowest_to_source = 99.0;
    for (int f = 0; f < stream.frames; f++) {
        const double to_source = psnr(std::string_view(pictures).substr(f * stream.frame_size(), stream.luma_size()),
                                      read_file(stream.source_path(f)).substr(0, stream.luma_size()));
        EXPECT_GE(to_source, 25.0) << "decoded frame " << f << " against source frame " << f;
        lowest_to_source = std::min(lowest_to_source, to_source);
    }

    VectorCount p_vectors, b_vectors;
    count_pan_vectors(seen, p_vectors, b_vectors);
    // In interlaced sources the fields of a frame show different instants, and where the pan over the time
    // between two fields is not a whole number of half samples, or coarse quantisation of frame DCT blocks has
    // blended the fields of the reference, a neighbour of the true vector is as good a choice.
    if (!interlaced_source()) {
        EXPECT_GE(p_vectors.share(p_vectors.exact), 0.75) << "background macroblocks of P pictures with the pan vector";
    }
    EXPECT_GE(p_vectors.share(p_vectors.near), 0.95) << "P macroblocks within half a sample of the pan";
    // B macroblocks choose between two references, and their vectors into either must follow the pan too.
    EXPECT_GE(b_vectors.share(b_vectors.near), 0.9) << "B macroblocks within half a sample of the pan";
    std::printf("[ MOTION   ] %-30s %s: PSNR to ours >= %.2f dB, to source >= %.2f dB; "
                "pan vectors P %d/%d exact, %d near, B %d/%d exact, %d near\n",
                c.name, types.c_str(), lowest_to_ours, lowest_to_source, p_vectors.exact, p_vectors.eligible,
                p_vectors.near, b_vectors.exact, b_vectors.eligible, b_vectors.near);
}

INSTANTIATE_TEST_SUITE_P(
    PredictedStreams, MotionDecoder,
    testing::Values(
        MotionCase{"mpeg1_n15_m3", 176, 144, 1, mpeg1_ibbp, "IBBPBBPBBPBBPBBI", 3, 2},
        MotionCase{"mpeg1_still_background_skips", 176, 144, 1, mpeg1_ibbp, "IBBPBBPBBPBBPBBI", 0, 0},
        MotionCase{"mpeg1_n6_m2", 176, 144, 1, {{10, "6"}, {11, "2"}}, "IBPBPBIBP", 3, 2},
        MotionCase{"mpeg2_progressive_frame_prediction_only", 176, 144, 1, with(mpeg2_progressive, {{10, "12"}, {11, "3"}}), "IBBPBBPBBPBBI", 3, 2},
        MotionCase{"mpeg2_interlaced_frames_q1_vlc1_alt1", 176, 144, 1, with(interlaced_ibbp, nonlinear_q_vlc1_alternate), "IBBPBBPBBPBBI", -2, 1},
        MotionCase{"mpeg2_field_pictures_top_first", 176, 144, 1, with(interlaced_ibbp, field_pictures), "IBBPBBPBBPBBI", 3, 4},
        MotionCase{"mpeg2_field_pictures_bottom_first", 176, 144, 1, with(interlaced_ibbp, {{13, "1"}, {33, "0"}}), "IBBPBBPBBPBBI", -3, -4},
        // Each picture type with its own quantiser scale type, intra VLC and scan, and a 10- or 11-bit intra DC;
        // in field pictures the P field of an I frame keeps the I picture's values.
        MotionCase{"mpeg2_frames_per_type_values_dc10", 176, 144, 1,
                   with(interlaced_ibbp, {{36, "0 1 0"}, {37, "1 0 1"}, {38, "0 1 1"}, {32, "2"}}), "IBBPBBPBBPBBI", 2, 4},
        MotionCase{"mpeg2_fields_per_type_values_dc11", 176, 144, 1,
                   with(interlaced_ibbp, {{13, "1"}, {22, "1"}, {36, "1 0 1"}, {37, "0 1 1"}, {38, "1 1 0"}, {32, "3"}}), "IBBPBBPBBPBBI", -2, 4},
        MotionCase{"mpeg2_field_pictures_still_background_skips", 176, 144, 1, with(interlaced_ibbp, field_pictures), "IBBPBBPBBPBBI", 0, 0},
        // A whole group of pictures of 14 P pictures, each predicted from the one before: no drift.
        MotionCase{"mpeg2_p_only_frames_dual_prime", 176, 144, 1, with(interlaced, {{10, "15"}, {11, "1"}}), "IPPPPPPPPPPPPPPI", 3, 2},
        MotionCase{"mpeg2_p_only_fields_dual_prime", 176, 144, 1, with(interlaced, {{13, "1"}, {10, "6"}, {11, "1"}}), "IPPPPPIP", 2, 4},
        MotionCase{"mpeg2_422_high_interlaced", 176, 144, 2, with(interlaced_ibbp, {{22, "1"}, {25, "2"}}), "IBBPBBPBBPBBI", -3, 2},
        MotionCase{"mpeg2_422_field_pictures", 176, 144, 2, with(interlaced_ibbp, {{13, "1"}, {22, "1"}, {25, "2"}}), "IBBPBBPBBPBBI", 3, 4},
        MotionCase{"mpeg2_444_p_only_frames_dual_prime", 176, 144, 3, with(interlaced, {{22, "9"}, {25, "3"}, {10, "6"}, {11, "1"}}), "IPPPPPIP", 3, 2},
        MotionCase{"mpeg2_444_interlaced", 176, 144, 3, with(interlaced_ibbp, {{22, "9"}, {25, "3"}}), "IBBPBBPBBPBBI", 3, -2},
        MotionCase{"mpeg2_loaded_matrices", 176, 144, 1, with(interlaced_ibbp, {{10, "6"}}), "IBBPBBI", 4, 0, true},
        // The last reference picture is clamped to the last frame, two after the previous one.
        MotionCase{"mpeg1_94x78_short_last_group", 94, 78, 1, mpeg1_ibbp, "IBBPBBPBP", 1, 2},
        // Vectors near the ends of their ranges, in pictures with f codes of 1 and 2.
        MotionCase{"mpeg1_fast_pan_long_vectors", 176, 144, 1,
                   with(mpeg1_ibbp, {{50, "2 2 15 15"}, {51, "1 1 7 7"}, {52, "2 2 11 11"}, {53, "2 2 11 11"}, {54, "1 1 7 7"}}), "IBBPBBPBBP", 9, -7},
        // MPEG-1 has one f code per direction for both components: different ones in the lines must still
        // give vectors the header's code can carry.
        MotionCase{"mpeg1_unequal_f_codes", 176, 144, 1,
                   {{10, "6"}, {11, "3"}, {50, "2 1 11 7"}, {51, "1 2 3 5"}, {52, "2 1 7 7"}, {53, "1 1 7 7"}, {54, "1 1 3 3"}}, "IBBPBBI", 4, 2},
        // Field pictures always carry each macroblock's motion type: frame_pred_frame_dct 1 cannot apply.
        MotionCase{"mpeg2_field_pictures_frame_pred_lines", 176, 144, 1, with(interlaced, {{13, "1"}, {10, "6"}, {11, "3"}, {34, "1 1 1"}}), "IBBPBBI", 2, 2},
        MotionCase{"mpeg2_field_pictures_94x76", 94, 76, 1, with(interlaced, {{13, "1"}, {10, "6"}, {11, "3"}}), "IBBPBBI", 2, -4}),
    [](const testing::TestParamInfo<MotionCase>& info) { return std::string(info.param.name); });

// ---- Intra streams ----

// Textured, moving content with sharp edges and noise, so that every code table is exercised.
void write_noisy_sources(const EncodedStream& stream) {
    std::mt19937 random(77);
    const int cw = stream.chroma_width(), ch = stream.chroma_height();
    for (int f = 0; f < stream.frames; f++) {
        std::vector<std::uint8_t> planes(stream.frame_size());
        for (int row = 0; row < stream.height; row++)
            for (int col = 0; col < stream.width; col++) {
                double v = 128 + 70 * std::sin(col * 0.31 + f) + 40 * std::cos(row * 0.17 - f * 0.5);
                if ((col - 8 * f) % 40 < 12 && row % 30 < 14) v = (row + col) % 2 ? 250 : 5;
                v += static_cast<int>(random() % 31) - 15;
                planes[row * stream.width + col] = static_cast<std::uint8_t>(std::clamp(v, 0.0, 255.0));
            }
        std::uint8_t *u = planes.data() + stream.luma_size(), *v = u + cw * ch;
        for (int row = 0; row < ch; row++)
            for (int col = 0; col < cw; col++) {
                u[row * cw + col] = static_cast<std::uint8_t>((col * 5 + f * 20) & 255);
                v[row * cw + col] = static_cast<std::uint8_t>(255 - ((row * 3 + col) & 255));
            }
        stream.write_source(f, planes);
    }
}

TEST(DecoderConformance, IntraStreamsDecodeSilentlyToOurReconstruction) {
    const struct {
        const char* name;
        int width, height, chroma_format;  // 1 4:2:0, 2 4:2:2, 3 4:4:4
        ParameterLines lines;
        bool loaded_matrices = false;
        int frames = 3;
    } cases[] = {
        {"mpeg1_420_160x120", 160, 120, 1, {}},
        {"mpeg1_150x100", 150, 100, 1, {}},
        {"mpeg1_loaded_matrices", 160, 120, 1, {}, true},
        {"mpeg2_progressive_dc8_linear", 160, 120, 1, mpeg2_progressive},
        {"mpeg2_q1_vlc1_alt1_dc9", 160, 120, 1, with(mpeg2_progressive, with(nonlinear_q_vlc1_alternate, {{32, "1"}}))},
        {"mpeg2_q1_vlc0_alt1_dc10", 160, 120, 1, with(mpeg2_progressive, {{36, "1 1 1"}, {38, "1 1 1"}, {32, "2"}})},
        {"mpeg2_high_dc11_vlc1", 160, 120, 1, with(mpeg2_progressive, {{22, "1"}, {32, "3"}, {37, "1 1 1"}})},
        {"mpeg2_interlaced_field_dct", 160, 128, 1, interlaced},
        {"mpeg2_interlaced_q1_vlc1_alt1", 160, 128, 1, with(interlaced, nonlinear_q_vlc1_alternate)},
        {"mpeg2_422_high_interlaced", 160, 128, 2, with(interlaced, {{22, "1"}, {25, "2"}})},
        {"mpeg2_444_reserved_profile", 160, 128, 3, with(interlaced, {{22, "9"}, {25, "3"}})},
        {"mpeg2_150x100_loaded_matrices_q1", 150, 100, 1, with(mpeg2_progressive, {{36, "1 1 1"}}), true},
        {"mpeg2_tall_2816_lines", 64, 2816, 1, with(mpeg2_progressive, {{22, "9"}}), false, 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const EncodedStream stream{fresh_scratch_folder(std::string("conformance_") + c.name), c.width, c.height,
                                   c.chroma_format, c.frames};
        write_noisy_sources(stream);
        const auto encoded = stream.encode(c.lines, c.loaded_matrices);
        ASSERT_EQ(encoded.exit_code, 0) << encoded.err;
        const double lowest = stream.expect_decodes_to_reconstruction(45.0).second;
        std::printf("[ PSNR     ] %-34s %2d pictures, lowest %.2f dB\n", c.name, c.frames, lowest);
    }
}

}  // namespace
}  // namespace vintrel
