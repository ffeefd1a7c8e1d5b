// The movies the tests read: made once per test run by tests/make-test-movies into the build tree
// (the CTest fixture TestMovies), and only read by the tests; a test that damages or renames one
// works on a copy in its scratch folder.
#pragma once

#include <string>

namespace vintrel::test {

inline std::string test_movie(const std::string& name) { return std::string(VINTREL_TEST_MOVIES) + "/" + name; }

}  // namespace vintrel::test
