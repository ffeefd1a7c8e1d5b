// Where a test program makes its files: scratch_path("lines.par") in one folder per process,
// vintrel-<program>-XXXXXX (mode 0700) in $TMPDIR or /tmp, so that cases CTest runs side by side
// never share a path; fresh_scratch_folder("walk") makes an empty <folder>/walk-XXXXXX. The folder
// is made on first use and removed, read-only subfolders too, when the process exits (a forked
// child leaves it to its parent); VINTREL_KEEP_TEST_FILES=1 keeps it and prints its path.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace vintrel::test {

struct ScratchDirectory {
    ScratchDirectory() : owner_(::getpid()) {
        const char* tmp = std::getenv("TMPDIR");
        path_ = made(std::string(tmp && *tmp ? tmp : "/tmp") + "/vintrel-" + program_invocation_short_name);
    }
    ~ScratchDirectory() {
        if (::getpid() != owner_) return;
        const char* keep = std::getenv("VINTREL_KEEP_TEST_FILES");
        if (keep && *keep && std::string(keep) != "0") {
            std::fprintf(stderr, "Test files kept in %s\n", path_.c_str());
            return;
        }
        // A folder a test made read-only could not be emptied by an ordinary user.
        std::error_code ignored;
        for (auto it = std::filesystem::recursive_directory_iterator(path_, ignored);
             it != std::filesystem::recursive_directory_iterator(); it.increment(ignored))
            if (it->is_directory(ignored) && !it->is_symlink(ignored)) ::chmod(it->path().c_str(), 0700);
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchDirectory(const ScratchDirectory&) = delete;

    // A new empty folder named `stem`-XXXXXX; aborts when none can be made, as no test could run.
    static std::string made(const std::string& stem) {
        std::vector<char> name(stem.begin(), stem.end());
        for (char c : std::string("-XXXXXX")) name.push_back(c);
        name.push_back('\0');
        if (!::mkdtemp(name.data())) {
            std::perror(stem.c_str());
            std::abort();
        }
        return name.data();
    }

    pid_t owner_;
    std::string path_;
};

// The process's folder, without a trailing slash.
inline const std::string& scratch_directory() {
    static const ScratchDirectory directory;
    return directory.path_;
}

// `name` in the process's folder.
inline std::string scratch_path(const std::string& name) { return scratch_directory() + "/" + name; }

// A new empty folder in the process's folder.
inline std::string fresh_scratch_folder(const std::string& stem) { return ScratchDirectory::made(scratch_path(stem)); }

}  // namespace vintrel::test
