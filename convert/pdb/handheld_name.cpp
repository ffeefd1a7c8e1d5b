// The database name in the handheld's character set. It is converted by hand rather than with
// iconv: glibc's iconv transliterates according to the process locale (LC_CTYPE), which a library
// must not rely on, so the same movie would be given different names on different machines.
#include "convert/pdb/handheld_name.h"

#include <iterator>
#include <string_view>

#include "convert/pdb/layout.h"

namespace vintrel::pdb {
namespace {

// The characters Windows-1252 puts at bytes 0x80..0x9F; 0 where it leaves a byte undefined.
constexpr char16_t windows_1252_80_to_9f[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // € . ‚ ƒ „ … † ‡
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,       // ˆ ‰ Š ‹ Œ . Ž .
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // . ‘ ’ “ ” • – —
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,  // ˜ ™ š › œ . ž Ÿ
};

// Runs of consecutive Latin letters with diacritics and the ASCII letter each is shown as: all of
// Latin Extended-A (U+0100..U+017F; its seven letters that Windows-1252 holds are looked up there
// first), and the common letters of Latin Extended-B: Vietnamese horn letters, Pinyin carons,
// Romanian commas and a few others.
struct LetterRun {
    char32_t first;
    std::string_view letters;
};
constexpr LetterRun latin_letters[] = {
    {0x0100,
     "AaAaAaCcCcCcCcDd"  // U+0100 Ā ā Ă ă Ą ą Ć ć Ĉ ĉ Ċ ċ Č č Ď ď
     "DdEeEeEeEeEeGgGg"  // U+0110 Đ đ Ē ē Ĕ ĕ Ė ė Ę ę Ě ě Ĝ ĝ Ğ ğ
     "GgGgHhHhIiIiIiIi"  // U+0120 Ġ ġ Ģ ģ Ĥ ĥ Ħ ħ Ĩ ĩ Ī ī Ĭ ĭ Į į
     "IiIiJjKkkLlLlLlL"  // U+0130 İ ı Ĳ ĳ Ĵ ĵ Ķ ķ ĸ Ĺ ĺ Ļ ļ Ľ ľ Ŀ
     "lLlNnNnNnnNnOoOo"  // U+0140 ŀ Ł ł Ń ń Ņ ņ Ň ň ŉ Ŋ ŋ Ō ō Ŏ ŏ
     "OoOoRrRrRrSsSsSs"  // U+0150 Ő ő Œ œ Ŕ ŕ Ŗ ŗ Ř ř Ś ś Ŝ ŝ Ş ş
     "SsTtTtTtUuUuUuUu"  // U+0160 Š š Ţ ţ Ť ť Ŧ ŧ Ũ ũ Ū ū Ŭ ŭ Ů ů
     "UuUuWwYyYZzZzZzs"},  // U+0170 Ű ű Ų ų Ŵ ŵ Ŷ ŷ Ÿ Ź ź Ż ż Ž ž ſ
    {0x01A0, "Oo"},                            // Ơ ơ
    {0x01AF, "Uu"},                            // Ư ư
    {0x01CD, "AaIiOoUuUuUuUuUu"},              // Ǎ ǎ Ǐ ǐ Ǒ ǒ Ǔ ǔ Ǖ ǖ Ǘ ǘ Ǚ ǚ Ǜ ǜ
    {0x01E6, "GgKkOoOo"},                      // Ǧ ǧ Ǩ ǩ Ǫ ǫ Ǭ ǭ
    {0x01F4, "Gg"},                            // Ǵ ǵ
    {0x01F8, "NnAaAaOo"},                      // Ǹ ǹ Ǻ ǻ Ǽ ǽ Ǿ ǿ
    {0x0200, "AaAaEeEeIiIiOoOoRrRrUuUuSsTt"},  // Ȁ ȁ Ȃ ȃ Ȅ ȅ Ȇ ȇ Ȉ ȉ Ȋ ȋ Ȍ ȍ Ȏ ȏ Ȑ ȑ Ȓ ȓ Ȕ ȕ Ȗ ȗ Ș ș Ț ț
    {0x021E, "Hh"},                            // Ȟ ȟ
    {0x0226, "AaEeOoOoOoOoYy"},                // Ȧ ȧ Ȩ ȩ Ȫ ȫ Ȭ ȭ Ȯ ȯ Ȱ ȱ Ȳ ȳ
};

// The byte the handheld shows `c` as.
char handheld_byte(char32_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<char>(c);  // the same in Windows-1252
    for (std::size_t i = 0; i < std::size(windows_1252_80_to_9f); i++)
        if (windows_1252_80_to_9f[i] == c) return static_cast<char>(0x80 + i);
    for (const LetterRun& run : latin_letters)
        if (c >= run.first && c - run.first < run.letters.size()) return run.letters[c - run.first];
    return '?';
}

struct Decoded {
    char32_t character;
    std::size_t length;  // bytes of the sequence
};

// The character of the UTF-8 sequence `text` starts with, or nothing when its first byte does not
// start a valid one: a stray continuation byte, a lead byte without its continuations, an overlong
// form, a surrogate or a code point past U+10FFFF.
std::optional<Decoded> decode_utf8(std::string_view text) {
    const auto byte = [&text](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
    const std::uint8_t lead = byte(0);
    if (lead < 0x80) return Decoded{lead, 1};
    std::size_t length = 0;
    char32_t c = 0;
    std::uint8_t low = 0x80, high = 0xBF;  // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        c = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        c = lead & 0x0Fu;
        if (lead == 0xE0) low = 0xA0;   // overlong below
        if (lead == 0xED) high = 0x9F;  // surrogates above
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        c = lead & 0x07u;
        if (lead == 0xF0) low = 0x90;   // overlong below
        if (lead == 0xF4) high = 0x8F;  // past U+10FFFF above
    } else {
        return std::nullopt;
    }
    if (text.size() < length) return std::nullopt;
    for (std::size_t i = 1; i < length; i++) {
        const std::uint8_t next = byte(i);
        if (next < (i == 1 ? low : 0x80) || next > (i == 1 ? high : 0xBF)) return std::nullopt;
        c = c << 6 | (next & 0x3Fu);
    }
    return Decoded{c, length};
}

}  // namespace

std::string handheld_name(std::string_view file_name) {
    std::string name;
    while (!file_name.empty() && name.size() < database_name_length) {
        if (const auto decoded = decode_utf8(file_name)) {
            name += handheld_byte(decoded->character);
            file_name.remove_prefix(decoded->length);
        } else {
            // Names written by older systems are often Windows-1252 already.
            name += windows_1252_character(static_cast<std::uint8_t>(file_name[0])) ? file_name[0] : '?';
            file_name.remove_prefix(1);
        }
    }
    return name;
}

std::optional<char32_t> windows_1252_character(std::uint8_t byte) {
    if (byte < 0x80 || byte > 0x9F) return byte;
    if (const char16_t c = windows_1252_80_to_9f[byte - 0x80]) return c;
    return std::nullopt;
}

}  // namespace vintrel::pdb
