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
  std::vector<std::string> cards = fits_test::header_cards(bytes);
  auto has = [&](const std::string& text) {
    for (const std::string& c : cards)
      if (c.compare(0, text.size(), text) == 0) return true;
    return false;
  };
  EXPECT_TRUE(has("NAXIS   =                    1"));
  EXPECT_TRUE(has("NAXIS1  =                  100"));
  EXPECT_TRUE(has("BITPIX  =                  -32"));
  EXPECT_FALSE(has("NAXIS2"));
  EXPECT_EQ(bytes.substr(2880 + 400), std::string(2480, '\0'));
  fits_test::Reference ref = read_reference(name + ".fits");
  ASSERT_EQ(ref.values.size(), 100u);
  for (int k = 0; k < 100; k++) EXPECT_EQ(ref.values[k], signal(k));

  to_array<float, true> back;
  fitsstruct header;
  fits_read_fltarr(name.c_str(), back, &header);
  EXPECT_EQ(back.naxis(), 1);
  EXPECT_EQ(header.naxis, 1);
  for (int k = 0; k < 100; k++) EXPECT_EQ(back(k), signal(k));
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
  ASSERT_EQ(f.nz(), 2);
  ASSERT_EQ(d.nz(), 2);
  ASSERT_EQ(i.nz(), 2);
  for (int k = 0; k < 24; k++) {
    EXPECT_EQ(f(k), cube(k));
    EXPECT_EQ(d(k), dcube(k));
    EXPECT_EQ(i(k), icube(k));
  }
  EXPECT_EQ(d(4 + 3 * 4), dref.values[16]);
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
  std::vector<float> values = {2.5f, -2.5f, 0.49f, -0.5f, 1.5f, 7.f, 8.f, 9.f, 10.f, 11.f, 12.f, 13.f};
  ffppr(f, TFLOAT, 1, 12, values.data(), &status);
  ffclos(f, &status);
  ASSERT_EQ(status, 0);
  to_array<float, true> image;
  fits_read_fltarr(name.c_str(), image);
  ASSERT_EQ(image.nx(), 3);
  ASSERT_EQ(image.ny(), 4);
  for (int k = 0; k < 12; k++) EXPECT_EQ(image(k), values[k]);
  to_array<int, true> ints;
  fits_read_intarr(name.c_str(), ints);
  const int rounded[5] = {3, -3, 0, -1, 2};  // halves away from zero
  for (int k = 0; k < 5; k++) EXPECT_EQ(ints(k), rounded[k]);
}

TEST(FitsBlocks, ReadAndWriteRectanglesOfAnImage) {
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
  EXPECT_EXIT_STATUS(fits_read_block(name.c_str(), block, 4, 0), 255, "lies outside");
  EXPECT_EXIT_STATUS(fits_read_block(name.c_str(), block, 0, 4), 255, "lies outside");
}

TEST(FitsBlocks, RawValuesWithoutScaling) {
  std::string name = scratch("scaled.fits");
  write_reference(name, 16, {4, 2}, {0, 1, 2, 3, 4, 5, 6, 7}, 2.0, 100.0);
  to_array<float, false> physical(2, 4), raw(2, 4);
  fits_read_block(name.c_str(), physical, 0, 0);
  fits_read_block(name.c_str(), raw, 0, 0, True);
  for (int k = 0; k < 8; k++) {
    EXPECT_EQ(raw(k), static_cast<float>(k));
    EXPECT_EQ(physical(k), 100.f + 2.f * k);
  }
}

TEST(FitsCoordinates, SexagesimalPositions) {
  int h, m, d, dm;
  double s, ds;
  radec(370.0, 0.5, h, m, s, d, dm, ds);
  EXPECT_EQ(h, 0);
  EXPECT_EQ(m, 40);
  EXPECT_NEAR(s, 0.0, 1e-9);
  EXPECT_EQ(d, 0);
  EXPECT_EQ(dm, 30);
  EXPECT_NEAR(ds, 0.0, 1e-9);
  radec(0.0, -0.25, h, m, s, d, dm, ds);
  EXPECT_EQ(d, 0);
  EXPECT_EQ(dm, -15);
  radec(-15.0, -0.001, h, m, s, d, dm, ds);  // 345 degrees: 23 h; -3.6 arcseconds
  EXPECT_EQ(h, 23);
  EXPECT_EQ(m, 0);
  EXPECT_EQ(dm, 0);
  EXPECT_NEAR(ds, -3.6, 1e-9);
  radec(202.47, 47.195, h, m, s, d, dm, ds);
  EXPECT_EQ(h, 13);
  EXPECT_EQ(m, 29);
  EXPECT_NEAR(s, 52.8, 1e-6);
  EXPECT_EQ(d, 47);
  EXPECT_EQ(dm, 11);
  EXPECT_NEAR(ds, 42.0, 1e-6);
}

TEST(FitsCoordinates, PixelToWorldAndBack) {
  std::string name = scratch("wcs.fits");
  write_reference(name, -32, {20, 20}, std::vector<double>(400, 0.0));
  fitsfile* f = nullptr;
  int status = 0;
  ffopen(&f, name.c_str(), READWRITE, &status);
  double crval1 = 202.47, crval2 = 47.195, crpix = 10.5, cdelt1 = -0.001, cdelt2 = 0.001;
  ffpky(f, TSTRING, "CTYPE1", const_cast<char*>("RA---TAN"), nullptr, &status);
  ffpky(f, TSTRING, "CTYPE2", const_cast<char*>("DEC--TAN"), nullptr, &status);
  ffpky(f, TDOUBLE, "CRVAL1", &crval1, nullptr, &status);
  ffpky(f, TDOUBLE, "CRVAL2", &crval2, nullptr, &status);
  ffpky(f, TDOUBLE, "CRPIX1", &crpix, nullptr, &status);
  ffpky(f, TDOUBLE, "CRPIX2", &crpix, nullptr, &status);
  ffpky(f, TDOUBLE, "CDELT1", &cdelt1, nullptr, &status);
  ffpky(f, TDOUBLE, "CDELT2", &cdelt2, nullptr, &status);
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

TEST(FitsArrays, FailuresStopWithTheLibraryReport) {
  to_array<float, true> dat;
  to_array<double, true> ddat;
  EXPECT_EXIT_STATUS(fits_read_fltarr(scratch("absent").c_str(), dat), 104, "cannot open file");
  std::string empty = scratch("empty.fits");
  write_reference(empty, -32, {}, {});
  EXPECT_EXIT_STATUS(fits_read_dblarr(empty.c_str(), ddat), 255, "erreur nfound 0");
  std::string cut = scratch("cut.fits");
  write_reference(cut, -32, {50, 50}, std::vector<double>(2500, 1.0));
  std::string bytes = read_bytes(cut);
  image_test::write_bytes(cut, bytes.substr(0, 2880 + 4000));
  EXPECT_EXIT_STATUS(fits_read_fltarr(cut.c_str(), dat), 255, "shorter than its header");
  EXPECT_EXIT_STATUS(FitsPrintError(104), 104, "\\*\\*\\* Error occurred during program execution \\*\\*\\*");
  fitsstruct header;
  EXPECT_EXIT_STATUS(cfitstio_read_celestial_coord("x.gif", &header), 255, "not a fits format file");
}
