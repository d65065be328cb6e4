// Edits of the integer keywords of a FITS file in place, for the tables of
// malformed coefficient files, and what a reader must print when one is
// missing.
#pragma once

#include <fitsio.h>
#include <gtest/gtest.h>

#include <string>

namespace qz_test {

inline void set_int_key(const std::string& file, const char* key, long value) {
  fitsfile* f = nullptr;
  int status = 0;
  ffopen(&f, file.c_str(), READWRITE, &status);
  ffukyj(f, key, value, nullptr, &status);
  ffclos(f, &status);
  ASSERT_EQ(status, 0) << key;
}

inline void drop_key(const std::string& file, const char* key) {
  fitsfile* f = nullptr;
  int status = 0;
  ffopen(&f, file.c_str(), READWRITE, &status);
  ffdkey(f, key, &status);
  ffclos(f, &status);
  ASSERT_EQ(status, 0) << key;
}

// The keyword, then the file (a regex), then the library's status.
inline std::string missing_key_message(const char* key, const std::string& file_regex) {
  return std::string("keyword \"") + key + "\".*" + file_regex + ".*status = 202";
}

}  // namespace qz_test
