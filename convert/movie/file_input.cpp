#include "convert/movie/file_input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <vector>

extern "C" {
#include <libavformat/avio.h>
#include <libavutil/error.h>
#include <libavutil/mem.h>
}

namespace vintrel::movie_detail {

namespace {

constexpr int io_buffer_size = 64 * 1024;
constexpr int file_flags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

std::string system_message(int error) { return std::generic_category().message(error); }

// Closes `fd` without disturbing errno.
void close_keeping_errno(int fd) {
    const int saved = errno;
    ::close(fd);
    errno = saved;
}

// Opens a path too long for the system's path limit one component at a time, so that only each
// single name has to fit. Returns the descriptor, or -1 with errno set.
int open_by_components(const std::string& path) {
    std::vector<std::string> parts;
    std::size_t begin = 0;
    while (begin <= path.size()) {
        const std::size_t end = path.find('/', begin);
        const std::size_t stop = end == std::string::npos ? path.size() : end;
        if (stop > begin) parts.push_back(path.substr(begin, stop - begin));
        if (end == std::string::npos) break;
        begin = end + 1;
    }
    if (parts.empty()) {
        errno = ENOENT;
        return -1;
    }
    int directory = ::open(path.front() == '/' ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (directory < 0) return -1;
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        const int inner = ::openat(directory, parts[i].c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        close_keeping_errno(directory);
        if (inner < 0) return -1;
        directory = inner;
    }
    const int fd = ::openat(directory, parts.back().c_str(), file_flags);
    close_keeping_errno(directory);
    return fd;
}

// Opens `path` for reading without blocking on a FIFO or device. Returns -1 with errno set.
int open_path(const std::string& path) {
    if (path.empty()) {
        errno = ENOENT;
        return -1;
    }
    if (path.find('\0') != std::string::npos) {
        errno = EINVAL;
        return -1;
    }
    const int fd = ::open(path.c_str(), file_flags);
    if (fd >= 0 || errno != ENAMETOOLONG) return fd;
    return open_by_components(path);
}

}  // namespace

void IoContextDeleter::operator()(AVIOContext* io) const {
    if (io == nullptr) return;
    av_freep(&io->buffer);
    avio_context_free(&io);
}

Result<std::unique_ptr<MovieFileInput>, MovieFailure> MovieFileInput::open(const std::string& path) {
    // Why it cannot be read: a system error (closing what was opened keeps it), or another reason.
    const auto cannot = [&path](int fd, int error, std::string reason = {}) {
        if (fd >= 0) ::close(fd);
        if (reason.empty()) reason = system_message(error);
        return Result<std::unique_ptr<MovieFileInput>, MovieFailure>{
            nullptr, {MovieFailure::failed, path, error, std::move(reason)}};
    };
    const int fd = open_path(path);
    if (fd < 0) return cannot(-1, errno);
    struct stat status {};
    if (::fstat(fd, &status) != 0) return cannot(fd, errno);
    if (S_ISDIR(status.st_mode)) return cannot(fd, EISDIR);
    if (!S_ISREG(status.st_mode)) return cannot(fd, 0, "Not a regular file");
    // Opened without blocking so that a FIFO could not hang us; reads of a file may block.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) return cannot(fd, errno);
    return {std::unique_ptr<MovieFileInput>(new MovieFileInput(fd, status.st_size)), {}};
}

MovieFileInput::~MovieFileInput() { ::close(fd_); }

IoContextPtr MovieFileInput::make_io_context() {
    auto* buffer = static_cast<unsigned char*>(av_malloc(io_buffer_size));
    if (buffer == nullptr) return nullptr;
    AVIOContext* io = avio_alloc_context(buffer, io_buffer_size, 0, this, &MovieFileInput::read_packet,
                                         nullptr, &MovieFileInput::seek);
    if (io == nullptr) {
        av_free(buffer);
        return nullptr;
    }
    position_ = 0;
    return IoContextPtr(io);
}

bool MovieFileInput::read_start(std::uint8_t* buffer, std::size_t size) const {
    std::size_t got = 0;
    while (got < size) {
        const ssize_t count = ::pread(fd_, buffer + got, size - got, static_cast<off_t>(got));
        if (count > 0) {
            got += static_cast<std::size_t>(count);
        } else if (count == 0 || errno != EINTR) {
            return false;
        }
    }
    return true;
}

int MovieFileInput::read_packet(void* opaque, std::uint8_t* buffer, int size) {
    auto* self = static_cast<MovieFileInput*>(opaque);
    if (size <= 0) return 0;
    for (;;) {
        const ssize_t count = ::pread(self->fd_, buffer, static_cast<std::size_t>(size), self->position_);
        if (count > 0) {
            self->position_ += count;
            return static_cast<int>(count);
        }
        if (count == 0) return AVERROR_EOF;
        if (errno == EINTR) continue;
        self->read_error_ = errno;
        return AVERROR(errno);
    }
}

std::int64_t MovieFileInput::seek(void* opaque, std::int64_t offset, int whence) {
    auto* self = static_cast<MovieFileInput*>(opaque);
    if (whence & AVSEEK_SIZE) {
        struct stat status {};
        if (::fstat(self->fd_, &status) != 0) return AVERROR(errno);
        return status.st_size;
    }
    std::int64_t base = 0;
    switch (whence & ~AVSEEK_FORCE) {
    case SEEK_SET: base = 0; break;
    case SEEK_CUR: base = self->position_; break;
    case SEEK_END: {
        struct stat status {};
        if (::fstat(self->fd_, &status) != 0) return AVERROR(errno);
        base = status.st_size;
        break;
    }
    default: return AVERROR(EINVAL);
    }
    if ((offset > 0 && base > INT64_MAX - offset) || base + offset < 0) return AVERROR(EINVAL);
    self->position_ = base + offset;
    return self->position_;
}

}  // namespace vintrel::movie_detail
