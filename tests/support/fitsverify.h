// The FITS checker of the tests: files this project writes must satisfy
// fitsverify, the FITS standard's own verifier.
#pragma once

#include <cstdlib>
#include <string>

#include "support/installed_tools.h"

namespace qz_test {

// Whether fitsverify is installed; when not, the calling test fails.
inline bool have_fitsverify() { return test_support::tool_installed("fitsverify"); }

// Whether fitsverify reports the file without errors.
inline bool passes_fitsverify(const std::string& file) {
  const std::string command = "fitsverify -q -e '" + file + "' 2>&1 | grep -q 'OK:'";
  return std::system(command.c_str()) == 0;
}

}  // namespace qz_test
