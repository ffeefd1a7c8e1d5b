// The quantiser matrix reader on arbitrary files.
#include <cstdint>
#include <string>

#include "encoder/setup/fatal_error.h"
#include "encoder/setup/read_parameters.h"
#include "fuzz/fuzz_temp_file.h"

using namespace vintrel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static fuzz::TempFile file(".mat");
    file.write(data, size);

    EncoderState state;
    state.params.intra_quant_matrix_file_name = file.path();
    state.params.non_intra_quant_matrix_file_name = "-";
    if (read_quant_matrices(state).failed()) return 0;  // a refused matrix
    if (state.params.load_intra_quant_matrix != 1 || state.params.load_non_intra_quant_matrix != 0) __builtin_trap();
    for (const std::uint8_t weight : state.params.intra_quant_matrix)
        if (weight == 0) __builtin_trap();
    return 0;
}
