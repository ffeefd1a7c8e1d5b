// A scratch file for fuzz inputs that our code reads by name (movies, matrices, databases).
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace vintrel::fuzz {

// One file per process, in $TMPDIR (or /tmp), rewritten for every input and removed at exit.
class TempFile {
public:
    explicit TempFile(const std::string& extension) {
        const char* dir = std::getenv("TMPDIR");
        path_ = std::string(dir && *dir ? dir : "/tmp") + "/vintrel-fuzz-" + std::to_string(::getpid()) + extension;
    }
    ~TempFile() { std::remove(path_.c_str()); }

    // Replaces the file's contents; aborts when it cannot, since the run would test nothing.
    const std::string& write(const std::uint8_t* data, std::size_t size) {
        std::FILE* f = std::fopen(path_.c_str(), "wb");
        if (!f || (size > 0 && std::fwrite(data, 1, size, f) != size) || std::fclose(f) != 0) {
            std::perror(path_.c_str());
            std::abort();
        }
        return path_;
    }

    const std::string& path() const { return path_; }

private:
    std::string path_;
};

}  // namespace vintrel::fuzz
