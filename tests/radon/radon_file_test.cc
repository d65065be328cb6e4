// The ".rad" file: its name rule, a bit-exact round trip for every method,
// the header read back by the FITS library and checked by fitsverify, and
// the refusal of every malformed header with the file's name.
#include <fitsio.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "io/fits_test_files.h"
#include "io/image_test_tools.h"
#include "radon/radon.h"
#include "support/death.h"
#include "support/fits_keys.h"
#include "support/fitsverify.h"
#include "support/test_images.h"

namespace {

using fits_test::file_exists;
using fits_test::scratch;
using Image = to_array<float, false>;

long key(const std::string& file, const char* name) {
  fitsfile* f = nullptr;
  int status = 0;
  long value = -12345;
  ffopen(&f, file.c_str(), READONLY, &status);
  ffgkyj(f, name, &value, nullptr, &status);
  ffclos(f, &status);
  EXPECT_EQ(status, 0) << name;
  return value;
}

TEST(RadonFile, NameTakesTheSuffixOnce) {
  Radon r;
  r.alloc(4, 4, RADON_FFT, 0, 0);
  Image rad(8, 4);
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"radon", "radon.rad"}, {"given.rad", "given.rad"}, {"upper.RAD", "upper.RAD.rad"}, {"rad", "rad.rad"}};
  for (const auto& c : cases) {
    r.write(scratch(c.first).c_str(), rad);
    EXPECT_TRUE(file_exists(scratch(c.second))) << c.first;
  }
  EXPECT_FALSE(file_exists(scratch("given.rad.rad")));
}

TEST(RadonFile, RoundTripOfEveryMethodIsExact) {
  for (type_radon m : {RADON_PROJ_BACK, RADON_PROJ_FFT, RADON_FFT, RADON_FINITE, RADON_SLANT_STACK,
                       RADON_FFT_SLANT_STACK}) {
    const int n = m == RADON_FINITE ? 7 : 8;
    Radon r;
    r.alloc(n, n, m, 0, 0);
    r.FormatIn = F_PGM;
    auto ima = random_image(n, n, 10 + m);
    Image rad, back;
    r.transform(ima, rad);
    const std::string name = scratch("trip" + std::to_string(m));
    r.write(name.c_str(), rad);
    Radon fresh;
    fresh.read(name.c_str(), back);
    EXPECT_EQ(pixels(back), pixels(rad)) << m;
    EXPECT_EQ(back.nl(), rad.nl());
    EXPECT_EQ(fresh.RadonMethod, m);
    EXPECT_EQ(fresh.Nl, n);
    EXPECT_EQ(fresh.Nc, n);
    EXPECT_EQ(fresh.radon_nl(), r.radon_nl());
    EXPECT_EQ(fresh.radon_nc(), r.radon_nc());
    EXPECT_EQ(fresh.FormatIn, F_PGM);
    EXPECT_EQ(fresh.Allocated, True);
    // gzip'ed under the same name: inflated by the FITS library, not taken
    // for a file shorter than its header.
    ASSERT_TRUE(fits_test::gzip_in_place(name + ".rad"));
    Radon packed;
    packed.read(name.c_str(), back);
    EXPECT_EQ(pixels(back), pixels(rad)) << m;
  }
}

TEST(RadonFile, HeaderCarriesTheObjectAndPassesFitsverify) {
  Radon r;
  r.alloc(8, 8, RADON_FFT, 0, 0);
  r.FormatIn = F_FITS;
  Image rad(16, 8);
  const std::string file = scratch("keys.rad");
  // Writing over an existing file replaces it.
  fits_test::write_bytes(file, "not a FITS file");
  r.write(file.c_str(), rad);
  EXPECT_EQ(key(file, "NAXIS1"), 8);
  EXPECT_EQ(key(file, "NAXIS2"), 16);
  EXPECT_EQ(key(file, "Nl"), 8);
  EXPECT_EQ(key(file, "Nc"), 8);
  EXPECT_EQ(key(file, "Nlr"), 16);
  EXPECT_EQ(key(file, "Ncr"), 8);
  EXPECT_EQ(key(file, "Type_Tra"), 2);
  EXPECT_EQ(key(file, "FormatIn"), 3);
  if (!qz_test::have_fitsverify()) return;
  EXPECT_TRUE(qz_test::passes_fitsverify(file));
}

TEST(RadonFile, NamesLongerThanAnyFixedBuffer) {
  std::string dir = scratch("");
  for (int k = 0; k < 4; k++) {
    dir += std::string(80, 'd') + "/";
    mkdir(dir.c_str(), 0700);
  }
  const std::string name = dir + "long_radon_name";
  ASSERT_GT(name.size(), 300u);
  Radon r;
  r.alloc(4, 4, RADON_FINITE, 0, 0);
  Image rad(5, 4), back;
  rad(3) = 2.f;
  r.write(name.c_str(), rad);
  Radon fresh;
  fresh.read(name.c_str(), back);
  EXPECT_EQ(pixels(back), pixels(rad));
}

// A FITS file of nlr x ncr floats with the given integer keywords.
struct Header {
  int naxis = 2;
  long naxes[3] = {8, 16, 2};
  std::vector<std::pair<const char*, long>> keys = {{"Nl", 8},  {"Nc", 8},       {"Nlr", 16},
                                                    {"Ncr", 8}, {"Type_Tra", 2}, {"FormatIn", 3}};
  Header& set(const char* name, long value) {
    for (auto& k : keys)
      if (std::string(k.first) == name) k.second = value;
    return *this;
  }
  Header& drop(const char* name) {
    for (size_t i = 0; i < keys.size(); i++)
      if (std::string(keys[i].first) == name) keys.erase(keys.begin() + i);
    return *this;
  }
};

// A finite-transform header of an nl x nc image with the array it implies.
Header finite(long nl, long nc) {
  Header h;
  h.naxes[0] = nc;
  h.naxes[1] = nl + 1;
  return h.set("Type_Tra", 3).set("Nl", nl).set("Nc", nc).set("Nlr", nl + 1).set("Ncr", nc);
}

std::string write_header(const std::string& stem, const Header& h) {
  const std::string file = scratch(stem + ".rad");
  std::remove(file.c_str());
  fitsfile* f = nullptr;
  int status = 0;
  ffinit(&f, file.c_str(), &status);
  long naxes[3] = {h.naxes[0], h.naxes[1], h.naxes[2]};
  ffphpr(f, 1, -32, h.naxis, naxes, 0, 1, 0, &status);
  for (const auto& k : h.keys) ffpkyj(f, k.first, k.second, "", &status);
  long n = 1;
  for (int a = 0; a < h.naxis; a++) n *= naxes[a];
  std::vector<float> zeros(n, 0.f);
  ffppre(f, 1, 1, n, zeros.data(), &status);
  ffclos(f, &status);
  EXPECT_EQ(status, 0);
  return file;
}

TEST(RadonFileDeath, MalformedHeadersAreRefusedWithTheFileName) {
  struct Case {
    const char* stem;
    Header header;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"naxis3", [] { Header h; h.naxis = 3; return h; }(), "NAXIS = 3"},
      {"lines", Header().set("Nlr", 18), "Nlr x Ncr = 18 x 8 but the array is 16 x 8"},
      {"method", Header().set("Type_Tra", 9), "Type_Tra = 9"},
      {"negative", Header().set("Type_Tra", -1), "Type_Tra = -1"},
      {"format", Header().set("FormatIn", 42), "FormatIn = 42"},
      {"sizes", Header().set("Nl", 9), "Nl = 9, Nc = 8 do not fit"},
      {"spatial", Header().set("Type_Tra", 0).set("Nl", 100000).set("Nc", 100000), "Nl = 100000"},
      {"square", Header().set("Type_Tra", 4).set("Ncr", 16).set("Nlr", 16), "but the array is 16 x 8"},
      // Finite transforms of flat images: the inverse would run p + 1
      // projections of p = Nc samples over Nl + 1 lines.
      {"finite3x5", finite(3, 5), "Nl = 3, Nc = 5 do not fit a 4 x 5 Radon image of method 3"},
      {"finite1x2", finite(1, 2), "Nl = 1, Nc = 2 do not fit"},
      {"finite1x100", finite(1, 100), "Nl = 1, Nc = 100 do not fit"},
  };
  for (const Case& c : cases) {
    const std::string file = write_header(c.stem, c.header);
    Radon r;
    Image rad;
    EXPECT_EXIT_STATUS(r.read(file.c_str(), rad), 255,
                       std::string(c.message) + ".*" + c.stem + "\\.rad")
        << c.stem;
  }
}

TEST(RadonFileDeath, MissingKeywordIsNamedWithTheFile) {
  for (const char* key : {"Nl", "Nc", "Nlr", "Ncr", "Type_Tra", "FormatIn"}) {
    const std::string stem = std::string("no_") + key;
    const std::string file = write_header(stem, Header().drop(key));
    Radon r;
    Image rad;
    EXPECT_EXIT_STATUS(r.read(file.c_str(), rad), KEY_NO_EXIST,
                       qz_test::missing_key_message(key, stem + "\\.rad"))
        << key;
  }
}

TEST(RadonFileDeath, TruncatedFileIsRefusedBeforeItsDataIsClaimed) {
  // A header announcing 8000 x 4000 floats, followed by one block of data.
  using fits_test::card;
  std::string bytes = card("SIMPLE  =                    T") + card("BITPIX  =                  -32") +
                      card("NAXIS   =                    2") + card("NAXIS1  =                 4000") +
                      card("NAXIS2  =                 8000") + card("Nl      =                 4000") +
                      card("Nc      =                 4000") + card("Nlr     =                 8000") +
                      card("Ncr     =                 4000") + card("Type_Tra=                    2") +
                      card("FormatIn=                    3") + card("END");
  bytes.resize(2880, ' ');
  bytes.append(2880, '\0');
  const std::string file = scratch("short.rad");
  fits_test::write_bytes(file, bytes);
  Radon r;
  Image rad;
  EXPECT_EXIT_STATUS(r.read(file.c_str(), rad), 255, "shorter than its header announces.*short\\.rad");
}

TEST(RadonFileDeath, FailedWriteLeavesNoFile) {
  Radon r;
  r.alloc(128, 128, RADON_FFT, 0, 0);
  Image rad(256, 128);
  const std::string file = scratch("full.rad"), earlier = scratch("earlier.rad");
  fits_test::write_bytes(earlier, "earlier");
  // The file may not grow past 10000 bytes: the data write fails midway,
  // leaving no new file and the earlier one as it was.
  for (const std::string& name : {file, earlier})
    EXPECT_EXIT({
      image_test::limit_file_size(10000);
      r.write(name.c_str(), rad);
    }, [](int status) { return WIFEXITED(status) && WEXITSTATUS(status) != 0; }, "status = ");
  EXPECT_FALSE(file_exists(file));
  EXPECT_EQ(fits_test::read_bytes(earlier), "earlier");
  EXPECT_TRUE(fits_test::names_holding(fits_test::scratch_dir()).empty());
}

}  // namespace
