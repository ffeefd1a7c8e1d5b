// A scratch file for fuzz inputs that our code reads by name (movies, matrices, databases).
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace vintrel::fuzz {

// One file per process, in a folder of its own made in $TMPDIR (or /tmp), rewritten for every
// input; file and folder are removed at exit.
class TempFile {
public:
    explicit TempFile(const std::string& extension) {
        const char* tmp = std::getenv("TMPDIR");
        const std::string stem = std::string(tmp && *tmp ? tmp : "/tmp") + "/vintrel-fuzz-XXXXXX";
        std::vector<char> name(stem.c_str(), stem.c_str() + stem.size() + 1);
        if (!::mkdtemp(name.data())) {
            std::perror(stem.c_str());
            std::abort();
        }
        folder_ = name.data();
        path_ = folder_ + "/input" + extension;
    }
    ~TempFile() {
        std::remove(path_.c_str());
        ::rmdir(folder_.c_str());
    }

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
    std::string folder_, path_;
};

}  // namespace vintrel::fuzz
