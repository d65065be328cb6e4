// FITS arrays, blocks and coordinates through CFITSIO. CFITSIO itself writes
// the reference files and reads back ours; the sexagesimal examples are
// worked by hand.
#include "io/fits_glue.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "image_test_tools.h"
#include "support/death.h"
#include "support/fitsverify.h"

using fits_test::read_bytes;
using fits_test::read_reference;
using fits_test::scratch;
using fits_test::write_reference;

TEST(FitsArrays, OneDimensionalFloatArrayLayout) {
  to_array<float, true> signal(100);
  for (int k = 0; k < 100; k++) signal(k) = 0.5f * k - 7.f;
  std::string name = scratch("signal");
  fits_write_fltarr(name.c_str(), signal);
  std::string bytes = read_bytes(name + ".fits");
  ASSERT_EQ(bytes.size(), 2u * 2880);
  std::string cards;
  for (const std::string& c : fits_test::header_cards(bytes)) cards += c.substr(0, 30) + "|";
  for (const char* text : {"NAXIS   =                    1|", "NAXIS1  =                  100|",
                           "BITPIX  =                  -32|"})
    EXPECT_NE(cards.find(text), std::string::npos) << text;
  EXPECT_EQ(cards.find("NAXIS2"), std::string::npos);
  EXPECT_EQ(bytes.substr(2880 + 400), std::string(2480, '\0'));
  fits_test::Reference ref = read_reference(name + ".fits");
  ASSERT_EQ(ref.values.size(), 100u);
  to_array<float, true> back;
  fitsstruct header;
  fits_read_fltarr(name.c_str(), back, &header);
  EXPECT_EQ(back.naxis(), 1);
  EXPECT_EQ(header.naxis, 1);
  for (int k = 0; k < 100; k++) {
    EXPECT_EQ(ref.values[k], signal(k));
    EXPECT_EQ(back(k), signal(k));
  }
}

TEST(FitsArrays, CubesOfEveryTypeRoundTrip) {
  to_array<float, true> cube(4, 3, 2);
  to_array<double, true> dcube(4, 3, 2);
  to_array<int, true> icube(4, 3, 2);
  for (int k = 0; k < 24; k++) {
    cube(k) = 1.25f * k;
    dcube(k) = 1e-12 * k + 1.0 / 3.0;
    icube(k) = 1000 * k - 7;
  }
  std::string fname = scratch("cube_f.fits"), dname = scratch("cube_d.fits"), iname = scratch("cube_i.fits");
  fits_write_fltarr(fname.c_str(), cube);
  fits_write_dblarr(dname.c_str(), dcube);
  fits_write_intarr(iname.c_str(), icube);
  fits_test::Reference dref = read_reference(dname);
  EXPECT_EQ(dref.bitpix, -64);
  EXPECT_EQ(dref.naxes, (std::vector<long>{4, 3, 2}));
  EXPECT_EQ(read_reference(iname).bitpix, -32);
  to_array<float, true> f;
  to_array<double, true> d;
  to_array<int, true> i;
  fits_read_fltarr(fname.c_str(), f);
  fits_read_dblarr(dname.c_str(), d);
  fits_read_intarr(iname.c_str(), i);
  ASSERT_EQ(f.nz() + d.nz() + i.nz(), 6);
  for (int k = 0; k < 24; k++) {
    EXPECT_EQ(f(k), cube(k));
    EXPECT_EQ(d(k), dcube(k));
    EXPECT_EQ(dref.values[k], dcube(k));
    EXPECT_EQ(i(k), icube(k));
  }
}

TEST(FitsArrays, ExtensionImagesAndRoundingToInt) {
  // An empty primary array followed by a 3 x 4 image extension.
  std::string name = scratch("extension.fits");
  std::remove(name.c_str());
  fitsfile* f = nullptr;
  int status = 0;
  ffinit(&f, name.c_str(), &status);
  ffcrim(f, FLOAT_IMG, 0, nullptr, &status);
  long axes[2] = {3, 4};
  ffcrim(f, FLOAT_IMG, 2, axes, &status);
  std::vector<float> values = {2.5f, -2.5f, 0.49f, -0.5f, 1.5f, 3e9f, -3e9f, 9.f, 10.f, 11.f, 12.f, 13.f};
  ffppr(f, TFLOAT, 1, 12, values.data(), &status);
  ffclos(f, &status);
  ASSERT_EQ(status, 0);
  to_array<float, true> image;
  fitsstruct header;
  fits_read_fltarr(name.c_str(), image, &header);
  ASSERT_EQ(image.nx() * 10 + image.ny(), 34);
  for (int k = 0; k < 12; k++) EXPECT_EQ(image(k), values[k]);
  // The extension's header, written back, makes a valid primary header.
  const std::string copy = scratch("extension_copy.fits");
  fits_write_fltarr(copy.c_str(), image, &header);
  EXPECT_EQ(read_bytes(copy).compare(0, 30, "SIMPLE  =                    T"), 0);
  if (qz_test::have_fitsverify()) {
    EXPECT_TRUE(qz_test::passes_fitsverify(copy));
  }
  to_array<int, true> ints;
  fits_read_intarr(name.c_str(), ints);
  // Halves away from zero; beyond int's range the value saturates.
  const int rounded[7] = {3, -3, 0, -1, 2, 2147483647, -2147483647 - 1};
  for (int k = 0; k < 7; k++) EXPECT_EQ(ints(k), rounded[k]);
}

TEST(FitsBlocks, RectanglesOfAnImageRawOrScaled) {
  std::string name = scratch("blocks.fits");
  std::vector<double> stored(6 * 5);
  for (int k = 0; k < 30; k++) stored[k] = k;
  write_reference(name, -32, {6, 5}, stored);  // 5 lines of 6 columns
  to_array<float, false> block(2, 3);
  fits_read_block(name.c_str(), block, 1, 2);
  for (int i = 0; i < 2; i++)
    for (int j = 0; j < 3; j++) EXPECT_EQ(block(i, j), static_cast<float>((1 + i) * 6 + 2 + j));
  to_array<int, true> xy(2, 3);  // 2 columns, 3 lines
  fits_read_block(name.c_str(), xy, 2, 4);
  EXPECT_EQ(xy(1, 2), 4 * 6 + 5);
  for (int k = 0; k < 6; k++) block(k) = -1.f - k;
  fits_write_block(name.c_str(), block, 3, 0);
  fits_test::Reference ref = read_reference(name);
  for (int i = 0; i < 5; i++)
    for (int j = 0; j < 6; j++) {
      double expected = (i == 3 || i == 4) && j < 3 ? -1.0 - ((i - 3) * 3 + j) : i * 6 + j;
      EXPECT_EQ(ref.values[i * 6 + j], expected) << i << "," << j;
    }
  // A block write that fails says why (the library's report follows).
  EXPECT_EXIT({ QZ_STDOUT_TO_STDERR(); image_test::limit_file_size(2900); fits_write_block(name.c_str(), block, 3, 0); },
              [](int status) { return WIFEXITED(status) && WEXITSTATUS(status) != 0; },
              "cannot write in file \\(.*blocks.fits: File too large\\)");
  EXPECT_EXIT_STATUS(fits_read_block(name.c_str(), block, 4, 0), 255, "lies outside");
  EXPECT_EXIT_STATUS(fits_read_block(name.c_str(), block, 0, 4), 255, "lies outside");

  std::string scaled = scratch("scaled.fits");
  write_reference(scaled, 16, {4, 2}, {0, 1, 2, 3, 4, 5, 6, 7}, 2.0, 100.0);
  to_array<float, false> physical(2, 4), raw(2, 4);
  fits_read_block(scaled.c_str(), physical, 0, 0);
  fits_read_block(scaled.c_str(), raw, 0, 0, True);
  for (int k = 0; k < 8; k++) {
    EXPECT_EQ(raw(k), static_cast<float>(k));
    EXPECT_EQ(physical(k), 100.f + 2.f * k);
  }
}

TEST(FitsCoordinates, SexagesimalPositions) {
  struct Case {
    double ra, dec;
    int h, m;
    double s;
    int d, dm;
    double ds;
  };
  const Case cases[] = {{370.0, 0.5, 0, 40, 0.0, 0, 30, 0.0},
                        {0.0, -0.25, 0, 0, 0.0, 0, -15, 0.0},
                        {-15.0, -0.001, 23, 0, 0.0, 0, 0, -3.6},  // 345 degrees; -3.6 arcseconds
                        {202.47, 47.195, 13, 29, 52.8, 47, 11, 42.0}};
  for (const Case& c : cases) {
    int h, m, d, dm;
    double s, ds;
    radec(c.ra, c.dec, h, m, s, d, dm, ds);
    EXPECT_EQ(h * 100 + m, c.h * 100 + c.m) << c.ra;
    EXPECT_NEAR(s, c.s, 1e-6) << c.ra;
    EXPECT_EQ(d * 100 + dm, c.d * 100 + c.dm) << c.dec;
    EXPECT_NEAR(ds, c.ds, 1e-6) << c.dec;
  }
}

TEST(FitsCoordinates, PixelToWorldAndBack) {
  std::string name = scratch("wcs.fits");
  write_reference(name, -32, {20, 20}, std::vector<double>(400, 0.0));
  fitsfile* f = nullptr;
  int status = 0;
  ffopen(&f, name.c_str(), READWRITE, &status);
  const double crval1 = 202.47, crval2 = 47.195, crpix = 10.5;
  const std::pair<const char*, double> keys[] = {{"CRVAL1", crval1}, {"CRVAL2", crval2}, {"CRPIX1", crpix},
                                                 {"CRPIX2", crpix},  {"CDELT1", -0.001}, {"CDELT2", 0.001}};
  ffpky(f, TSTRING, "CTYPE1", const_cast<char*>("RA---TAN"), nullptr, &status);
  ffpky(f, TSTRING, "CTYPE2", const_cast<char*>("DEC--TAN"), nullptr, &status);
  for (auto key : keys) ffpky(f, TDOUBLE, key.first, &key.second, nullptr, &status);
  ffclos(f, &status);
  ASSERT_EQ(status, 0);
  fitsstruct header;
  ASSERT_EQ(cfitstio_read_celestial_coord(name.c_str(), &header), 0);
  EXPECT_EQ(header.crvalx, crval1);
  EXPECT_EQ(header.crpixy, crpix);
  EXPECT_EQ(std::string(header.coordtype), "-TAN");
  double ra = 0, dec = 0, x = 0, y = 0;
  // The reference pixel (1-based 10.5) is 0-based 9.5.
  EXPECT_EQ(xyad(&header, 9.5, 9.5, &ra, &dec), 0);
  EXPECT_NEAR(ra, crval1, 1e-9);
  EXPECT_NEAR(dec, crval2, 1e-9);
  EXPECT_EQ(xyad(&header, 3.0, 15.0, &ra, &dec), 0);
  EXPECT_EQ(adxy(&header, ra, dec, &x, &y), 0);
  EXPECT_NEAR(x, 3.0, 1e-6);
  EXPECT_NEAR(y, 15.0, 1e-6);
}

TEST(FitsArrays, FailuresStopNamingTheFileOrWithTheLibraryReport) {
  to_array<float, true> dat;
  to_array<double, true> ddat;
  EXPECT_EXIT_STATUS(fits_read_fltarr(scratch("absent").c_str(), dat), 104, "cannot open file");
  std::string empty = scratch("empty.fits");
  write_reference(empty, -32, {}, {});
  EXPECT_EXIT_STATUS(fits_read_dblarr(empty.c_str(), ddat), 255, "erreur nfound 0");
  std::string cut = scratch("cut.fits");
  write_reference(cut, -32, {50, 50}, std::vector<double>(2500, 1.0));
  image_test::write_bytes(cut, read_bytes(cut).substr(0, 2880 + 4000));
  EXPECT_EXIT_STATUS(fits_read_dblarr(cut.c_str(), ddat), 255, "truncated.*cut.fits");
  to_array<float, false> block(2, 2);
  EXPECT_EXIT_STATUS(fits_read_block(cut.c_str(), block, 40, 0), 255, "truncated.*cut.fits");
  EXPECT_EXIT_STATUS(FitsPrintError(104), 104, "\\*\\*\\* Error occurred during program execution \\*\\*\\*");
  fitsstruct header;
  EXPECT_EXIT_STATUS(cfitstio_read_celestial_coord("x.gif", &header), 255, "not a fits format file");
  // A write that fails says why, leaves no new file and keeps the earlier one.
  const std::string big = scratch("big.fits"), fresh = scratch("fresh.fits");
  image_test::write_bytes(big, "earlier");
  to_array<double, true> values(100, 100);
  for (const std::string& file : {big, fresh})
    EXPECT_EXIT_STATUS({ image_test::limit_file_size(20000); fits_write_dblarr(file.c_str(), values); }, 255,
                       "cannot (write|close) \\(.*" + file + ": File too large\\)");
  EXPECT_EQ(read_bytes(big), "earlier");
  EXPECT_FALSE(fits_test::file_exists(fresh));
  EXPECT_TRUE(fits_test::names_holding(fits_test::scratch_dir()).empty());
}
