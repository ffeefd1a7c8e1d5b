// Decoding ahead: the movie layer's pictures made on a background thread for announced times.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "convert/movie.h"
#include "convert/prefetcher.h"

namespace vintrel::movie_detail {

// One picture made ahead of time, with what the caller is told about it and the frame time it
// shows (to go on from it on demand).
struct ReadyPicture {
    Bitmap bitmap;
    std::string warning;
    std::optional<std::int64_t> bitmap_time;
};

using PicturePrefetcher = Prefetcher<ReadyPicture>;

}  // namespace vintrel::movie_detail
