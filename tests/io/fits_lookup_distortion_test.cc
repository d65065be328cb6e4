// Results of an image whose coordinates carry lookup-table distortions, as
// HST's calibrated images do (CPDISn with DPn records naming WCSDVARR
// extensions, D2IMDISn with D2IMn records naming D2IMARR extensions), made
// by astropy: every result of the whole image carries the tables its cards
// name, so that the distortion evaluated from the result, by a bilinear
// lookup written here, is the input's; sections and -I, which the tables
// would not follow, are refused and write nothing.
#include <gtest/gtest.h>

#include <fitsio.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "fits_test_files.h"
#include "support/fitsverify.h"
#include "support/qz_mca_program.h"

namespace {

const std::string kInput = std::string(QZ_SOURCE_DIR) + "/tests/io/data/astropy/lookup_distortion.fits";
constexpr const char* kRun = "-t 1 -n 2 -i 1 ";
const char* const kResults[] = {"out.fits", "out_atrou.fits", "out_resi.fits"};

// The tables as make_lookup_distortion_files.py made them: the function
// card they serve, their HDU, the plane a + b column + c row (from 0) their
// cells hold, and the grid that puts table pixel t at image pixel
// CRVAL + (t - CRPIX) CDELT.
struct Plane {
  const char* function;
  const char* extname;
  int version;
  double a, b, c;
  double crpix[2], crval[2], cdelt[2];
  long columns, rows;
};
const Plane kPlanes[] = {
    {"CPDIS1", "WCSDVARR", 1, 0.10, 0.030, -0.020, {1, 1}, {1, 1}, {10, 10}, 5, 4},
    {"CPDIS2", "WCSDVARR", 2, -0.05, 0.015, 0.040, {2, 1}, {11, 1}, {10, 10}, 5, 4},
    {"D2IMDIS1", "D2IMARR", 1, 0.02, -0.004, 0.0, {1, 1}, {1, 1}, {5, 1}, 9, 1},
    {"D2IMDIS2", "D2IMARR", 2, -0.01, 0.0, 0.003, {1, 1}, {1, 1}, {1, 5}, 1, 8},
};
// Corners and centre of the 40 x 30 image, and a point between cells.
const double kPoints[][2] = {{1, 1}, {40, 1}, {1, 30}, {40, 30}, {20.5, 15.5}, {7.3, 22.9}};

// A lookup table as its HDU stores it.
struct Table {
  long columns = 0, rows = 0;
  std::vector<float> cells;
  double crpix[2] = {0, 0}, crval[2] = {0, 0}, cdelt[2] = {1, 1};
};

// The distortion at image pixel (p1, p2): the table's pixel on each axis,
// held to the table, and the cells around it weighed bilinearly.
double lookup(const Table& t, double p1, double p2) {
  const long size[2] = {t.columns, t.rows};
  const double p[2] = {p1, p2};
  long low[2], high[2];
  double weight[2];
  for (int k = 0; k < 2; k++) {
    const double at = std::clamp((p[k] - t.crval[k]) / t.cdelt[k] + t.crpix[k], 1.0, double(size[k]));
    low[k] = static_cast<long>(std::floor(at));
    high[k] = std::min(low[k] + 1, size[k]);
    weight[k] = at - double(low[k]);
  }
  auto cell = [&](long i, long j) { return double(t.cells[(j - 1) * t.columns + (i - 1)]); };
  return (1 - weight[0]) * (1 - weight[1]) * cell(low[0], low[1]) + weight[0] * (1 - weight[1]) * cell(high[0], low[1]) +
         (1 - weight[0]) * weight[1] * cell(low[0], high[1]) + weight[0] * weight[1] * cell(high[0], high[1]);
}

// The EXTVER a record-valued card names ("DP1     = 'EXTVER: 2'" for
// DP1.EXTVER = 2), 0 when the card names none.
int record_version(const std::string& text, const std::string& keyword) {
  std::string key = keyword;
  key.resize(8, ' ');
  const std::string start = key + "= 'EXTVER:";
  return text.compare(0, start.size(), start) == 0 ? std::atoi(text.c_str() + start.size()) : 0;
}

// A file's tables as the cards of its HDU `hdu` (from 1) name them, found
// by EXTNAME and EXTVER among the file's HDUs: the value of each function
// card's table at each point.
std::map<std::string, std::vector<double>> distortions(const std::string& file, int hdu) {
  std::map<std::string, std::vector<double>> values;
  fitsfile* f = nullptr;
  int status = 0, nkeys = 0;
  fits_open_file(&f, file.c_str(), READONLY, &status);
  fits_movabs_hdu(f, hdu, nullptr, &status);
  fits_get_hdrspace(f, &nkeys, nullptr, &status);
  std::vector<std::string> cards;
  char text[FLEN_CARD];
  for (int k = 1; k <= nkeys && status == 0; k++)
    if (fits_read_record(f, k, text, &status) == 0) cards.push_back(text);
  for (const Plane& plane : kPlanes) {
    const std::string axis(1, plane.function[std::string(plane.function).size() - 1]);
    const std::string record = std::string(plane.extname) == "WCSDVARR" ? "DP" + axis : "D2IM" + axis;
    int version = 0;
    bool function = false;
    for (const std::string& c : cards) {
      function |= c.compare(0, std::string(plane.function).size(), plane.function) == 0;
      if (version == 0) version = record_version(c, record);
    }
    if (!function || version == 0 || status != 0) continue;
    Table t;
    int found = 0, naxis = 0, anynul = 0;
    long axes[2] = {1, 1};
    if (fits_movnam_hdu(f, IMAGE_HDU, const_cast<char*>(plane.extname), version, &found)) continue;
    fits_get_img_dim(f, &naxis, &found);
    fits_get_img_size(f, 2, axes, &found);
    t.columns = axes[0], t.rows = axes[1];
    t.cells.resize(std::size_t(t.columns * t.rows));
    fits_read_img(f, TFLOAT, 1, t.cells.size(), nullptr, t.cells.data(), &anynul, &found);
    for (int k = 0; k < 2; k++) {
      const std::string n = std::to_string(k + 1);
      fits_read_key_dbl(f, ("CRPIX" + n).c_str(), &t.crpix[k], nullptr, &found);
      fits_read_key_dbl(f, ("CRVAL" + n).c_str(), &t.crval[k], nullptr, &found);
      fits_read_key_dbl(f, ("CDELT" + n).c_str(), &t.cdelt[k], nullptr, &found);
    }
    if (found != 0 || naxis != 2) continue;
    for (const auto& p : kPoints) values[plane.function].push_back(lookup(t, p[0], p[1]));
    fits_movabs_hdu(f, hdu, nullptr, &status);
  }
  int closed = 0;
  fits_close_file(f, &closed);
  return values;
}

// The bytes of HDU (extname, version) as the file stores them, header and
// data; empty when the file has no such HDU.
std::string hdu_bytes(const std::string& file, const char* extname, int version) {
  fitsfile* f = nullptr;
  int status = 0;
  LONGLONG head = 0, data = 0, end = 0;
  fits_open_file(&f, file.c_str(), READONLY, &status);
  fits_movnam_hdu(f, IMAGE_HDU, const_cast<char*>(extname), version, &status);
  fits_get_hduaddrll(f, &head, &data, &end, &status);
  int closed = 0;
  fits_close_file(f, &closed);
  return status != 0 ? "" : fits_test::read_bytes(file).substr(std::size_t(head), std::size_t(end - head));
}

int hdu_count(const std::string& file) {
  fitsfile* f = nullptr;
  int status = 0, count = 0;
  fits_open_file(&f, file.c_str(), READONLY, &status);
  fits_get_num_hdus(f, &count, &status);
  int closed = 0;
  fits_close_file(f, &closed);
  return status == 0 ? count : 0;
}

class LookupDistortion : public QzMcaProgram {
 protected:
  void SetUp() override {
    QzMcaProgram::SetUp();
    const std::string bytes = fits_test::read_bytes(kInput);
    ASSERT_FALSE(bytes.empty()) << kInput;
    fits_test::write_bytes(path("in.fits"), bytes);
    fits_test::write_bytes(path("in.fits.gz"), fits_test::gzip_member(bytes));
  }
  void expect_nothing_written(const std::string& what) {
    for (const char* name : kResults) EXPECT_FALSE(exists(name)) << what << " " << name;
  }
};

// The plane each table holds, at the points, is what the lookup gives from
// the input's own tables: the lookup and the tables' grid are read right.
TEST_F(LookupDistortion, TheInputsTablesHoldTheirPlanes) {
  const auto values = distortions(kInput, 2);
  for (const Plane& plane : kPlanes) {
    ASSERT_EQ(values.count(plane.function), 1u) << plane.function;
    for (std::size_t k = 0; k < std::size(kPoints); k++) {
      double at[2];
      const long size[2] = {plane.columns, plane.rows};
      for (int i = 0; i < 2; i++)
        at[i] = std::clamp((kPoints[k][i] - plane.crval[i]) / plane.cdelt[i] + plane.crpix[i], 1.0, double(size[i]));
      EXPECT_NEAR(values.at(plane.function)[k], plane.a + plane.b * (at[0] - 1) + plane.c * (at[1] - 1), 1e-6)
          << plane.function << " at " << kPoints[k][0] << "," << kPoints[k][1];
    }
  }
}

// Each result of the whole image, however the name selects it and also
// from a gzipped file, holds the four tables as the input stores them,
// EXTNAME and EXTVER kept, and nothing else of the file (not its ERR
// image); the distortion its cards and tables give is the input's at every
// point; fitsverify finds no error.
TEST_F(LookupDistortion, EveryResultOfTheWholeImageCarriesTheTablesItsCardsName) {
  const auto input = distortions(kInput, 2);
  for (const char* name : {"in.fits[SCI]", "in.fits[1]", "in.fits[SCI,1]", "in.fits.gz[SCI]"}) {
    for (const char* result : kResults) std::remove(path(result).c_str());
    ASSERT_EQ(run(std::string(kRun) + "'" + name + "' out.fits"), 0) << name << output_;
    for (const char* result : kResults) {
      const std::string what = std::string(name) + " " + result;
      EXPECT_EQ(hdu_count(path(result)), 5) << what;
      for (const Plane& plane : kPlanes) {
        const std::string stored = hdu_bytes(kInput, plane.extname, plane.version);
        ASSERT_FALSE(stored.empty()) << plane.extname;
        EXPECT_TRUE(hdu_bytes(path(result), plane.extname, plane.version) == stored)
            << what << ": " << plane.extname << "," << plane.version;
      }
      const auto carried = distortions(path(result), 1);
      for (const Plane& plane : kPlanes) {
        ASSERT_EQ(carried.count(plane.function), 1u) << what << " " << plane.function;
        for (std::size_t k = 0; k < std::size(kPoints); k++)
          EXPECT_EQ(carried.at(plane.function)[k], input.at(plane.function)[k]) << what << " " << plane.function;
      }
      if (qz_test::have_fitsverify()) {
        EXPECT_TRUE(qz_test::passes_fitsverify(path(result))) << what;
      }
    }
  }
}

// A result on the standard output names the tables in its cards as any
// other: they follow its image there too.
TEST_F(LookupDistortion, AResultOnTheStandardOutputCarriesTheTablesToo) {
  const std::string command = "cd '" + dir_ + "' && '" + program_ + "' " + kRun + "'in.fits[SCI]' - > piped.fits";
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_EQ(hdu_count(path("piped.fits")), 5);
  if (qz_test::have_fitsverify()) {
    EXPECT_TRUE(qz_test::passes_fitsverify(path("piped.fits")));
  }
}

// The tables describe the whole image's pixels: a section, whether it
// moves them or not, and -I, which puts the image on a finer grid, are
// refused, with what to do instead, and write no result.
TEST_F(LookupDistortion, SectionsAndZoomsAreRefused) {
  for (const char* section : {"11:40,5:24", "-*,*", "40:11,*", "1:40:2,*", "*,*"}) {
    const std::string name = std::string("in.fits[SCI][") + section + "]";
    EXPECT_EQ(run(std::string(kRun) + "'" + name + "' out.fits"), 255) << name << output_;
    EXPECT_TRUE(printed(std::string("Error: the section [") + section +
                        "] cuts an image whose coordinates carry lookup-table distortions (CPDISn, CQDISn, "
                        "D2IMDISn), whose tables in other HDUs of the file describe the whole image's pixels, not "
                        "the section's: read the whole image, or cut the section with another tool ... (" +
                        name + ")"))
        << output_;
    expect_nothing_written(name);
  }
  for (const char* zoom : {"-I", "-I -H"}) {
    EXPECT_EQ(run(std::string(kRun) + zoom + " 'in.fits[SCI]' out.fits"), 255) << zoom << output_;
    EXPECT_TRUE(printed("Error: -I would put onto a grid 4 times finer an image whose coordinates carry lookup-table "
                        "distortions (CPDISn, CQDISn, D2IMDISn), whose tables in other HDUs of the file describe the "
                        "input's pixels, not the finer ones: run without -I ... (in.fits[SCI])"))
        << output_;
    expect_nothing_written(zoom);
  }
}

}  // namespace
