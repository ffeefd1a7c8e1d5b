// The movie layer on arbitrary bytes: opening through FFmpeg, the frame timeline, pictures on
// demand and decoded ahead, the conversion to bitmaps at the natural size, and the dithering.
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "convert/frame_grabber.h"
#include "convert/movie/movie.h"
#include "fuzz/fuzz_temp_file.h"

using namespace vintrel;

namespace {

// The picture has the movie's natural size and holds all of its rows.
void check_picture(const Movie& movie, const Bitmap& bitmap) {
    const MovieBounds bounds = movie.natural_bounds();
    if (bitmap.width != bounds.right - bounds.left || bitmap.height != bounds.bottom - bounds.top) __builtin_trap();
    if (bitmap.bits_per_pixel != 24) __builtin_trap();
    if (bitmap.bits.size() != static_cast<std::size_t>(bitmap.row_bytes()) * static_cast<std::size_t>(bitmap.height))
        __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static fuzz::TempFile file(".mov");
    file.write(data, size);

    auto [movie, fault] = Movie::open(file.path());
    if (!movie) {
        if (!fault.failed() || fault.detail.empty()) __builtin_trap();
        return 0;
    }
    const MovieBounds bounds = movie->natural_bounds();
    if (bounds.top != 0 || bounds.left != 0 || bounds.right < 1 || bounds.bottom < 1) __builtin_trap();
    if (movie->time_scale() != 600 || movie->duration() < 0) __builtin_trap();

    // On demand, in and out of order and outside the movie.
    const std::int32_t duration = movie->duration();
    for (const std::int32_t t : {0, duration / 2, duration, -1, std::numeric_limits<std::int32_t>::max(), 120})
        check_picture(*movie, movie->picture_at(t));

    // A conversion's first sample times in order, then a preview step back.
    for (int k = 0; k < 3; ++k) check_picture(*movie, movie->picture_at(sample_time(k, movie->time_scale(), 5.0)));
    const Bitmap preview = preview_frame(*movie, 1, 40);
    if (preview.width != bounds.right || preview.height != bounds.bottom) __builtin_trap();
    return 0;
}
