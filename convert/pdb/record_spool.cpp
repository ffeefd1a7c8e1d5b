// Frame records' compressed rows kept on disk while a conversion runs.
#include "convert/pdb/record_spool.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace vintrel {

RecordSpool::~RecordSpool() {
    if (fd_ >= 0) ::close(fd_);
}

bool RecordSpool::open(const std::string& directory) {
    fd_ = ::open(directory.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd_ >= 0) return true;
    // File systems without unnamed files: a named one, unlinked at once.
    std::string name = directory + "/.vintrel-spool-XXXXXX";
    fd_ = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd_ < 0) return false;
    if (::unlink(name.c_str()) != 0) {
        const int error = errno;
        ::close(fd_);
        fd_ = -1;
        errno = error;
        return false;
    }
    return true;
}

bool RecordSpool::store(FrameRecord& record) {
    const std::uint8_t* bytes = record.data.data();
    std::size_t left = record.data.size();
    std::uint64_t at = end_;
    while (left > 0) {
        const ssize_t written = ::pwrite(fd_, bytes, left, static_cast<off_t>(at));
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            if (written == 0) errno = ENOSPC;
            return false;
        }
        bytes += written;
        left -= static_cast<std::size_t>(written);
        at += static_cast<std::uint64_t>(written);
    }
    record.spool_offset = static_cast<std::int64_t>(end_);
    end_ = at;
    std::vector<std::uint8_t>().swap(record.data);
    return true;
}

bool RecordSpool::load(const FrameRecord& record, std::vector<std::uint8_t>& data) const {
    data.resize(record.data_length());
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t got = ::pread(fd_, data.data() + done, data.size() - done,
                                    static_cast<off_t>(record.spool_offset) + static_cast<off_t>(done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            if (got == 0) errno = EIO;  // the spool lost its end
            return false;
        }
        done += static_cast<std::size_t>(got);
    }
    return true;
}

}  // namespace vintrel
