// The database name in the handheld's character set (Windows-1252), made from a file name and read back.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vintrel::pdb {

// The name field's text for a file name given in UTF-8: at most database_name_length bytes, one
// byte per character. ASCII is kept as it is; other characters become their Windows-1252 byte, a
// close ASCII letter or "?". Bytes that do not start a valid UTF-8 sequence are taken to be
// Windows-1252 already.
std::string handheld_name(std::string_view file_name);

// The character a byte of handheld text stands for; nothing for the five bytes Windows-1252
// leaves undefined.
std::optional<char32_t> windows_1252_character(std::uint8_t byte);

}  // namespace vintrel::pdb
