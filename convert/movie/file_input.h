// The movie file as the demuxer reads it: opened by its plain path, never taken as a protocol or URL.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "convert/movie/movie.h"

struct AVIOContext;

namespace vintrel::movie_detail {

// Frees an I/O context made by MovieFileInput::make_io_context together with its buffer.
struct IoContextDeleter {
    void operator()(AVIOContext* io) const;
};
using IoContextPtr = std::unique_ptr<AVIOContext, IoContextDeleter>;

class MovieFileInput {
public:
    // Opens the regular file at `path` (UTF-8 or any other bytes, of any length) for reading.
    // Without a file, the fault (failed) holds the system's wording of the reason.
    static Result<std::unique_ptr<MovieFileInput>, MovieFailure> open(const std::string& path);

    ~MovieFileInput();
    MovieFileInput(const MovieFileInput&) = delete;
    MovieFileInput& operator=(const MovieFileInput&) = delete;

    // The file's size when it was opened.
    std::int64_t size() const { return size_; }

    // Reads the first `size` bytes of the file, apart from any I/O context; false when the file
    // is shorter or cannot be read.
    bool read_start(std::uint8_t* buffer, std::size_t size) const;

    // A new I/O context that reads the file from its start. One context is in use at a time:
    // making a new one moves the shared read position back to the start. Null if out of memory.
    IoContextPtr make_io_context();

    // The system error (an errno value) of the last read that failed, 0 if none did.
    int read_error() const { return read_error_; }

private:
    MovieFileInput(int fd, std::int64_t size) : fd_(fd), size_(size) {}

    static int read_packet(void* opaque, std::uint8_t* buffer, int size);
    static std::int64_t seek(void* opaque, std::int64_t offset, int whence);

    int fd_;
    std::int64_t size_;
    std::int64_t position_ = 0;
    int read_error_ = 0;
};

}  // namespace vintrel::movie_detail
