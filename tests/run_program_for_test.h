// Runs one of our command-line programs and collects its exit status and output.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/scratch_directory_for_test.h"

namespace vintrel::test {

// Our programs as built with the tests.
inline const std::string convert_program = VINTREL_CONVERT_PATH;
inline const std::string pdb_program = VINTREL_PDB_PATH;

// What the movie library says of a file that holds no movie it can read.
inline const std::string not_a_movie_message =
    "The movie file could not be opened. It may be in use or in an invalid format.";

struct ProgramResult {
    int exit_code = -1;
    std::string out;
    std::string err;
};

inline std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs `command` (a shell command line) with standard output and error captured.
inline ProgramResult run_program(const std::string& command) {
    static int counter = 0;
    const std::string base = scratch_path("run_" + std::to_string(counter++));
    const std::string full = command + " >" + base + ".out 2>" + base + ".err";
    const int status = std::system(full.c_str());
    ProgramResult result;
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = read_file(base + ".out");
    result.err = read_file(base + ".err");
    std::remove((base + ".out").c_str());
    std::remove((base + ".err").c_str());
    return result;
}

}  // namespace vintrel::test
