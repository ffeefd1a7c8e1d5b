// Rate control and the VBV model.
#include "encoder/coding/rate_control.h"

#include <cmath>
#include <cstdio>

#include "encoder/coding/quantiser_scale_tables.h"
#include "encoder/coding/sample_sums.h"

namespace vintrel {
namespace {

// An integral double as a 64-bit integer, held inside the range so the conversion is defined
// for any figure (NaN, from a degenerate parameter set, counts as 0).
std::int64_t to_int64(double integral) {
    if (integral != integral) return 0;
    if (integral < -9.0e18) return static_cast<std::int64_t>(-9.0e18);
    if (integral > 9.0e18) return static_cast<std::int64_t>(9.0e18);
    return static_cast<std::int64_t>(integral);
}

// Rounds half up: floor(x + 0.5).
std::int64_t nint(double x) { return to_int64(std::floor(x + 0.5)); }

long long ll(std::int64_t v) { return static_cast<long long>(v); }

int macroblocks_per_picture(const Geometry& geometry) {
    return geometry.macroblock_columns * geometry.field_macroblock_rows;
}

// Decoding-time step of a B picture, and of the picture after an I or P picture.
double b_picture_delay(const Parameters& params) {
    if (params.progressive_sequence) {
        if (!params.repeat_first_field) return 90000.0 / params.frame_rate;
        return (params.top_field_first ? 270000.0 : 180000.0) / params.frame_rate;
    }
    if (params.field_pictures) return 90000.0 / (2.0 * params.frame_rate);
    return (params.repeat_first_field ? 270000.0 : 180000.0) / (2.0 * params.frame_rate);
}

int linear_scale(std::int64_t m, int& previous_mquant, bool hysteresis) {
    m = m < 2 ? 2 : m > 62 ? 62 : m;
    if (hysteresis && m >= 8 && m - previous_mquant >= -4 && m - previous_mquant <= 4) m = previous_mquant;
    previous_mquant = static_cast<int>(m);
    return previous_mquant;
}

int non_linear_scale(std::int64_t m) {
    m = m < 1 ? 1 : m > 112 ? 112 : m;
    return non_linear_mquant_table[linear_to_code_map[static_cast<std::size_t>(m)]];
}

void compute_activity(const PictureContext& picture, std::vector<MacroblockInfo>& macroblocks,
                      const std::uint8_t* frame) {
    const Geometry& geometry = picture.geometry;
    int k = 0;
    const bool field_blocks_too = !picture.params.field_pictures && !picture.params.progressive_sequence;
    for (int j = 0; j < geometry.picture_height; j += 16)
        for (int i = 0; i < geometry.coded_width; i += 16) {
            const std::uint8_t* p = frame + i + static_cast<std::ptrdiff_t>(j) * geometry.line_stride;
            if (picture.header.picture_structure == PictureStructure::bottom_field) p += geometry.coded_width;
            const int ls = geometry.line_stride;
            double minimum = block_variance(p, ls);
            auto consider = [&minimum](double v) {
                if (v < minimum) minimum = v;
            };
            consider(block_variance(p + 8, ls));
            consider(block_variance(p + 8 * ls, ls));
            consider(block_variance(p + 8 * ls + 8, ls));
            if (field_blocks_too) {
                const int w2 = 2 * geometry.coded_width;
                consider(block_variance(p, w2));
                consider(block_variance(p + 8, w2));
                consider(block_variance(p + geometry.coded_width, w2));
                consider(block_variance(p + geometry.coded_width + 8, w2));
            }
            macroblocks[static_cast<std::size_t>(k++)].activity = 1.0 + minimum;
        }
}

}  // namespace

double block_variance(const std::uint8_t* p, int stride) {
    const auto [sum, sum_of_squares] = sample_sums(p, stride, 8, false);
    const double mean = sum / 64.0;
    return sum_of_squares / 64.0 - mean * mean;
}

void init_rate_control(RateControl& rc, const Parameters& params, std::FILE* statistics) {
    rc = RateControl{};
    rc.r = params.r != 0 ? params.r : nint(2.0 * params.bit_rate / params.frame_rate);
    rc.avg_act = params.avg_act != 0.0 ? params.avg_act : 400.0;
    rc.R = 0;
    rc.Xi = params.Xi != 0 ? params.Xi : nint(160.0 * params.bit_rate / 115.0);
    rc.Xp = params.Xp != 0 ? params.Xp : nint(60.0 * params.bit_rate / 115.0);
    rc.Xb = params.Xb != 0 ? params.Xb : nint(42.0 * params.bit_rate / 115.0);
    rc.d0i = params.d0i != 0 ? params.d0i : nint(10.0 * rc.r / 31.0);
    rc.d0p = params.d0p != 0 ? params.d0p : nint(10.0 * rc.r / 31.0);
    rc.d0b = params.d0b != 0 ? params.d0b : nint(14.0 * rc.r / 31.0);

    std::FILE* f = statistics;
    std::fprintf(f, "\nrate control: sequence initialization\n");
    std::fprintf(f, " initial global complexity measures (I,P,B): Xi=%lld, Xp=%lld, Xb=%lld\n", ll(rc.Xi),
                 ll(rc.Xp), ll(rc.Xb));
    std::fprintf(f, " reaction parameter: r=%lld\n", ll(rc.r));
    std::fprintf(f, " initial virtual buffer fullness (I,P,B): d0i=%lld, d0p=%lld, d0b=%lld\n", ll(rc.d0i),
                 ll(rc.d0p), ll(rc.d0b));
    std::fprintf(f, " initial average activity: avg_act=%.1f\n", rc.avg_act);
}

void start_gop_rate_control(RateControl& rc, const Parameters& params, std::FILE* statistics, int np, int nb) {
    rc.R += nint((1 + np + nb) * params.bit_rate / params.frame_rate);
    rc.Np = params.field_pictures ? 2 * np + 1 : np;
    rc.Nb = params.field_pictures ? 2 * nb : nb;

    std::FILE* f = statistics;
    std::fprintf(f, "\nrate control: new group of pictures (GOP)\n");
    std::fprintf(f, " target number of bits for GOP: R=%lld\n", ll(rc.R));
    std::fprintf(f, " number of P pictures in GOP: Np=%d\n", rc.Np);
    std::fprintf(f, " number of B pictures in GOP: Nb=%d\n", rc.Nb);
}

void start_picture_rate_control(RateControl& rc, const PictureContext& picture,
                                std::vector<MacroblockInfo>& macroblocks, std::FILE* statistics,
                                const std::uint8_t* luma, std::int64_t bits) {
    const Parameters& params = picture.params;
    const std::int64_t np_xp = rc.Np * rc.Xp, nb_xb = rc.Nb * rc.Xb;
    switch (picture.header.picture_type) {
    case PictureType::I:
        rc.T = nint(rc.R / (1.0 + np_xp / (rc.Xi * 1.0) + nb_xb / (rc.Xi * 1.4)));
        rc.d = rc.d0i;
        break;
    case PictureType::P:
        rc.T = nint(rc.R / (rc.Np + rc.Nb * 1.0 * rc.Xb / (1.4 * rc.Xp)));
        rc.d = rc.d0p;
        break;
    default:
        rc.T = nint(rc.R / (rc.Nb + rc.Np * 1.4 * rc.Xp / (1.0 * rc.Xb)));
        rc.d = rc.d0b;
        break;
    }
    const std::int64_t minimum_target = nint(params.bit_rate / (8.0 * params.frame_rate));
    if (rc.T < minimum_target) rc.T = minimum_target;
    rc.S = bits;
    rc.Q = 0;
    compute_activity(picture, macroblocks, luma);
    rc.activity_sum = 0.0;

    std::fprintf(statistics, "\nrate control: start of picture\n");
    std::fprintf(statistics, " target number of bits: T=%lld\n", ll(rc.T));
}

int initial_quantiser_scale(RateControl& rc, const PictureHeader& header) {
    if (header.q_scale_type) return non_linear_scale(nint(2.0 * rc.d * 31.0 / rc.r));
    return linear_scale(nint(rc.d * 31.0 / rc.r) * 2, rc.previous_mquant, false);
}

int macroblock_quantiser_scale(RateControl& rc, const Geometry& geometry, const PictureHeader& header,
                               const std::vector<MacroblockInfo>& macroblocks, int k, std::int64_t bits) {
    const std::int64_t dj = rc.d + (bits - rc.S) - k * (rc.T / macroblocks_per_picture(geometry));
    const double Qj = dj * 31.0 / rc.r;
    const double actj = macroblocks[static_cast<std::size_t>(k)].activity;
    rc.activity_sum += actj;
    const double N_actj = (2.0 * actj + rc.avg_act) / (actj + 2.0 * rc.avg_act);
    const int m = header.q_scale_type ? non_linear_scale(nint(2.0 * Qj * N_actj))
                                      : linear_scale(nint(Qj * N_actj) * 2, rc.previous_mquant, true);
    rc.Q += m;
    return m;
}

void end_picture_rate_control(RateControl& rc, const Geometry& geometry, const PictureHeader& header,
                              std::FILE* statistics, std::int64_t bits) {
    const int M_B = macroblocks_per_picture(geometry);
    rc.S = bits - rc.S;
    rc.R -= rc.S;
    const std::int64_t X = nint(rc.S * (0.5 * rc.Q / M_B));
    rc.d = rc.d + rc.S - rc.T;
    rc.avg_act = rc.activity_sum / M_B;
    switch (header.picture_type) {
    case PictureType::I:
        rc.Xi = X;
        rc.d0i = rc.d;
        break;
    case PictureType::P:
        rc.Xp = X;
        rc.d0p = rc.d;
        rc.Np--;
        break;
    default:
        rc.Xb = X;
        rc.d0b = rc.d;
        rc.Nb--;
        break;
    }

    std::FILE* f = statistics;
    std::fprintf(f, "\nrate control: end of picture\n");
    std::fprintf(f, " actual number of bits: S=%lld\n", ll(rc.S));
    std::fprintf(f, " average quantization parameter Q=%.1f\n", static_cast<double>(rc.Q) / M_B);
    std::fprintf(f, " remaining number of bits in GOP: R=%lld\n", ll(rc.R));
    std::fprintf(f, " global complexity measures (I,P,B): Xi=%lld, Xp=%lld, Xb=%lld\n", ll(rc.Xi), ll(rc.Xp),
                 ll(rc.Xb));
    std::fprintf(f, " virtual buffer fullness (I,P,B): d0i=%lld, d0p=%lld, d0b=%lld\n", ll(rc.d0i), ll(rc.d0p),
                 ll(rc.d0b));
    std::fprintf(f, " remaining number of P pictures in GOP: Np=%d\n", rc.Np);
    std::fprintf(f, " remaining number of B pictures in GOP: Nb=%d\n", rc.Nb);
    std::fprintf(f, " average activity: avg_act=%.1f\n", rc.avg_act);
}

void update_vbv_at_picture_end(RateControl& rc, std::int64_t bits) { rc.bitcnt_EOP = (bits + 7) & ~std::int64_t{7}; }

int compute_vbv_delay(RateControl& rc, const PictureContext& picture, const Reporter& report, std::FILE* statistics,
                      std::int64_t bits) {
    const Parameters& params = picture.params;
    const PictureHeader& header = picture.header;
    const double field_time = 90000.0 / (2.0 * params.frame_rate);
    const bool reference = header.picture_type != PictureType::B;
    const bool frame_picture = !params.field_pictures;
    const bool first_field = (header.picture_structure == PictureStructure::top_field && params.top_field_first) ||
                             (header.picture_structure == PictureStructure::bottom_field && !params.top_field_first);

    double picture_delay;
    if (!reference)
        picture_delay = b_picture_delay(params);
    else if (frame_picture)
        picture_delay = rc.next_ip_delay;
    else if (first_field)
        picture_delay = field_time;
    else
        picture_delay = rc.next_ip_delay - field_time;
    if (reference && (frame_picture || !first_field)) rc.next_ip_delay = b_picture_delay(params);

    if (rc.decoding_time == 0.0) {
        const std::int64_t initial_fill = static_cast<std::int64_t>(params.vbv_buffer_size) * 16384 * 7 / 8;
        picture_delay = initial_fill * 90000.0 / params.bit_rate;
        if (params.field_pictures) rc.next_ip_delay = std::trunc(90000.0 / params.frame_rate + 0.5);
    }

    if (!params.low_delay) {
        const double t_EOP = rc.bitcnt_EOP * 90000.0 / params.bit_rate;
        if (t_EOP > rc.decoding_time)
            // Kept verbatim, the closing parenthesis after the line feed included.
            report.warning(
                formatted("vbv_delay underflow! (decoding_time=%.1f, t_EOP=%.1f\n)", rc.decoding_time, t_EOP));
    }

    rc.decoding_time += picture_delay;
    const std::int64_t vbv_delay = to_int64(std::trunc(rc.decoding_time - bits * 90000.0 / params.bit_rate));

    if (rc.decoding_time - rc.bitcnt_EOP * 90000.0 / params.bit_rate >
        (params.vbv_buffer_size * 16384.0) * 90000.0 / params.bit_rate)
        report.warning("vbv_delay overflow!\n");

    std::fprintf(statistics, "\nvbv_delay=%lld (bitcount=%lld, decoding_time=%.2f, bitcnt_EOP=%lld)\n", ll(vbv_delay),
                 ll(bits), rc.decoding_time, ll(rc.bitcnt_EOP));

    if (vbv_delay < 0) {
        report.warning(formatted("vbv_delay underflow: %lld\n", ll(vbv_delay)));
        return 0;
    }
    if (vbv_delay > 65535) {
        report.warning(formatted("vbv_delay overflow: %lld\n", ll(vbv_delay)));
        return 65535;
    }
    return static_cast<int>(vbv_delay);
}

}  // namespace vintrel
