// World coordinates of the results, read back with CFITSIO: after the zoom
// (-I, and -I -H whose results follow the zoomed samples) a star keeps its
// place on the sky in every result, whichever way the input gives its
// coordinates (increments, CD matrix, PC matrix, rotation, cards left to
// their defaults, IRAF's physical pixels).
#include <fitsio.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "support/fits_real_keys.h"
#include "support/fitsverify.h"
#include "support/qz_mca_program.h"

using qz_test::key_or;
using qz_test::real_keys;

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

// The linear part of the coordinates, as the standard reads it: the CD
// matrix when there is one, else CDELT (1 when left out) times PC (or the
// rotation CROTA2).
void linear_map(const std::map<std::string, double>& k, double m[2][2]) {
  if (k.count("CD1_1") || k.count("CD1_2") || k.count("CD2_1") || k.count("CD2_2")) {
    m[0][0] = key_or(k, "CD1_1", 0), m[0][1] = key_or(k, "CD1_2", 0);
    m[1][0] = key_or(k, "CD2_1", 0), m[1][1] = key_or(k, "CD2_2", 0);
    return;
  }
  const double c1 = key_or(k, "CDELT1", 1), c2 = key_or(k, "CDELT2", 1);
  double pc[2][2] = {{key_or(k, "PC1_1", 1), key_or(k, "PC1_2", 0)}, {key_or(k, "PC2_1", 0), key_or(k, "PC2_2", 1)}};
  if (!k.count("PC1_1") && !k.count("PC1_2") && !k.count("PC2_1") && !k.count("PC2_2") && k.count("CROTA2")) {
    const double r = k.at("CROTA2") * Deg;
    pc[0][0] = std::cos(r), pc[0][1] = -c2 / c1 * std::sin(r);
    pc[1][0] = c1 / c2 * std::sin(r), pc[1][1] = std::cos(r);
  }
  for (int i = 0; i < 2; i++)
    for (int j = 0; j < 2; j++) m[i][j] = (i == 0 ? c1 : c2) * pc[i][j];
}

// The coordinates the file's cards give the 1-based pixel (p1, p2): the
// intermediate world coordinates (degrees) when there are world coordinate
// cards, else IRAF's physical pixels, pixel = LTM physical + LTV.
void frame_of(const std::map<std::string, double>& keys, double p1, double p2, double* x, double* y) {
  bool world = false;
  for (const auto& [key, value] : keys)
    for (const char* prefix : {"CRPIX", "CDELT", "CD1_", "CD2_", "PC1_", "PC2_"})
      world |= key.compare(0, std::strlen(prefix), prefix) == 0;
  if (!world) {
    const double m11 = key_or(keys, "LTM1_1", 1), m12 = key_or(keys, "LTM1_2", 0),
                 m21 = key_or(keys, "LTM2_1", 0), m22 = key_or(keys, "LTM2_2", 1);
    const double d1 = p1 - key_or(keys, "LTV1", 0), d2 = p2 - key_or(keys, "LTV2", 0);
    const double det = m11 * m22 - m12 * m21;
    *x = (m22 * d1 - m12 * d2) / det;
    *y = (-m21 * d1 + m11 * d2) / det;
    return;
  }
  double m[2][2];
  linear_map(keys, m);
  const double d1 = p1 - key_or(keys, "CRPIX1", 0), d2 = p2 - key_or(keys, "CRPIX2", 0);
  *x = m[0][0] * d1 + m[0][1] * d2;
  *y = m[1][0] * d1 + m[1][1] * d2;
}

// The size of a pixel of the frame: the square root of the area the
// frame gives it.
double pixel_size(const std::map<std::string, double>& keys) {
  double x0, y0, x1, y1, x2, y2;
  frame_of(keys, 0, 0, &x0, &y0);
  frame_of(keys, 1, 0, &x1, &y1);
  frame_of(keys, 0, 1, &x2, &y2);
  return std::sqrt(std::fabs((x1 - x0) * (y2 - y0) - (x2 - x0) * (y1 - y0)));
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
  bool celestial;         // CTYPE and CRVAL are written, the star placed on the sky
  bool cfitsio_reads_it;  // CFITSIO's own conversion knows no PC matrix
};

// 1" pixels, turned by 0, 30, 20 and 15 degrees.
const double C30 = std::cos(30 * Deg) * Arcsec, S30 = std::sin(30 * Deg) * Arcsec;
const double C20 = std::cos(20 * Deg), S20 = std::sin(20 * Deg);
const Wcs Systems[] = {
    {"increments", {{"CRPIX1", 24.5}, {"CRPIX2", 23.25}, {"CDELT1", -Arcsec}, {"CDELT2", Arcsec}}, true, true},
    {"CD matrix",
     {{"CRPIX1", 22.0}, {"CRPIX2", 25.5}, {"CD1_1", -C30}, {"CD1_2", S30}, {"CD2_1", S30}, {"CD2_2", C30}},
     true,
     true},
    {"PC matrix",
     {{"CRPIX1", 24.0},
      {"CRPIX2", 24.0},
      {"CDELT1", -Arcsec},
      {"CDELT2", Arcsec},
      {"PC1_1", C20},
      {"PC1_2", -S20},
      {"PC2_1", S20},
      {"PC2_2", C20}},
     true,
     false},
    // CDELT left out is 1: the PC matrix carries the scale.
    {"PC matrix without increments",
     {{"CRPIX1", 24.0},
      {"CRPIX2", 24.0},
      {"PC1_1", -C20 * Arcsec},
      {"PC1_2", S20 * Arcsec},
      {"PC2_1", S20 * Arcsec},
      {"PC2_2", C20 * Arcsec}},
     true,
     false},
    {"rotation",
     {{"CRPIX1", 26.0}, {"CRPIX2", 21.0}, {"CDELT1", -Arcsec}, {"CDELT2", Arcsec}, {"CROTA2", 15.0}},
     true,
     true},
    // Reference pixel 0, reference value 0: a linear frame.
    {"CD matrix alone", {{"CD1_1", -C30}, {"CD1_2", S30}, {"CD2_1", S30}, {"CD2_2", C30}}, false, false},
    // A section of a 2 x 2 binned frame: pixel 1 is physical pixel 201.
    {"IRAF physical pixels", {{"LTV1", -100.0}, {"LTV2", -37.5}, {"LTM1_1", 0.5}, {"LTM2_2", 0.5}}, false, false},
};

// A 48 x 48 image: a background of 100, unit noise, and a Gaussian star of
// 1.5 pixels at (StarRa, StarDec) placed through the cards, or at the pixel
// (24.37, 23.61) when the cards describe no sky.
void write_star(const std::string& file, const Wcs& wcs) {
  const std::map<std::string, double> keys(wcs.keys.begin(), wcs.keys.end());
  double p1 = 24.37, p2 = 23.61;
  if (wcs.celestial) {
    double x, y, x0, y0, x1, y1, x2, y2;
    tan_project(StarRa, StarDec, &x, &y);
    frame_of(keys, 0, 0, &x0, &y0);
    frame_of(keys, 1, 0, &x1, &y1);
    frame_of(keys, 0, 1, &x2, &y2);
    const double a = x1 - x0, b = x2 - x0, c = y1 - y0, d = y2 - y0, det = a * d - b * c;
    p1 = (d * (x - x0) - b * (y - y0)) / det;
    p2 = (-c * (x - x0) + a * (y - y0)) / det;
  }
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
  if (wcs.celestial) {
    fits_update_key_str(f, "CTYPE1", "RA---TAN", "", &status);
    fits_update_key_str(f, "CTYPE2", "DEC--TAN", "", &status);
    fits_update_key_dbl(f, "CRVAL1", Ra0, -17, "", &status);
    fits_update_key_dbl(f, "CRVAL2", Dec0, -17, "", &status);
  }
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
// With -H the results follow the zoomed samples instead, input pixel p on
// pixel 4 p - 3: the coordinates must say so, or the star is off by three
// eighths of an input pixel. Cards left out stand for defaults that no longer
// hold after the zoom: an increment of 1, a reference pixel of 0, IRAF's
// unit LTM.
TEST_F(QzMcaCoordinates, AZoomedStarKeepsItsPlaceOnTheSkyInEveryResult) {
  const std::string results[] = {"out.fits", "out_atrou.fits", "out_cur.fits", "out_resi.fits"};
  const struct {
    const char* options;
    double shift;  // input pixel p is result pixel 4 p + shift
  } grids[] = {{"-I", -1.5}, {"-I -H", -3.0}};
  for (const auto& grid : grids)
    for (const Wcs& wcs : Systems) {
      const std::string what = std::string(grid.options) + " " + wcs.what;
      write_star(path("star.fits"), wcs);
      ASSERT_EQ(run(std::string(grid.options) + " -i 20 -g 1 star.fits out.fits"), 0) << what << output_;
      const std::map<std::string, double> in_keys = real_keys(path("star.fits"));
      const double pixel = pixel_size(in_keys);
      double in1, in2, in_x, in_y;
      centroid(read_fits(path("star.fits")), 5., &in1, &in2);
      frame_of(in_keys, in1, in2, &in_x, &in_y);
      if (wcs.celestial) {
        double want_x, want_y;
        tan_project(StarRa, StarDec, &want_x, &want_y);
        // The star is where the cards put it in the input (noise aside).
        ASSERT_LT(std::hypot(in_x - want_x, in_y - want_y), 0.02 * pixel) << what;
      } else {
        ASSERT_LT(std::hypot(in1 - 24.37, in2 - 23.61), 0.02) << what;
      }
      for (const std::string& name : results) {
        const std::string where = what + " " + name;
        const std::map<std::string, double> keys = real_keys(path(name));
        EXPECT_EQ(keys.at("NAXIS1"), 192) << where;
        EXPECT_EQ(keys.at("NAXIS2"), 192) << where;
        EXPECT_EQ(keys.count("DATAMIN") + keys.count("DATAMAX"), 0u) << where;
        // Exact values, not ten digits (2.3e-8 degrees off), as CFITSIO reads them.
        for (const char* same : {"CRVAL1", "CRVAL2", "CROTA2", "PC1_2"})
          if (in_keys.count(same)) {
            EXPECT_EQ(keys.at(same), in_keys.at(same)) << where << " " << same;
          }
        const bool cd = in_keys.count("CD1_1") > 0, world = in_keys.count("LTV1") == 0;
        for (const char* axis : {"1", "2"}) {
          const std::string crpix = std::string("CRPIX") + axis, cdelt = std::string("CDELT") + axis,
                            ltv = std::string("LTV") + axis, ltm = std::string("LTM") + axis + "_" + axis;
          if (world) {
            EXPECT_EQ(keys.at(crpix), 4 * key_or(in_keys, crpix.c_str(), 0) + grid.shift) << where;
            if (!cd) {
              EXPECT_EQ(keys.at(cdelt), key_or(in_keys, cdelt.c_str(), 1) / 4) << where;
            }
          } else {
            EXPECT_EQ(keys.at(ltv), 4 * in_keys.at(ltv) + grid.shift) << where;
            EXPECT_EQ(keys.at(ltm), 4 * in_keys.at(ltm)) << where;
            EXPECT_EQ(keys.count(crpix) + keys.count(cdelt), 0u) << where;
          }
        }
        if (qz_test::have_fitsverify()) {
          EXPECT_TRUE(qz_test::passes_fitsverify(path(name))) << where;
        }
        if (name == "out_resi.fits" || name == "out_cur.fits") continue;  // no star in them
        double p1, p2, x, y;
        centroid(result(name), 20., &p1, &p2);
        frame_of(keys, p1, p2, &x, &y);
        // A twentieth of an input pixel; the other grid would be off by
        // three eighths.
        EXPECT_LT(std::hypot(x - in_x, y - in_y), 0.05 * pixel)
            << where << ": " << (x - in_x) / pixel << " " << (y - in_y) / pixel << " pixel";
        if (wcs.cfitsio_reads_it) {
          double in_ra, in_dec, ra, dec;
          cfitsio_world(path("star.fits"), in1, in2, &in_ra, &in_dec);
          cfitsio_world(path(name), p1, p2, &ra, &dec);
          EXPECT_LT(std::hypot((ra - in_ra) * std::cos(Dec0 * Deg), dec - in_dec), 0.05 * Arcsec) << where;
        }
      }
    }
}
