// Bit strings of what a bit writer produced, for comparing with the codes printed in the standard.
#pragma once

#include <string>

#include "encoder/setup/encoder_state.h"

namespace vintrel::test {

// Every bit produced so far as '0' and '1', the partly assembled byte included.
inline std::string bit_string(const BitWriter& w) {
    std::string bits;
    for (std::uint8_t byte : w.buffer)
        for (int b = 7; b >= 0; b--) bits += ((byte >> b) & 1) ? '1' : '0';
    for (int b = w.pending_bits - 1; b >= 0; b--) bits += ((w.pending >> b) & 1) ? '1' : '0';
    return bits;
}

// The code as printed, with the spaces that group its digits removed.
inline std::string printed(std::string code) {
    std::erase(code, ' ');
    return code;
}

}  // namespace vintrel::test
