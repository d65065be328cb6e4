// The FITS checker of the tests: files this project writes must satisfy
// fitsverify, the FITS standard's own verifier, when it is installed.
#pragma once

#include <cstdlib>
#include <string>

namespace qz_test {

inline bool have_fitsverify() {
  return std::system("command -v fitsverify >/dev/null 2>&1") == 0;
}

// Whether fitsverify reports the file without errors.
inline bool passes_fitsverify(const std::string& file) {
  const std::string command = "fitsverify -q -e '" + file + "' 2>&1 | grep -q 'OK:'";
  return std::system(command.c_str()) == 0;
}

}  // namespace qz_test
