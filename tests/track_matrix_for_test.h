// Writes a display matrix into the first track header of a QuickTime or MP4 file, as cameras
// that film turned do (the ffmpeg program of our machines cannot write one).
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

namespace vintrel::test {

// The matrix [a b; c d] with the translation (tx, ty), and the track's shown width and height,
// all in whole units.
inline void set_track_matrix(const std::string& file, int a, int b, int c, int d, int tx, int ty, int width,
                             int height) {
    std::fstream stream(file, std::ios::in | std::ios::out | std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(stream)), std::istreambuf_iterator<char>());
    const std::size_t tkhd = bytes.find("tkhd");
    ASSERT_NE(tkhd, std::string::npos);
    ASSERT_EQ(bytes[tkhd + 4], 0) << "expected a version 0 track header";
    const auto put = [&](std::size_t at, std::uint32_t value) {
        for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(value >> (24 - 8 * i));
    };
    // After the type: version and flags, two dates, track id, reserved, duration, 8 reserved
    // bytes, layer, group, volume, reserved: 40 bytes, then the nine matrix entries and the size.
    const std::size_t matrix = tkhd + 4 + 40;
    const std::int32_t entries[9] = {a << 16, b << 16, 0, c << 16, d << 16, 0, tx << 16, ty << 16, 1 << 30};
    for (int i = 0; i < 9; ++i) put(matrix + 4 * i, static_cast<std::uint32_t>(entries[i]));
    put(matrix + 36, static_cast<std::uint32_t>(width) << 16);
    put(matrix + 40, static_cast<std::uint32_t>(height) << 16);
    stream.seekp(0);
    stream.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace vintrel::test
