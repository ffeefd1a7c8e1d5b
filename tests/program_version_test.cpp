// Every program answers --version with its name and the project's version, and exits 0.
#include <string>

#include <gtest/gtest.h>

#include "tests/run_program_for_test.h"

namespace vintrel::test {
namespace {

struct ProgramRow {
    const char* name;
    std::string path;
};

TEST(ProgramVersion, EachProgramAnswersWithTheProjectVersion) {
    const ProgramRow programs[] = {
        {"vintrel-convert", convert_program},
        {"vintrel-pdb", pdb_program},
        {"vintrel-encode", VINTREL_ENCODE_PATH},
#ifdef VINTREL_APP_PATH
        {"vintrel", VINTREL_APP_PATH},
#endif
    };
    for (const ProgramRow& program : programs) {
        SCOPED_TRACE(program.name);
        // No display: the desktop program must answer before it needs one.
        const ProgramResult result = run_program("env -u DISPLAY -u WAYLAND_DISPLAY " + program.path + " --version");
        EXPECT_EQ(result.exit_code, 0);
        EXPECT_EQ(result.out, std::string(program.name) + " " + VINTREL_PROJECT_VERSION + "\n");
        EXPECT_EQ(result.err, "");
    }
}

}  // namespace
}  // namespace vintrel::test
