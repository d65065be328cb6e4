// World coordinates of the results, read back with CFITSIO: after the zoom
// (-I) a star keeps its place on the sky in every result, whichever way the
// input gives its coordinates (increments, CD matrix, PC matrix, rotation).
#include <fitsio.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "support/fitsverify.h"
#include "support/qz_mca_program.h"

namespace {

constexpr double Deg = 3.14159265358979323846 / 180.;
constexpr double Arcsec = 1. / 3600.;
const double Ra0 = 150.1234567891234, Dec0 = 2.2345678912345;  // CRVAL
const double StarRa = 150.1259, StarDec = 2.2314;               // the star, 9" E and 11" S of CRVAL

// Gnomonic (TAN) projection about (Ra0, Dec0): intermediate coordinates in
// degrees, x to the east.
void tan_project(double ra, double dec, double* x, double* y) {
  const double a = (ra - Ra0) * Deg, d = dec * Deg, d0 = Dec0 * Deg;
  const double den = std::sin(d) * std::sin(d0) + std::cos(d) * std::cos(d0) * std::cos(a);
  *x = std::cos(d) * std::sin(a) / den / Deg;
  *y = (std::sin(d) * std::cos(d0) - std::cos(d) * std::sin(d0) * std::cos(a)) / den / Deg;
}

// The real keywords of a file, read by CFITSIO.
std::map<std::string, double> real_keys(const std::string& file) {
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

// The linear part of the coordinates, as the standard reads it: the CD
// matrix when there is one, else CDELT times PC (or the rotation CROTA2).
void linear_map(std::map<std::string, double> k, double m[2][2]) {
  if (k.count("CD1_1") || k.count("CD1_2") || k.count("CD2_1") || k.count("CD2_2")) {
    m[0][0] = k["CD1_1"], m[0][1] = k["CD1_2"], m[1][0] = k["CD2_1"], m[1][1] = k["CD2_2"];
    return;
  }
  const double c1 = k["CDELT1"], c2 = k["CDELT2"];
  double pc[2][2] = {{1, 0}, {0, 1}};
  if (k.count("PC1_1") || k.count("PC1_2") || k.count("PC2_1") || k.count("PC2_2")) {
    pc[0][0] = k.count("PC1_1") ? k["PC1_1"] : 1., pc[0][1] = k["PC1_2"];
    pc[1][0] = k["PC2_1"], pc[1][1] = k.count("PC2_2") ? k["PC2_2"] : 1.;
  } else if (k.count("CROTA2")) {
    const double r = k["CROTA2"] * Deg;
    pc[0][0] = std::cos(r), pc[0][1] = -c2 / c1 * std::sin(r);
    pc[1][0] = c1 / c2 * std::sin(r), pc[1][1] = std::cos(r);
  }
  for (int i = 0; i < 2; i++)
    for (int j = 0; j < 2; j++) m[i][j] = (i == 0 ? c1 : c2) * pc[i][j];
}

// Intermediate coordinates of the 1-based pixel (p1, p2) by the file's cards.
void pixel_to_intermediate(const std::map<std::string, double>& keys, double p1, double p2, double* x,
                           double* y) {
  double m[2][2];
  linear_map(keys, m);
  const double d1 = p1 - keys.at("CRPIX1"), d2 = p2 - keys.at("CRPIX2");
  *x = m[0][0] * d1 + m[0][1] * d2;
  *y = m[1][0] * d1 + m[1][1] * d2;
}

// The light-weighted centre (1-based pixels) of the star within `radius`
// pixels of the brightest pixel, above the median of the image.
void centroid(const FitsImage& ima, double radius, double* p1, double* p2) {
  std::vector<float> sorted = ima.pixels;
  std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
  const double background = sorted[sorted.size() / 2];
  size_t top = 0;
  for (size_t k = 0; k < ima.pixels.size(); k++)
    if (ima.pixels[k] > ima.pixels[top]) top = k;
  const int ti = static_cast<int>(top / ima.nc), tj = static_cast<int>(top % ima.nc);
  double s = 0, s1 = 0, s2 = 0;
  for (int i = 0; i < ima.nl; i++)
    for (int j = 0; j < ima.nc; j++) {
      if (std::hypot(i - ti, j - tj) > radius) continue;
      const double v = ima.pixels[static_cast<size_t>(i) * ima.nc + j] - background;
      s += v, s1 += v * (j + 1), s2 += v * (i + 1);
    }
  *p1 = s1 / s;
  *p2 = s2 / s;
}

struct Wcs {
  const char* what;
  std::vector<std::pair<const char*, double>> keys;  // besides CTYPE and CRVAL
  bool cfitsio_reads_it;  // CFITSIO's own conversion knows no PC matrix
};

// 1" pixels, turned by 0, 30, 20 and 15 degrees.
const double C30 = std::cos(30 * Deg) * Arcsec, S30 = std::sin(30 * Deg) * Arcsec;
const Wcs Systems[] = {
    {"increments", {{"CRPIX1", 24.5}, {"CRPIX2", 23.25}, {"CDELT1", -Arcsec}, {"CDELT2", Arcsec}}, true},
    {"CD matrix",
     {{"CRPIX1", 22.0}, {"CRPIX2", 25.5}, {"CD1_1", -C30}, {"CD1_2", S30}, {"CD2_1", S30}, {"CD2_2", C30}},
     true},
    {"PC matrix",
     {{"CRPIX1", 24.0},
      {"CRPIX2", 24.0},
      {"CDELT1", -Arcsec},
      {"CDELT2", Arcsec},
      {"PC1_1", std::cos(20 * Deg)},
      {"PC1_2", -std::sin(20 * Deg)},
      {"PC2_1", std::sin(20 * Deg)},
      {"PC2_2", std::cos(20 * Deg)}},
     false},
    {"rotation", {{"CRPIX1", 26.0}, {"CRPIX2", 21.0}, {"CDELT1", -Arcsec}, {"CDELT2", Arcsec}, {"CROTA2", 15.0}},
     true},
};

// A 48 x 48 image at 1" a pixel: a background of 100, unit noise, and a
// Gaussian star of 1.5 pixels at (StarRa, StarDec) placed through the cards.
void write_star(const std::string& file, const Wcs& wcs) {
  std::map<std::string, double> keys(wcs.keys.begin(), wcs.keys.end());
  double x, y, m[2][2];
  tan_project(StarRa, StarDec, &x, &y);
  linear_map(keys, m);
  const double det = m[0][0] * m[1][1] - m[0][1] * m[1][0];
  const double p1 = keys["CRPIX1"] + (m[1][1] * x - m[0][1] * y) / det;
  const double p2 = keys["CRPIX2"] + (-m[1][0] * x + m[0][0] * y) / det;
  FitsImage ima(48, 48);
  std::mt19937 gen(5);
  std::normal_distribution<double> noise(0., 1.);
  for (int i = 0; i < 48; i++)
    for (int j = 0; j < 48; j++) {
      const double r2 = (j + 1 - p1) * (j + 1 - p1) + (i + 1 - p2) * (i + 1 - p2);
      ima.at(i, j) = static_cast<float>(100. + 1000. * std::exp(-r2 / (2 * 1.5 * 1.5)) + noise(gen));
    }
  fitsfile* f = nullptr;
  int status = 0;
  long axes[2] = {48, 48};
  fits_create_file(&f, ("!" + file).c_str(), &status);
  fits_create_img(f, FLOAT_IMG, 2, axes, &status);
  fits_update_key_str(f, "CTYPE1", "RA---TAN", "", &status);
  fits_update_key_str(f, "CTYPE2", "DEC--TAN", "", &status);
  fits_update_key_dbl(f, "CRVAL1", Ra0, -17, "", &status);
  fits_update_key_dbl(f, "CRVAL2", Dec0, -17, "", &status);
  for (const auto& [key, value] : wcs.keys) fits_update_key_dbl(f, key, value, -17, "", &status);
  fits_update_key_dbl(f, "DATAMIN", 82.9, -6, "", &status);
  fits_update_key_dbl(f, "DATAMAX", 1104.1, -6, "", &status);
  fits_write_img(f, TFLOAT, 1, ima.pixels.size(), ima.pixels.data(), &status);
  fits_close_file(f, &status);
  ASSERT_EQ(status, 0) << file;
}

// The sky position of a 1-based pixel by CFITSIO's own reading of the cards.
void cfitsio_world(const std::string& file, double p1, double p2, double* ra, double* dec) {
  fitsfile* f = nullptr;
  int status = 0;
  double xref, yref, xrefpix, yrefpix, xinc, yinc, rot;
  char type[FLEN_VALUE];
  fits_open_file(&f, file.c_str(), READONLY, &status);
  fits_read_img_coord(f, &xref, &yref, &xrefpix, &yrefpix, &xinc, &yinc, &rot, type, &status);
  fits_pix_to_world(p1, p2, xref, yref, xrefpix, yrefpix, xinc, yinc, rot, type, ra, dec, &status);
  int close_status = 0;
  fits_close_file(f, &close_status);
  ASSERT_EQ(status, 0) << file;
}

class QzMcaCoordinates : public QzMcaProgram {};

}  // namespace

// The zoom makes each input pixel a block of 4 x 4 whose mean is that pixel:
// the coordinates must follow, or the star lands two minutes of arc away.
TEST_F(QzMcaCoordinates, AZoomedStarKeepsItsPlaceOnTheSkyInEveryResult) {
  const std::string results[] = {"out.fits", "out_atrou.fits", "out_cur.fits", "out_resi.fits"};
  for (const Wcs& wcs : Systems) {
    write_star(path("star.fits"), wcs);
    ASSERT_EQ(run("-I -i 20 -g 1 star.fits out.fits"), 0) << wcs.what << output_;
    const std::map<std::string, double> in_keys = real_keys(path("star.fits"));
    double in1, in2, in_x, in_y, want_x, want_y;
    centroid(read_fits(path("star.fits")), 5., &in1, &in2);
    pixel_to_intermediate(in_keys, in1, in2, &in_x, &in_y);
    tan_project(StarRa, StarDec, &want_x, &want_y);
    // The star is where the cards put it in the input (noise aside).
    ASSERT_LT(std::hypot(in_x - want_x, in_y - want_y), 0.02 * Arcsec) << wcs.what;
    for (const std::string& name : results) {
      const std::map<std::string, double> keys = real_keys(path(name));
      EXPECT_EQ(keys.at("NAXIS1"), 192) << wcs.what << " " << name;
      EXPECT_EQ(keys.at("NAXIS2"), 192) << wcs.what << " " << name;
      EXPECT_EQ(keys.count("DATAMIN") + keys.count("DATAMAX"), 0u) << wcs.what << " " << name;
      // Exact values, not ten digits (2.3e-8 degrees off), as CFITSIO reads them.
      for (const char* same : {"CRVAL1", "CRVAL2", "CROTA2", "PC1_2"})
        if (in_keys.count(same)) {
          EXPECT_EQ(keys.at(same), in_keys.at(same)) << wcs.what << " " << same;
        }
      for (const char* axis : {"1", "2"}) {
        EXPECT_EQ(keys.at(std::string("CRPIX") + axis), 4 * in_keys.at(std::string("CRPIX") + axis) - 1.5);
        if (in_keys.count(std::string("CDELT") + axis)) {
          EXPECT_EQ(keys.at(std::string("CDELT") + axis), in_keys.at(std::string("CDELT") + axis) / 4);
        }
      }
      if (qz_test::have_fitsverify()) {
        EXPECT_TRUE(qz_test::passes_fitsverify(path(name))) << name;
      }
      if (name == "out_resi.fits" || name == "out_cur.fits") continue;  // no star in them
      double p1, p2, x, y;
      centroid(result(name), 20., &p1, &p2);
      pixel_to_intermediate(keys, p1, p2, &x, &y);
      // A twentieth of an input pixel; im_zoom's sample grid (4 p - 3)
      // would be off by three eighths.
      EXPECT_LT(std::hypot(x - in_x, y - in_y), 0.05 * Arcsec)
          << wcs.what << " " << name << ": " << (x - in_x) / Arcsec << "\" " << (y - in_y) / Arcsec << "\"";
      if (wcs.cfitsio_reads_it) {
        double in_ra, in_dec, ra, dec;
        cfitsio_world(path("star.fits"), in1, in2, &in_ra, &in_dec);
        cfitsio_world(path(name), p1, p2, &ra, &dec);
        EXPECT_LT(std::hypot((ra - in_ra) * std::cos(Dec0 * Deg), dec - in_dec), 0.05 * Arcsec)
            << wcs.what << " " << name;
      }
    }
  }
}
