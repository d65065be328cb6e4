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
#include "support/installed_tools.h"
#include "support/qz_mca_program.h"
#include "tile_table_layouts.h"

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

// Where HDU `hdu` (from 1) of a file lies, as CFITSIO finds it: its
// header's first byte, its data's first byte.
struct Place {
  long long head = -1, data = -1;
};
Place hdu_place(const std::string& file, int hdu) {
  fitsfile* f = nullptr;
  int status = 0;
  LONGLONG head = 0, data = 0, end = 0;
  fits_open_file(&f, file.c_str(), READONLY, &status);
  fits_movabs_hdu(f, hdu, nullptr, &status);
  fits_get_hduaddrll(f, &head, &data, &end, &status);
  int closed = 0;
  fits_close_file(f, &closed);
  return status == 0 ? Place{head, data} : Place{};
}

// The input's image HDU with its distortion cards (CPDISn, DPn, D2IMDISn,
// D2IMn) replaced by `cards`, before its EXTNAME; its data as stored.
std::string image_hdu_with(const std::vector<std::string>& cards) {
  const std::string input = fits_test::read_bytes(kInput);
  const Place image = hdu_place(kInput, 2), next = hdu_place(kInput, 3);
  std::string header;
  for (long long at = image.head; at < image.data; at += 80) {
    const std::string card = input.substr(std::size_t(at), 80);
    if (card.compare(0, 3, "END") == 0) break;
    const std::string key = card.substr(0, 8);
    if (key.compare(0, 5, "CPDIS") == 0 || key.compare(0, 2, "DP") == 0 || key.compare(0, 4, "D2IM") == 0) continue;
    if (key == "EXTNAME ")
      for (const std::string& added : cards) header += fits_test::card(added);
    header += card;
  }
  header += fits_test::card("END");
  header.resize((header.size() + 2879) / 2880 * 2880, ' ');
  return header + input.substr(std::size_t(image.data), std::size_t(next.head - image.data));
}

// A Rice-compressed image whose ZTILE2 is 0, as an extension: the library
// divides by it as soon as it opens the HDU.
std::string crafted_tile_hdu(const std::string& scratch_file) {
  fits_test::write_compressed(scratch_file, SHORT_IMG, {16, 16}, std::vector<double>(256, 5.0), {RICE_1, 4, 1, {16, 4}});
  tile_layouts::table_hdu hdu = tile_layouts::take_apart(fits_test::read_bytes(scratch_file));
  hdu.set("ZTILE2", "0");
  const std::string before = hdu.before;
  return tile_layouts::put_together(hdu).substr(before.size());
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

namespace {

// The ways a file comes in: by its name, compressed by each tool, or on the
// standard input; how the run names it, and the command that makes it from
// the plain file (none for the file itself).
struct Way {
  const char* what;
  const char* tool;     // the program the command runs, or nothing
  const char* command;  // from the standard input to the standard output
  const char* suffix;
  bool standard_input;
};
const Way kWays[] = {{"plain", "", "", "", false},
                     {"gzip", "gzip", "gzip -9 -c", ".gz", false},
                     {"bzip2", "bzip2", "bzip2 -9 -c", ".bz2", false},
                     {"unix compress", "compress", "compress -c", ".Z", false},
                     {"standard input", "", "", "", true}};

// The file `bytes` written as `way` brings it in, under `stem`; the input
// name and the arguments after the options that read it. False when the
// tool failed (compress ends with status 2 when it saves nothing).
bool bring_in(const Way& way, const std::string& folder, const std::string& stem, const std::string& bytes,
              std::string* name, std::string* arguments) {
  const std::string plain = folder + "/" + stem;
  fits_test::write_bytes(plain, bytes);
  if (way.standard_input) {
    *name = "-.fits[SCI]";
    *arguments = "-- '" + *name + "' out.fits < '" + stem + "'";
    return true;
  }
  *name = stem + way.suffix + "[SCI]";
  *arguments = "'" + *name + "' out.fits";
  if (*way.tool == '\0') return true;
  if (!test_support::tool_installed(way.tool)) return false;
  const int status = std::system((std::string(way.command) + " < '" + plain + "' > '" + plain + way.suffix + "'").c_str());
  return WIFEXITED(status) && WEXITSTATUS(status) <= 2;
}

}  // namespace

// A file cut short (an interrupted download) inside the last table the
// image's cards name, or before it, is refused as cut short however it comes
// in, and writes nothing: the library reads no header cut short, nor past a
// file in memory, and no result names a table it does not carry. A file
// whose last table lacks only its final padding reads, its results padded;
// one that ends whole without a table its image names reads too, its
// results without the table as the input is (an image copied out of its
// file with its cards).
TEST_F(LookupDistortion, AFileCutShortIsRefusedHoweverItComesInAndOneLackingOnlyTheFinalPaddingReads) {
  const std::string input = fits_test::read_bytes(kInput);
  // WCSDVARR,2, the last HDU, and WCSDVARR,1 before it: 5 x 4 floats each.
  const Place last = hdu_place(kInput, 7), before = hdu_place(kInput, 6);
  ASSERT_EQ(hdu_bytes(kInput, "WCSDVARR", 2).size(), std::size_t(input.size() - last.head));
  ASSERT_GT(before.data, 0);
  const long long table_bytes = 5 * 4 * 4;
  const std::string cut_inside = "the file is cut short inside HDU [6], before the distortion table [WCSDVARR,2] that "
                                 "the image's cards name (CPDIS2 and DP2): fetch or copy the whole file again ... (";
  const std::string data_cut = "the file is cut short: HDU [6], the distortion table [WCSDVARR,2] that the image's "
                               "cards name (CPDIS2 and DP2), announces 80 data bytes and the file holds ";
  struct Case {
    const char* what;
    long long size;
    std::string refusal;  // empty when the file reads
  };
  const Case cases[] = {
      {"inside the last table's first card", last.head + 4, cut_inside},
      {"inside the last table's header", last.head + 1000, cut_inside},
      {"just after the last table's END", last.data, data_cut + "0 of them: fetch or copy the whole file again ... ("},
      {"inside the last table's data", last.data + 40, data_cut + "40 of them: fetch or copy the whole file again ... ("},
      {"inside the padding of the table before it", before.data + table_bytes + 100,
       "the file is cut short inside HDU [5], before the distortion table [WCSDVARR,2]"},
      {"where the last table's data end, its padding missing", last.data + table_bytes, ""},
      {"whole, before the last table", last.head, ""},
  };
  for (const Case& c : cases)
    for (const Way& way : kWays) {
      const std::string what = std::string(c.what) + ", " + way.what;
      std::string name, arguments;
      for (const char* result : kResults) std::remove(path(result).c_str());
      ASSERT_TRUE(bring_in(way, dir_, "cut.fits", input.substr(0, std::size_t(c.size)), &name, &arguments)) << what;
      const int status = run(kRun + arguments);
      if (!c.refusal.empty()) {
        EXPECT_EQ(status, 255) << what << output_;
        EXPECT_TRUE(printed("Error: " + c.refusal)) << what << output_;
        EXPECT_TRUE(printed(" (" + name + ")\n")) << what << output_;
        expect_nothing_written(what);
        continue;
      }
      EXPECT_EQ(status, 0) << what << output_;
      if (status != 0) continue;
      const bool last_table_held = c.size > last.head;
      for (const char* result : kResults) {
        EXPECT_EQ(hdu_count(path(result)), last_table_held ? 5 : 4) << what << " " << result;
        // The input's own padding is zeros, as the results' is.
        for (const Plane& plane : kPlanes) {
          const bool held = last_table_held || std::string(plane.extname) != "WCSDVARR" || plane.version != 2;
          EXPECT_TRUE(hdu_bytes(path(result), plane.extname, plane.version) ==
                      (held ? hdu_bytes(kInput, plane.extname, plane.version) : std::string()))
              << what << " " << result << ": " << plane.extname << "," << plane.version;
        }
        if (qz_test::have_fitsverify()) {
          EXPECT_TRUE(qz_test::passes_fitsverify(path(result))) << what << " " << result;
        }
      }
    }
}

// HST's older form names its detector table by D2IMEXT alone, which is then
// D2IMARR version 1 (the file's first D2IMARR is version 2 here, as a
// version taken for any would take it); beside CPDISn the tables of both
// come, and beside D2IMDISn, whose records name the tables, D2IMEXT names
// none. CQDISn with DQn records name WCSDVARR tables as CPDISn with DPn do;
// a DQn record beside CPDISn alone names nothing. Each result carries the
// tables named, as the file stores them, and no other.
TEST_F(LookupDistortion, TheOlderDetectorCardAndCQDISNameTheirTables) {
  using Named = std::vector<std::pair<const char*, int>>;
  struct Case {
    const char* what;
    std::vector<std::string> cards;
    Named tables;
  };
  const std::string d2imext = "D2IMEXT = 'hst_ref_d2i.fits'";
  const Case cases[] = {
      {"D2IMEXT alone", {d2imext}, {{"D2IMARR", 1}}},
      {"D2IMEXT beside CPDIS1",
       {d2imext, "CPDIS1  = 'LOOKUP'", "DP1     = 'EXTVER: 2'", "DP1     = 'NAXES: 2'"},
       {{"D2IMARR", 1}, {"WCSDVARR", 2}}},
      {"D2IMEXT beside D2IMDIS2", {d2imext, "D2IMDIS2= 'LOOKUP'", "D2IM2   = 'EXTVER: 2'"}, {{"D2IMARR", 2}}},
      {"CQDIS1 and CQDIS2",
       {"CQDIS1  = 'LOOKUP'", "DQ1     = 'NAXES: 2'", "DQ1     = 'EXTVER: 2'", "CQDIS2  = 'LOOKUP'",
        "DQ2     = 'EXTVER: 1'"},
       {{"WCSDVARR", 1}, {"WCSDVARR", 2}}},
      {"CPDIS1 and CQDIS2",
       {"CPDIS1  = 'LOOKUP'", "DP1     = 'EXTVER: 1'", "CQDIS2  = 'LOOKUP'", "DQ2     = 'EXTVER: 2'"},
       {{"WCSDVARR", 1}, {"WCSDVARR", 2}}},
      {"a DQ1 record beside CPDIS1 alone",
       {"CPDIS1  = 'LOOKUP'", "DP1     = 'EXTVER: 1'", "DQ1     = 'EXTVER: 2'"},
       {{"WCSDVARR", 1}}},
  };
  std::string tables;
  for (const auto& [extname, version] : Named{{"D2IMARR", 2}, {"D2IMARR", 1}, {"WCSDVARR", 2}, {"WCSDVARR", 1}})
    tables += hdu_bytes(kInput, extname, version);
  const std::string primary = fits_test::read_bytes(kInput).substr(0, std::size_t(hdu_place(kInput, 2).head));
  for (const Case& c : cases) {
    fits_test::write_bytes(path("forms.fits"), primary + image_hdu_with(c.cards) + tables);
    for (const char* result : kResults) std::remove(path(result).c_str());
    ASSERT_EQ(run(std::string(kRun) + "'forms.fits[SCI]' out.fits"), 0) << c.what << output_;
    for (const char* result : kResults) {
      const std::string what = std::string(c.what) + " " + result;
      EXPECT_EQ(hdu_count(path(result)), 1 + int(c.tables.size())) << what;
      for (const auto& [extname, version] : c.tables) {
        const std::string stored = hdu_bytes(path("forms.fits"), extname, version);
        ASSERT_FALSE(stored.empty()) << extname;
        EXPECT_TRUE(hdu_bytes(path(result), extname, version) == stored) << what << ": " << extname << "," << version;
      }
      if (qz_test::have_fitsverify()) {
        EXPECT_TRUE(qz_test::passes_fitsverify(path(result))) << what;
      }
    }
  }
  // D2IMEXT alone, and CQDISn alone, mark the tables' distortion as CPDISn
  // does: a section and -I are refused.
  const std::vector<std::string> alone[] = {{d2imext}, {"CQDIS1  = 'LOOKUP'", "DQ1     = 'EXTVER: 1'"}};
  for (const auto& cards : alone) {
    fits_test::write_bytes(path("forms.fits"), primary + image_hdu_with(cards) + tables);
    for (const char* result : kResults) std::remove(path(result).c_str());
    EXPECT_EQ(run(std::string(kRun) + "'forms.fits[SCI][1:20,1:10]' out.fits"), 255) << cards[0] << output_;
    EXPECT_TRUE(printed("Error: the section [1:20,1:10] cuts an image whose coordinates carry lookup-table "
                        "distortions"))
        << cards[0] << output_;
    expect_nothing_written(cards[0]);
    EXPECT_EQ(run(std::string(kRun) + "-I 'forms.fits[SCI]' out.fits"), 255) << cards[0] << output_;
    EXPECT_TRUE(printed("Error: -I would put onto a grid 4 times finer an image whose coordinates carry lookup-table "
                        "distortions"))
        << cards[0] << output_;
    expect_nothing_written(cards[0]);
  }
}

// A tile-compressed image between the image and its tables whose ZTILE2 is
// 0, which the library would divide by as it passed it, is refused before
// the tables are looked for, from a plain or a gzip file, naming the file,
// and nothing is written.
TEST_F(LookupDistortion, ACraftedTileCompressedHduBeforeTheTablesIsRefused) {
  const std::string primary = fits_test::read_bytes(kInput).substr(0, std::size_t(hdu_place(kInput, 2).head));
  const std::string bytes = primary + image_hdu_with({"CPDIS1  = 'LOOKUP'", "DP1     = 'EXTVER: 1'"}) +
                            crafted_tile_hdu(path("tiles.fits")) + hdu_bytes(kInput, "WCSDVARR", 1);
  fits_test::write_bytes(path("crafted.fits"), bytes);
  fits_test::write_bytes(path("crafted.fits.gz"), fits_test::gzip_member(bytes));
  for (const char* file : {"crafted.fits", "crafted.fits.gz"}) {
    const std::string name = std::string(file) + "[SCI]";
    EXPECT_EQ(run(std::string(kRun) + "'" + name + "' out.fits"), 255) << name << output_;
    EXPECT_TRUE(printed("the tile-compressed image in HDU [2] has ZTILE2 = 0")) << name << output_;
    EXPECT_TRUE(printed(std::string(" (") + file + ")\n")) << name << output_;
    expect_nothing_written(name);
  }
}
