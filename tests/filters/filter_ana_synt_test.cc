// Filter sets: taps against closed forms and published properties, names and
// usage texts, and the user ".wvf" filter files with their errors.
#include "filters/filter_ana_synt.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numeric>

#include "support/death.h"

namespace {

using Taps = std::vector<double>;

Taps taps(const float* t, int n) { return Taps(t, t + n); }

// sum_n a(n) b(n + 2m) for centred odd-length filters.
double cross(const Taps& a, const Taps& b, int m) {
  double s = 0.;
  for (int i = 0; i < int(a.size()); i++) {
    int j = i - int(a.size()) / 2 + 2 * m + int(b.size()) / 2;
    if (j >= 0 && j < int(b.size())) s += a[i] * b[j];
  }
  return s;
}

// sum_k (-1)^k k^p h(k), k counted from the centre tap: zero for p below the
// number of vanishing moments of the complementary high-pass filter.
double alternating_moment(const Taps& h, int p) {
  double s = 0.;
  for (int k = 0; k < int(h.size()); k++)
    s += (k % 2 ? -1 : 1) * std::pow(k - int(h.size()) / 2, p) * h[k];
  return s;
}

}  // namespace

TEST(FilterSets, ShortSetsMatchTheirClosedForms) {
  double s3 = std::sqrt(3.), d = 4 * std::sqrt(2.), h = 1 / std::sqrt(2.);
  Taps legall5 = {-0.125, 0.25, 0.75, 0.25, -0.125}, spline3 = {0.25, 0.5, 0.25};
  Taps daub4 = {0, 0, 0, (1 + s3) / d, (3 + s3) / d, (3 - s3) / d, (1 - s3) / d};
  // Bi-orthogonal Haar synthesis: (-1, 1, 8, 8, 1, -1)/8 and
  // (3, -3, -22, 22, 128, 128, 22, -22, -3, 3)/128, over sqrt(2).
  Taps b26 = {0, -1, 1, 8, 8, 1, -1}, b210 = {0, 3, -3, -22, 22, 128, 128, 22, -22, -3, 3};
  for (auto& v : b26) v *= h / 8;
  for (auto& v : b210) v *= h / 128;
  struct Case { type_sb_filter set; Taps analysis, synthesis; int norm; };
  const Case cases[] = {{F_5_3, legall5, spline3, 0},      {F_3_5, spline3, legall5, 0},
                        {F_DAUBE_4, daub4, daub4, 1},      {U_HAAR_B3S, {0, h, h}, b26, 1},
                        {U_HAAR_B3S2, {0, h, h}, b210, 1}, {F_HAAR, {h, h, 0}, {h, h, 0}, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(StringSBFilter(c.set));
    FilterAnaSynt f(c.set);
    Taps ana = taps(f.analysis(), f.size_analysis()), syn = taps(f.synthesis(), f.size_synthesis());
    ASSERT_EQ(ana.size(), c.analysis.size());
    ASSERT_EQ(syn.size(), c.synthesis.size());
    for (size_t k = 0; k < ana.size(); k++) EXPECT_NEAR(ana[k], c.analysis[k], 1e-7);
    for (size_t k = 0; k < syn.size(); k++) EXPECT_NEAR(syn[k], c.synthesis[k], 1e-7);
    EXPECT_EQ(f.norm(), c.norm);
  }
}

TEST(FilterSets, LongSetsHaveTheirPublishedProperties) {
  // The 7/9 pairs are the symmetric bi-orthogonal pair of lengths 7 and 9
  // with four vanishing moments, which makes them unique; Odegard's pair
  // trades two of the moments for smoothness.
  struct Case { type_sb_filter set; int size_ana, moments; };
  for (Case c : {Case{F_MALLAT_7_9, 7, 4}, Case{F_MALLAT_9_7, 9, 4}, Case{F_ODEGARD_9_7, 9, 2}}) {
    SCOPED_TRACE(StringSBFilter(c.set));
    FilterAnaSynt f(c.set);
    Taps ana = taps(f.analysis(), f.size_analysis()), syn = taps(f.synthesis(), f.size_synthesis());
    EXPECT_EQ(int(ana.size()), c.size_ana);
    EXPECT_EQ(int(ana.size() + syn.size()), 16);
    for (int m = -4; m <= 4; m++) EXPECT_NEAR(cross(ana, syn, m), m == 0 ? 1. : 0., 2e-6) << m;
    for (const Taps& t : {ana, syn}) {
      EXPECT_TRUE(std::equal(t.begin(), t.end(), t.rbegin()));
      EXPECT_NEAR(std::accumulate(t.begin(), t.end(), 0.), std::sqrt(2.), 1e-6);
      for (int p = 0; p < c.moments; p++) EXPECT_NEAR(alternating_moment(t, p), 0., 2e-6) << p;
      EXPECT_GT(std::fabs(alternating_moment(t, c.moments)), 0.1);
    }
  }
  for (type_sb_filter t : {F_LEMARIE_1, F_LEMARIE_3, F_LEMARIE_5}) {
    SCOPED_TRACE(StringSBFilter(t));
    FilterAnaSynt f(t);
    Taps h = taps(f.analysis(), f.size_analysis());
    EXPECT_NEAR(std::accumulate(h.begin(), h.end(), 0.), std::sqrt(2.), 3e-4);
    // Truncated infinite filters: orthonormal to the accuracy of the cut.
    for (int m = 0; m <= 5; m++) EXPECT_NEAR(cross(h, h, m), m == 0 ? 1. : 0., 1e-3) << m;
  }
}

TEST(FilterSets, NamesComplementAndFilterOption) {
  EXPECT_STREQ(StringSBFilter(type_sb_filter(14)), "Undefined sub-band filters");
  testing::internal::CaptureStderr();
  sb_usage(F_MALLAT_7_9);
  std::string usage = testing::internal::GetCapturedStderr();
  EXPECT_NE(usage.find("              12: 3/5 filter \n"), std::string::npos);
  EXPECT_EQ(usage.find("13:"), std::string::npos);  // the 9/7 set is not offered
  for (int bad : {0, 14})
    EXPECT_EXIT_STATUS(FilterAnaSynt f{type_sb_filter(bad)}, 255, "Error: unknown filter");

  const float h[3] = {0.f, 0.70710677f, 0.70710677f}, r = 0.70710677f;
  for (int sign : {-1, 1}) {
    float g[3];
    filter_complement(h, g, 3, sign);
    EXPECT_EQ(std::vector<float>(g, g + 3), std::vector<float>({sign * r, -sign * r, 0.f}));
  }

  std::string long_name(5000, 'x');
  EXPECT_EQ(filtername("my.wvf.old"), "my.wvf.old");
  EXPECT_EQ(filtername("my"), "my.wvf");
  EXPECT_EQ(filtername(long_name.c_str()), long_name + ".wvf");
  EXPECT_EQ(get_filter_bank("3"), U_HAAR_B3S);
  EXPECT_EQ(UserFilterFileName, nullptr);
  EXPECT_EQ(get_filter_bank(("10, " + long_name).c_str()), F_USER);
  ASSERT_NE(UserFilterFileName, nullptr);
  EXPECT_EQ(std::string(UserFilterFileName), long_name);
  UserFilterFileName = nullptr;
  for (const char* bad : {"0", "13", "abc"})
    EXPECT_EXIT_STATUS(get_filter_bank(bad), 255, std::string("bad type of filter: ") + bad);
}

// Each case works in a fresh directory of its own, also its working one.
class FilterFile : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(mkdtemp(&dir_[0]), nullptr);
    std::filesystem::current_path(dir_);
  }
  void TearDown() override {
    std::filesystem::current_path(old_cwd_);
    std::filesystem::remove_all(dir_);
  }
  std::string write(const std::string& name, const std::string& text) {
    std::ofstream(dir_ + "/" + name) << text;
    return dir_ + "/" + name;
  }
  std::string dir_ = (std::filesystem::temp_directory_path() / "qzwvfXXXXXX").string();
  std::filesystem::path old_cwd_ = std::filesystem::current_path();
};

TEST_F(FilterFile, TapsAreCentredAndTheNormFollowsTheAnalysisTaps) {
  std::string path = write("pair.wvf", "0 1\n 0.5 0.25\n-2 2\n1 2 3 4 5\n trailing words");
  FilterAnaSynt f(path.substr(0, path.size() - 4).c_str());  // extension appended
  EXPECT_EQ(taps(f.analysis(), f.size_analysis()), Taps({0., 0.5, 0.25}));
  EXPECT_EQ(std::vector<int>({f.Start_Ana, f.size_synthesis(), f.Start_Synt}),
            std::vector<int>({-1, 5, -2}));
  FilterAnaSynt copy(f);  // owns its own taps
  f.reset_param();
  EXPECT_EQ(copy.analysis()[1], 0.5f);
  // The 5/3 set written as a file: the same taps, recognised as L1.
  FilterAnaSynt legall(
      write("legall.wvf", "-2 2 -0.125 0.25 0.75 0.25 -0.125 -1 1 0.25 0.5 0.25").c_str()),
      builtin(F_5_3);
  EXPECT_TRUE(std::equal(builtin.analysis(), builtin.analysis() + 5, legall.analysis()));
  EXPECT_TRUE(std::equal(builtin.synthesis(), builtin.synthesis() + 3, legall.synthesis()));
  EXPECT_EQ(legall.norm(), 0);
  // Squares summing to 1 means L2, and so does a tie.
  EXPECT_EQ(FilterAnaSynt(write("l2.wvf", "0 1 0.70710677 0.70710677 0 0 1").c_str()).norm(), 1);
  EXPECT_EQ(FilterAnaSynt(write("tie.wvf", "0 0 1 0 0 1").c_str()).norm(), 1);
}

TEST_F(FilterFile, MalformedFilesStopWithAnErrorNamingTheFile) {
  struct Case { const char* text; const char* detail; };
  const Case cases[] = {
      {"", "missing analysis lowest index"},
      {"0 2 0.1 0.2", "missing analysis tap of index 2"},
      {"0 1 0.1 abc", "analysis tap of index 1 is not a finite number"},
      {"x 1", "analysis lowest index is not an integer"},
      {"2 0 1", "index range 2 to 0 is empty"},
      {"0 99999999999 1", "analysis highest index out of range"},
      {"0 0 1 -1 1 0.5 0.5", "missing synthesis tap of index 1"},
  };
  for (const Case& c : cases)
    EXPECT_EXIT_STATUS(FilterAnaSynt f(write("bad.wvf", c.text).c_str()), 255,
                       "Error: bad filter file format \\.\\.\\. .*bad\\.wvf: .*" +
                           std::string(c.detail))
        << c.text;
  EXPECT_EXIT_STATUS(FilterAnaSynt f((dir_ + "/absent").c_str()), 255,
                     "Error: cannot open file .*absent \\.\\.\\. or file doesn't exist");
}

TEST_F(FilterFile, LookupOrderIsNameOptionWorkingFileThenEnvironment) {
  unsetenv("ZUB_FILTER");
  UserFilterFileName = nullptr;
  EXPECT_EXIT_STATUS(FilterAnaSynt f(F_USER), 255, "Error: the filter bank is not defined");
  // Each source names a file whose one analysis tap tells which was read.
  setenv("ZUB_FILTER", write("env.wvf", "0 0 4 0 0 1").c_str(), 1);
  EXPECT_EQ(FilterAnaSynt(F_USER).analysis()[0], 4.f);
  write("qz3.wvf", "0 0 3 0 0 1");
  EXPECT_EQ(FilterAnaSynt(F_USER).analysis()[0], 3.f);
  std::string option = write("option.wvf", "0 0 2 0 0 1");
  UserFilterFileName = &option[0];
  EXPECT_EQ(FilterAnaSynt(F_USER).analysis()[0], 2.f);
  EXPECT_EQ(FilterAnaSynt(write("named.wvf", "0 0 1 0 0 1").c_str()).analysis()[0], 1.f);
  UserFilterFileName = nullptr;
  unsetenv("ZUB_FILTER");
}
