// A movie that one thread at a time may ask for pictures.
#pragma once

#include <memory>
#include <utility>

#include "convert/movie/movie.h"
#include "convert/movie/thread_owner.h"

namespace vintrel {

// Decoding keeps state (the demuxer's position, the decoder's reference frames, the last picture
// handed out), so a movie's pictures may be asked for by one thread only: the owner. The owner is
// the thread that made the OwnedMovie until it hands the movie to a decode-ahead worker, which
// gives it back when it ends. picture_at() and warning() from any other thread throw
// std::logic_error. The time scale, duration and bounds are fixed once the movie is open, so
// every thread may read them.
class OwnedMovie final : public Movie {
public:
    explicit OwnedMovie(std::unique_ptr<Movie> movie) : movie_(std::move(movie)) {}

    std::int32_t time_scale() const override { return movie_->time_scale(); }
    std::int32_t duration() const override { return movie_->duration(); }
    MovieBounds natural_bounds() const override { return movie_->natural_bounds(); }
    const Bitmap& picture_at(std::int32_t t) override {
        owner_.check();
        return movie_->picture_at(t);
    }
    const std::string& warning() const override {
        owner_.check();
        return movie_->warning();
    }
    MovieExtent extent() const override { return movie_->extent(); }

    ThreadOwner& owner() { return owner_; }

private:
    std::unique_ptr<Movie> movie_;
    ThreadOwner owner_;
};

}  // namespace vintrel
