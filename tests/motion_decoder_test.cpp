// Streams coded by vintrel-encode from raw pictures written at test time, decoded by an independent decoder
// (FFmpeg's: the ffmpeg program for the pictures, its library in this process for picture types and motion
// vectors). The decoder must accept them silently, show the source frames in display order and stay close to
// our reconstruction. Streams with P and B pictures (frame and field pictures, dual prime, MPEG-1 and MPEG-2
// in every chroma format) are coded from a panned texture with a moving object: no drift over a whole group
// of pictures, and vectors that follow the pan.
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

using test::read_file;
using test::run_program;

// Replacements of numbered parameter lines.
using ParameterLines = std::vector<std::pair<int, std::string>>;

ParameterLines with(ParameterLines base, const ParameterLines& more, const ParameterLines& also = {}) {
    base.insert(base.end(), more.begin(), more.end());
    base.insert(base.end(), also.begin(), also.end());
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

struct DecodedPicture {
    char type = '?';      // 'I', 'P' or 'B'
    bool interlaced = false;
    bool top_field_first = false;
    std::vector<AVMotionVector> vectors;
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
                picture.vectors.assign(mv, mv + side->size / sizeof(AVMotionVector));
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

struct MotionCase {
    const char* name;
    int width, height;
    int chroma_format;  // 1 4:2:0, 2 4:2:2, 3 4:4:4
    ParameterLines lines;
    // Picture types in display order, worked out by hand from N, M and the frame count. Streams of I pictures
    // only are coded from noisy content at 5 Mbit/s, so that every code table is exercised.
    const char* display_types;
    // Motion of the background per frame, in half samples (positive: right and down).
    int pan_x = 0, pan_y = 0;
};

void PrintTo(const MotionCase& c, std::ostream* out) { *out << c.name; }

const ParameterLines mpeg1_ibbp = {{10, "15"}, {11, "3"}};
// MPEG-2 Main Profile, progressive frames: frame prediction and frame DCT only.
const ParameterLines mpeg2_progressive = {{12, "0"}, {25, "1"}, {24, "1"}, {40, "1"}, {33, "0"}};
// MPEG-2 Main Profile, interlaced frames, field and frame prediction, field DCT.
const ParameterLines interlaced = {{12, "0"}, {25, "1"}, {24, "0"}, {40, "0"}, {33, "1"}, {34, "0 0 0"}};
const ParameterLines interlaced_ibbp = with(interlaced, {{10, "12"}, {11, "3"}});
// Quantiser matrices of the test's own, written beside the sources.
const ParameterLines loaded_matrices = {{3, "intra.mat"}, {4, "non_intra.mat"}};

// Background texture: a sum of sinusoids of unrelated frequencies, smooth enough that a half-sample shift is
// close to the average of two neighbouring samples, and without any period inside the search ranges.
double texture(double x, double y) {
    return 128 + 42 * std::sin(0.21 * x + 0.13 * y) + 30 * std::sin(0.05 * x - 0.23 * y + 1.0) +
           22 * std::cos(0.37 * x + 0.31 * y + 2.0) + 18 * std::sin(0.43 * x - 0.17 * y);
}

// Background macroblocks of P or B pictures, and those with vectors equal to the pan or within a half sample.
struct VectorCount {
    int eligible = 0, exact = 0, near = 0;
    double share(int count) const { return eligible ? static_cast<double>(count) / eligible : 1.0; }
};

// A stream of the case's pictures coded from the files <dir>/src<f>.yuv into <dir>/out.mpg and reconstructed
// into <dir>/rec<f>.Y/.U/.V.
class MotionDecoder : public testing::TestWithParam<MotionCase> {
protected:
    const MotionCase& c = GetParam();
    const std::string dir = test::fresh_scratch_folder("motion_" + std::string(c.name));
    const int frames = static_cast<int>(std::string_view(c.display_types).size());
    const bool intra_only = std::string_view(c.display_types).find_first_of("PB") == std::string_view::npos;
    const bool interlaced = line(24, "0") == "0" && line(12, "1") == "0";
    const bool top_field_first = line(33, "1") == "1";
    const bool field_pictures = line(13, "0") == "1";

    // The text of parameter line k as the case sets it (the last setting wins), or `otherwise`.
    std::string line(int k, const std::string& otherwise) const {
        std::string text = otherwise;
        for (const auto& [n, t] : c.lines)
            if (n == k) text = t;
        return text;
    }

    const int chroma_width = c.chroma_format == 3 ? c.width : c.width / 2;
    const int chroma_height = c.chroma_format == 1 ? c.height / 2 : c.height;
    const std::size_t luma_size = c.width * c.height, frame_size = luma_size + 2 * chroma_width * chroma_height;
    std::string source_path(int f) const { return dir + "/src" + std::to_string(f) + ".yuv"; }

    // Time of a field of frame f: in interlaced sources the second field is half a frame later.
    double field_time(int f, bool bottom) const { return f + (interlaced && bottom == top_field_first ? 0.5 : 0.0); }

    // The moving object: a 24 x 24 checkerboard moving two samples left and one down per frame.
    static constexpr int object_size = 24;
    double object_x(double t) const { return c.width * 0.6 - 2 * t; }
    double object_y(double t) const { return c.height * 0.15 + t; }

    // Sample of a plane of frame f. Intra streams show noisy content with sharp edges. Others show the panned
    // texture, or the object; chroma rows alternate between the fields as luminance rows do.
    double sample(int f, int plane, int row, int col, std::mt19937& random) const {
        if (intra_only && plane > 0) return plane == 1 ? (col * 5 + f * 20) % 256 : 255 - (row * 3 + col) % 256;
        const int noise = static_cast<int>(random() % 31) - 15;
        if (intra_only && (col - 8 * f) % 40 < 12 && row % 30 < 14) return (row + col) % 2 * 245 + 5 + noise;
        if (intra_only) return 128 + 70 * std::sin(col * 0.31 + f) + 40 * std::cos(row * 0.17 - f * 0.5) + noise;
        const int sx = plane && c.chroma_format != 3 ? 2 : 1, sy = plane && c.chroma_format == 1 ? 2 : 1;
        const double t = field_time(f, row % 2), x = col * sx - c.pan_x * 0.5 * t, y = row * sy - c.pan_y * 0.5 * t;
        const int ox = static_cast<int>(std::floor(object_x(t))), oy = static_cast<int>(std::floor(object_y(f)));
        if (col * sx >= ox && col * sx < ox + object_size && row * sy >= oy && row * sy < oy + object_size)
            return plane == 1 ? 70 : plane == 2 ? 200 : ((col - ox) / 4 + row / 4) % 2 ? 220 : 30;
        if (plane == 0) return texture(x, y);
        return plane == 1 ? 128 + 40 * std::sin(0.09 * x + 0.05 * y) : 128 + 35 * std::cos(0.04 * x - 0.11 * y);
    }

    // Whether the macroblock at (x, y), `height` frame rows high, keeps a macroblock's width away from the
    // picture's edges and from the object of frame f. No pan moves further than that between a picture and its
    // references, so its true vector there points into the background.
    bool background(int f, int x, int y, int height) const {
        const double ox = object_x(f), oy = object_y(f);
        const bool near_object =
            x < ox + object_size + 16 && x + 32 > ox && y < oy + object_size + 16 && y + height + 16 > oy;
        return x >= 16 && y >= 16 && x + 32 <= c.width && y + height + 16 <= c.height && !near_object;
    }

    // How far (the larger component, in half samples) the decoder's vector `v` of a macroblock of frame f
    // predicted from frame `reference` is from the motion of the pan. The decoder reports vertical parts in frame
    // lines for frame prediction and in field lines for 16 x 16 field-picture prediction and frame-picture dual
    // prime; those of 16 x 8 areas (field prediction in frame pictures, 16 x 8 prediction in field pictures) it
    // doubles. It reports the centre of the predicted area.
    //
    // Frame prediction moves both fields by the pan over the frames between the pictures. Field-based vectors
    // count in field lines and move the field by the pan over the time between the two fields. The reference
    // field may have the other parity, which lies one frame line lower (a top field predicted from a bottom
    // one) or one line higher; the second field of a P frame may also be predicted from the first.
    double vector_error(const AVMotionVector& v, int f, int reference, bool p_picture) const {
        const double dx = 2.0 * v.motion_x / v.motion_scale, dy = 2.0 * v.motion_y / v.motion_scale;
        double best = 1e9;
        // Motion over `time` frames with `parity` field half samples of parity change; `per_half`: units of
        // the decoder's vertical part per half sample.
        auto candidate = [&](double time, bool field, double parity, double per_half) {
            const double ey = dy / per_half + c.pan_y * time / (field ? 2 : 1) - parity;
            best = std::min(best, std::max(std::abs(dx + c.pan_x * time), std::abs(ey)));
        };
        const bool bottom = field_pictures ? (v.dst_y / 16) % 2 == 1 : v.dst_y % 16 >= 8;
        if (!field_pictures && v.h == 16) {
            candidate(f - reference, false, 0, 1);  // frame prediction
            candidate(f - reference, true, 0, 1);   // dual prime: the same-parity vector of the fields
            return best;
        }
        const double per_half = field_pictures && v.h == 16 ? 1 : 2, other_parity = bottom ? 1 : -1;
        const double now = field_time(f, bottom);
        candidate(now - field_time(reference, bottom), true, 0, per_half);
        candidate(now - field_time(reference, !bottom), true, other_parity, per_half);
        if (p_picture && field_pictures && bottom == top_field_first)
            candidate(now - field_time(f, !bottom), true, other_parity, per_half);
        return best;
    }

    // Counts the background macroblocks of P and B pictures whose vectors (every vector of a direction) follow
    // the pan, as the decoder saw them. The decoder numbers macroblock rows in frame pictures from the top, and
    // in field pictures alternately of the two fields. The last picture, a reference, it hands out when it is
    // flushed, without vectors.
    void count_pan_vectors(const std::vector<DecodedPicture>& seen, VectorCount& p, VectorCount& b) const {
        const int columns = (c.width + 15) / 16, rows = (c.height + 31) / 32 * 2, height = field_pictures ? 32 : 16;
        for (int f = 1; f + 1 < frames; f++) {
            const bool b_picture = seen[f].type == 'B';
            if (seen[f].type == 'I') continue;
            for (int direction : {-1, 1}) {
                if (direction == 1 && !b_picture) continue;
                int reference = f + direction;
                while (seen[reference].type == 'B') reference += direction;
                // The worst error of each macroblock's vectors; -1: it has none.
                std::vector<double> worst(columns * rows, -1);
                for (const AVMotionVector& v : seen[f].vectors) {
                    double& w = worst.at(v.dst_y / 16 * columns + v.dst_x / 16);
                    if ((v.source < 0) == (direction < 0)) w = std::max(w, vector_error(v, f, reference, !b_picture));
                }
                for (int k = 0; k < columns * rows; k++) {
                    const int x = k % columns * 16, y = field_pictures ? k / columns / 2 * 32 : k / columns * 16;
                    // A B macroblock may rightly be predicted from the other reference alone.
                    const bool eligible = background(f, x, y, height) && background(reference, x, y, height);
                    if (!eligible || (b_picture && worst[k] < 0)) continue;
                    VectorCount& count = b_picture ? b : p;
                    count.eligible++;
                    count.exact += worst[k] >= 0 && worst[k] < 0.01;
                    count.near += worst[k] >= 0 && worst[k] < 1.01;
                }
            }
        }
    }
};

TEST_P(MotionDecoder, DecodesSilentlyInDisplayOrderWithTrueVectors) {
    std::mt19937 random(77);
    for (int f = 0; f < frames; f++) {
        std::ofstream out(source_path(f), std::ios::binary);
        for (int plane = 0; plane < 3; plane++)
            for (int row = 0; row < (plane ? chroma_height : c.height); row++)
                for (int col = 0; col < (plane ? chroma_width : c.width); col++)
                    out.put(static_cast<char>(std::clamp(std::lround(sample(f, plane, row, col, random)), 0L, 255L)));
    }
    // Intra streams at 5 Mbit/s; others at a third of a bit per luminance sample at 30 frames per second, as for
    // a typical stream, so that quantisation is coarse enough for prediction to pay off; at least 100 kbit/s, as
    // headers weigh more in small pictures.
    test::ParameterTable table;
    table.set(1, "src%d").set(2, "rec%d").set(5, "stat.out").set(6, "1").set(7, std::to_string(frames));
    table.set(14, std::to_string(c.width)).set(15, std::to_string(c.height));
    table.set(30, std::to_string(c.width)).set(31, std::to_string(c.height));
    table.set(18, std::to_string(intra_only ? 5000000 : std::max(c.width * c.height * 10, 100000)) + ".0");
    for (const auto& [k, text] : c.lines) table.set(k, text);
    {
        std::ofstream intra(dir + "/intra.mat"), non_intra(dir + "/non_intra.mat"), parameters(dir + "/lines.par");
        for (int i = 0; i < 64; i++) {
            intra << 8 + (i * 7) % 60 << (i % 8 == 7 ? "\n" : " ");
            non_intra << 12 + i % 20 << " ";
        }
        for (const std::string& line : table.lines()) parameters << line << "\n";
    }
    const auto encoded = run_program("cd " + dir + " && " + VINTREL_ENCODE_PATH + " --lines lines.par out.mpg");
    ASSERT_EQ(encoded.exit_code, 0) << encoded.err;

    // Decoded into raw pictures in display order, none dropped or repeated, without a word from the decoder.
    const char* format = c.chroma_format == 1 ? "yuv420p" : c.chroma_format == 2 ? "yuv422p" : "yuv444p";
    const auto decoded = run_program("ffmpeg -nostdin -v error -i " + dir + "/out.mpg -vsync passthrough" +
                                     " -f rawvideo -pix_fmt " + format + " -y " + dir + "/decoded.yuv");
    EXPECT_EQ(decoded.exit_code, 0) << decoded.err;
    EXPECT_EQ(decoded.err, "") << "the decoder complained";
    const std::string pictures = read_file(dir + "/decoded.yuv");
    ASSERT_EQ(pictures.size(), frame_size * static_cast<std::size_t>(frames)) << "wrong number or size of pictures";
    for (int f = 0; f < frames; f++) {
        const std::string_view picture = std::string_view(pictures).substr(f * frame_size, frame_size);
        const std::string rec = dir + "/rec" + std::to_string(f);
        // The decoders' inverse transforms differ, and the difference must not build up along the chain of
        // predictions; it is larger in fine quantised noise.
        EXPECT_GE(psnr(picture, read_file(rec + ".Y") + read_file(rec + ".U") + read_file(rec + ".V")),
                  intra_only ? 45.0 : 50.0)
            << "decoded frame " << f << " against our reconstruction";
        EXPECT_GE(psnr(picture.substr(0, luma_size), read_file(source_path(f)).substr(0, luma_size)), 25.0)
            << "decoded frame " << f << " against source frame " << f;
    }
    if (HasFailure()) return;

    // Picture types, field order and vectors as the decoder saw them, in display order.
    std::vector<DecodedPicture> seen;
    ASSERT_EQ(decode_with_vectors(dir + "/out.mpg", seen), "");
    std::string types;
    for (const DecodedPicture& p : seen) {
        types += p.type;
        EXPECT_EQ(p.interlaced, interlaced);
        EXPECT_TRUE(!interlaced || p.top_field_first == top_field_first);
    }
    ASSERT_EQ(types, c.display_types) << "picture types in display order";

    VectorCount p_vectors, b_vectors;
    count_pan_vectors(seen, p_vectors, b_vectors);
    // In interlaced sources the fields of a frame show different instants, and where the pan over the time
    // between two fields is not a whole number of half samples, or coarse quantisation of frame DCT blocks has
    // blended the fields of the reference, a neighbour of the true vector is as good a choice.
    if (!interlaced) {
        EXPECT_GE(p_vectors.share(p_vectors.exact), 0.75) << "background macroblocks of P pictures with the pan vector";
    }
    EXPECT_GE(p_vectors.share(p_vectors.near), 0.95) << "P macroblocks within half a sample of the pan";
    // B macroblocks choose between two references, and their vectors into either must follow the pan too.
    EXPECT_GE(b_vectors.share(b_vectors.near), 0.9) << "B macroblocks within half a sample of the pan";
}

// Each case carries several independent options. In a still background prediction without motion and
// skipped macroblocks pay off.
const MotionCase cases[] = {
    {"mpeg1_n6_m2_still_background", 176, 144, 1, {{10, "6"}, {11, "2"}}, "IBPBPBIBP", 0, 0},
    // The last reference picture is clamped to the last frame, two after the previous one. MPEG-1 has one f code
    // per direction for both components: different ones in the lines must still give vectors the header's code
    // can carry.
    {"mpeg1_94x78_short_last_group_unequal_f_codes", 94, 78, 1,
     with(mpeg1_ibbp, {{50, "2 1 11 7"}, {51, "1 2 3 5"}, {52, "2 1 7 7"}, {53, "1 1 7 7"}, {54, "1 1 3 3"}}),
     "IBBPBBPBP", 4, 2},
    // Vectors near the ends of their ranges, in pictures with f codes of 1 and 2.
    {"mpeg1_n15_m3_fast_pan_long_vectors", 176, 144, 1,
     with(mpeg1_ibbp, {{50, "2 2 15 15"}, {51, "1 1 7 7"}, {52, "2 2 11 11"}, {53, "2 2 11 11"}, {54, "1 1 7 7"}}),
     "IBBPBBPBBPBBPBBI", 9, -7},
    {"mpeg2_progressive_frame_prediction_only", 176, 144, 1, with(mpeg2_progressive, {{10, "12"}, {11, "3"}}),
     "IBBPBBPBBPBBI", 3, 2},
    // Each picture type with its own quantiser scale type, intra VLC and scan, and a 10- or 11-bit intra DC; in
    // field pictures the P field of an I frame keeps the I picture's values.
    {"mpeg2_frames_per_type_values_dc10_loaded_matrices", 176, 144, 1,
     with(interlaced_ibbp, loaded_matrices, {{36, "0 1 0"}, {37, "1 0 1"}, {38, "0 1 1"}, {32, "2"}}),
     "IBBPBBPBBPBBI", 2, 4},
    {"mpeg2_fields_top_first_per_type_values_dc11", 176, 144, 1,
     with(interlaced_ibbp, {{13, "1"}, {22, "1"}, {36, "1 0 1"}, {37, "0 1 1"}, {38, "1 1 0"}, {32, "3"}}),
     "IBBPBBPBBPBBI", -2, 4},
    {"mpeg2_fields_bottom_first", 176, 144, 1, with(interlaced_ibbp, {{13, "1"}, {33, "0"}}), "IBBPBBPBBPBBI", -3, -4},
    // Field pictures of a height that is no multiple of 32.
    {"mpeg2_fields_94x76_still_background", 94, 76, 1, with(interlaced, {{13, "1"}, {10, "6"}, {11, "3"}}), "IBBPBBI",
     0, 0},
    // A whole group of pictures of 14 P pictures, each predicted from the one before: no drift.
    {"mpeg2_p_only_frames_dual_prime", 176, 144, 1, with(interlaced, {{10, "15"}, {11, "1"}}),
     "IPPPPPPPPPPPPPPI", 3, 2},
    {"mpeg2_444_p_only_fields_dual_prime", 176, 144, 3,
     with(interlaced, {{22, "9"}, {25, "3"}, {13, "1"}, {10, "6"}, {11, "1"}}), "IPPPPPIP", 2, 4},
    {"mpeg2_422_high_interlaced", 176, 144, 2, with(interlaced_ibbp, {{22, "1"}, {25, "2"}}), "IBBPBBPBBPBBI", -3, 2},
    // Field pictures always carry each macroblock's motion type: frame_pred_frame_dct 1 cannot apply.
    {"mpeg2_422_fields_frame_pred_lines", 176, 144, 2,
     with(interlaced_ibbp, {{13, "1"}, {22, "1"}, {25, "2"}, {34, "1 1 1"}}), "IBBPBBPBBPBBI", 3, 4},
    {"mpeg2_444_interlaced", 176, 144, 3, with(interlaced_ibbp, {{22, "9"}, {25, "3"}}), "IBBPBBPBBPBBI", 3, -2},
    // Intra streams; MPEG-2 ones with the built-in nonlinear quantiser scale and, unless a case says otherwise,
    // intra VLC 1.
    {"intra_mpeg1_150x100_loaded_matrices", 150, 100, 1, loaded_matrices, "III"},
    {"intra_mpeg2_150x100_loaded_matrices_alt1_dc9", 150, 100, 1,
     with(mpeg2_progressive, loaded_matrices, {{38, "1 1 1"}, {32, "1"}}), "III"},
    {"intra_mpeg2_422_high_interlaced_vlc0_alt1_dc10", 160, 128, 2,
     with(interlaced, {{22, "1"}, {25, "2"}, {37, "0 0 0"}, {38, "1 1 1"}, {32, "2"}}), "III"},
    {"intra_mpeg2_444_reserved_profile_2816_lines_dc11", 64, 2816, 3,
     with(mpeg2_progressive, {{22, "9"}, {25, "3"}, {32, "3"}, {18, "20000000.0"}}), "II"}};

INSTANTIATE_TEST_SUITE_P(CodedStreams, MotionDecoder, testing::ValuesIn(cases),
                         [](const testing::TestParamInfo<MotionCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vintrel
