// vintrel-pdb: shows and checks a handheld record database and exports its frames as PNG files.
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "app/program_version.h"
#include "cli/png_writer.h"
#include "convert/dither_tables.h"
#include "convert/pdb/handheld_name.h"
#include "convert/pdb/reader.h"

namespace {

namespace pdb = vintrel::pdb;

const char usage[] =
    "usage: vintrel-pdb info FILE.pdb\n"
    "       vintrel-pdb export FILE.pdb DIR\n"
    "       vintrel-pdb --version\n"
    "  info    checks every record and prints the database header and one line per record\n"
    "  export  checks every record and writes frame-00000.png, frame-00001.png, ... into DIR\n";

constexpr int exit_ok = 0;
constexpr int exit_failure = 1;
constexpr int exit_usage = 2;

// Reads the whole file; on failure prints the path and the system's reason.
bool read_whole_file(const std::string& path, std::vector<std::uint8_t>& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        std::fprintf(stderr, "vintrel-pdb: cannot open %s: %s\n", path.c_str(), std::strerror(errno));
        return false;
    }
    bytes.clear();
    std::uint8_t block[65536];
    for (;;) {
        errno = 0;
        const std::size_t got = std::fread(block, 1, sizeof block, file);
        bytes.insert(bytes.end(), block, block + got);
        if (got < sizeof block) break;
    }
    const int read_errno = errno;
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) {
        std::fprintf(stderr, "vintrel-pdb: cannot read %s: %s\n", path.c_str(),
                     std::strerror(read_errno != 0 ? read_errno : EIO));
        return false;
    }
    return true;
}

// A database read from a file: whole, or incomplete (its header lists records the file does not
// hold; `database` then has the records present, and `incomplete` the reader's message).
struct Loaded {
    std::vector<std::uint8_t> bytes;
    pdb::Database database;
    std::optional<std::string> incomplete;
};

// Reads and validates the database; a file that cannot be read or is damaged is refused, its
// fault printed with the file's name.
std::optional<Loaded> load(const std::string& path) {
    Loaded loaded;
    if (!read_whole_file(path, loaded.bytes)) return std::nullopt;
    pdb::ReadResult result = pdb::read_database(loaded.bytes);
    if (!result.ok()) {
        if (result.fault.kind != pdb::PdbFailure::incomplete) {
            std::fprintf(stderr, "%s: %s\n", path.c_str(), result.fault.detail.c_str());
            return std::nullopt;
        }
        loaded.incomplete = std::move(result.fault.detail);
    }
    loaded.database = std::move(result.database);
    return loaded;
}

// Ends a command that showed or wrote what the database holds: an incomplete one is named after
// that, with how many records its header lists and how many the file holds, and fails.
int finish(const std::string& path, const Loaded& loaded) {
    if (!loaded.incomplete) return exit_ok;
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %s\n", path.c_str(), loaded.incomplete->c_str());
    return exit_failure;
}

// Text from the file (Windows-1252, the handheld's character set) in UTF-8, with control bytes,
// the bytes Windows-1252 leaves undefined and the backslash escaped as \xNN and \\.
std::string printable(std::span<const char> text) {
    std::string shown;
    for (const char c : text) {
        const auto byte = static_cast<std::uint8_t>(c);
        const std::optional<char32_t> character = pdb::windows_1252_character(byte);
        if (byte == '\\') {
            shown += "\\\\";
        } else if (!character || *character < 0x20 || *character == 0x7F) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            shown += escaped;
        } else if (*character < 0x80) {
            shown += c;
        } else if (*character < 0x800) {
            shown += static_cast<char>(0xC0 | *character >> 6);
            shown += static_cast<char>(0x80 | (*character & 0x3F));
        } else {  // every Windows-1252 character lies below U+10000
            shown += static_cast<char>(0xE0 | *character >> 12);
            shown += static_cast<char>(0x80 | (*character >> 6 & 0x3F));
            shown += static_cast<char>(0x80 | (*character & 0x3F));
        }
    }
    return shown;
}

void print_date(const char* label, std::uint32_t value) {
    std::printf("%-11s0x%08" PRIX32 "  %s\n", label, value, pdb::format_date(value).c_str());
}

int info(const std::string& path) {
    const std::optional<Loaded> loaded = load(path);
    if (!loaded) return exit_failure;
    const pdb::Database& database = loaded->database;
    const pdb::DatabaseHeader& header = database.header;
    std::printf("%-11s%s\n", "name:", printable(header.name).c_str());
    std::printf("%-11s%s\n", "type:", printable(header.type).c_str());
    std::printf("%-11s%s\n", "creator:", printable(header.creator).c_str());
    print_date("created:", header.creation_date);
    print_date("modified:", header.modification_date);
    print_date("backed up:", header.backup_date);
    std::printf("%-11s%" PRIu32 "\n", "records:", header.record_count);
    for (std::size_t i = 0; i < database.records.size(); i++) {
        const pdb::StoredRecord& r = database.records[i];
        std::printf("record %zu: offset %" PRIu32 ", attributes 0x%02X, unique ID 0x%06" PRIX32 ", width %" PRIu32
                    ", height %" PRIu32 ", data length %" PRIu32 "\n",
                    i, r.offset, r.attributes, r.unique_id, r.width, r.height, r.data_length);
    }
    return finish(path, *loaded);
}

// Turns packed 2-bit rows into 8-bit grey pixels, the grey of each code (code_greys).
void rows_to_grey(std::span<const std::uint8_t> rows, std::size_t row_bytes, std::uint32_t width,
                  std::uint32_t height, std::vector<std::uint8_t>& grey) {
    grey.resize(std::size_t{width} * height);
    for (std::size_t y = 0; y < height; y++) {
        const std::uint8_t* row = rows.data() + y * row_bytes;
        std::uint8_t* out = grey.data() + y * width;
        for (std::size_t x = 0; x < width; x++) {
            const unsigned code = (row[x / 4] >> (6 - 2 * (x % 4))) & 3u;
            out[x] = vintrel::code_greys[code];
        }
    }
}

int export_frames(const std::string& path, const std::string& directory) {
    const std::optional<Loaded> loaded = load(path);
    if (!loaded) return exit_failure;
    const pdb::Database& database = loaded->database;

    std::error_code error;
    std::filesystem::create_directories(directory, error);
    if (error) {
        std::fprintf(stderr, "vintrel-pdb: cannot create directory %s: %s\n", directory.c_str(),
                     error.message().c_str());
        return exit_failure;
    }

    std::vector<std::uint8_t> rows;
    std::vector<std::uint8_t> grey;
    for (std::size_t i = 0; i < database.records.size(); i++) {
        const pdb::StoredRecord& record = database.records[i];
        if (const pdb::PdbFault fault = pdb::expand_record(loaded->bytes, record, rows); fault.failed()) {
            std::fprintf(stderr, "%s: record %zu: %s\n", path.c_str(), i, fault.detail.c_str());
            return exit_failure;
        }
        rows_to_grey(rows, static_cast<std::size_t>(pdb::row_bytes_for_width(record.width)), record.width,
                     record.height, grey);
        char name[32];
        std::snprintf(name, sizeof name, "frame-%05zu.png", i);
        const std::string frame_path = (std::filesystem::path(directory) / name).string();
        if (auto failure = vintrel::write_grey_png(frame_path, record.width, record.height, grey)) {
            std::fprintf(stderr, "vintrel-pdb: cannot write %s: %s\n", frame_path.c_str(), failure->c_str());
            return exit_failure;
        }
    }
    std::printf("wrote %zu frame%s to %s\n", database.records.size(), database.records.size() == 1 ? "" : "s",
                directory.c_str());
    return finish(path, *loaded);
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        std::fputs(usage, stdout);
        return exit_ok;
    }
    if (args.size() == 1 && args[0] == "--version") return vintrel::print_version("vintrel-pdb");
    if (args.size() == 2 && args[0] == "info") return info(std::string(args[1]));
    if (args.size() == 3 && args[0] == "export") return export_frames(std::string(args[1]), std::string(args[2]));
    std::fputs(usage, stderr);
    return exit_usage;
}
