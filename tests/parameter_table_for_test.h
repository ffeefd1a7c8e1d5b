// Parameter tables for tests: the built-in lines with chosen lines replaced.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "encoder/setup/encoder_state.h"
#include "encoder/setup/parameter_lines.h"
#include "encoder/setup/read_parameters.h"

namespace vintrel::test {

class ParameterTable {
public:
    ParameterTable() : lines_(builtin_parameter_lines.begin(), builtin_parameter_lines.end()) {}

    // Replaces line k (numbered as in the built-in table, the id string being line 0).
    ParameterTable& set(int k, std::string text) {
        if (k >= static_cast<int>(lines_.size())) lines_.resize(static_cast<std::size_t>(k) + 1);
        lines_[static_cast<std::size_t>(k)] = std::move(text);
        return *this;
    }

    // An MPEG-2 Main Profile @ Main Level set that passes every check.
    static ParameterTable mpeg2_main() {
        ParameterTable t;
        t.set(12, "0").set(25, "1").set(14, "720").set(15, "576").set(17, "3");
        return t;
    }

    EncoderFault read_into(EncoderState& state) const {
        std::vector<std::string_view> view(lines_.begin(), lines_.end());
        return read_parameters(state, view);
    }

    const std::vector<std::string>& lines() const { return lines_; }

private:
    std::vector<std::string> lines_;
};

}  // namespace vintrel::test
