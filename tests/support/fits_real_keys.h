// The numeric keywords of a FITS file as CFITSIO reads them, for tests that
// check a header's coordinates independently of our own card reader.
#pragma once

#include <fitsio.h>

#include <map>
#include <string>

namespace qz_test {

// The integer and real keywords of a file's first HDU, by name; empty when
// the file does not open.
inline std::map<std::string, double> real_keys(const std::string& file) {
  std::map<std::string, double> keys;
  fitsfile* f = nullptr;
  int status = 0, nkeys = 0;
  fits_open_file(&f, file.c_str(), READONLY, &status);
  fits_get_hdrspace(f, &nkeys, nullptr, &status);
  for (int k = 1; k <= nkeys && status == 0; k++) {
    char name[FLEN_KEYWORD], value[FLEN_VALUE], comment[FLEN_COMMENT];
    fits_read_keyn(f, k, name, value, comment, &status);
    double number;
    char dtype;
    int type_status = 0;
    if (status == 0 && fits_get_keytype(value, &dtype, &type_status) == 0 && (dtype == 'F' || dtype == 'I')) {
      fits_read_key_dbl(f, name, &number, nullptr, &status);
      keys[name] = number;
    }
  }
  int close_status = 0;
  fits_close_file(f, &close_status);
  return keys;
}

// A card's value, or the standard's default for a card left out.
inline double key_or(const std::map<std::string, double>& k, const std::string& key, double absent) {
  const auto at = k.find(key);
  return at == k.end() ? absent : at->second;
}

}  // namespace qz_test
