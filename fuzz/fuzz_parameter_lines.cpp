// The parameter-line reader on arbitrary text: one parameter line per line of the input.
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "encoder/setup/fatal_error.h"
#include "encoder/setup/read_parameters.h"

using namespace vintrel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.emplace_back(text.data() + start, end - start);
        start = end + 1;
    }

    EncoderState state;
    if (read_parameters(state, lines).failed()) return 0;  // a rejected parameter set is an ordinary outcome
    // An accepted set keeps the promises the encoder relies on.
    if (state.params.N < 1 || state.params.M < 1 || state.params.N % state.params.M != 0) __builtin_trap();
    if (state.params.motion_data.size() != static_cast<std::size_t>(state.params.M)) __builtin_trap();
    if (state.params.is_mpeg1 &&
        (state.params.chroma_format != ChromaFormat::yuv420 || !state.params.progressive_sequence))
        __builtin_trap();
    return 0;
}
