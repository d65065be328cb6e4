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

#include "support/death.h"

namespace {

using Laurent = std::vector<double>;  // odd length, centred taps

Laurent conv(const Laurent& a, const Laurent& b) {
  Laurent c(a.size() + b.size() - 1, 0.);
  for (size_t i = 0; i < a.size(); i++)
    for (size_t j = 0; j < b.size(); j++) c[i + j] += a[i] * b[j];
  return c;
}

// sum_k coef[k] y^k with y = sin^2(w/2) = (2 - z - 1/z) / 4, as a filter.
Laurent poly_in_y(const std::vector<double>& coef) {
  Laurent power = {1.}, sum(2 * coef.size() - 1, 0.);
  for (size_t k = 0; k < coef.size(); k++) {
    size_t offset = (sum.size() - power.size()) / 2;
    for (size_t i = 0; i < power.size(); i++) sum[offset + i] += coef[k] * power[i];
    power = conv(power, {-0.25, 0.5, -0.25});
  }
  return sum;
}

const Laurent kCos2 = {0.25, 0.5, 0.25};  // cos^2(w/2) = (z + 2 + 1/z) / 4

// sum_n a(n) b(n + 2m) for centred odd-length filters.
double cross(const FilterAnaSynt& f, bool with_synthesis, int m) {
  const float *a = f.analysis(), *b = with_synthesis ? f.synthesis() : a;
  int na = f.size_analysis(), nb = with_synthesis ? f.size_synthesis() : na;
  double s = 0.;
  for (int i = 0; i < na; i++) {
    int j = (i - na / 2) + 2 * m + nb / 2;
    if (j >= 0 && j < nb) s += double(a[i]) * b[j];
  }
  return s;
}

}  // namespace

TEST(FilterSets, TapsMatchTheirClosedForms) {
  // The 7/9 pair: Daubechies' polynomial for 4 vanishing moments split at
  // its real root, the linear factor with the 7-tap filter.
  auto P = [](double y) { return 1 + 4 * y + 10 * y * y + 20 * y * y * y; };
  double lo = -1., hi = 0.;
  for (int it = 0; it < 200; it++) ((P(lo) < 0) == (P(0.5 * (lo + hi)) < 0) ? lo : hi) = 0.5 * (lo + hi);
  double r = 0.5 * (lo + hi), q1 = 4 + 1 / r, q2 = 10 + q1 / r;
  Laurent f7 = conv(conv(kCos2, kCos2), poly_in_y({1., -1 / r}));
  Laurent f9 = conv(conv(kCos2, kCos2), poly_in_y({1., q1, q2}));
  double s2 = std::sqrt(2.), s3 = std::sqrt(3.), d = 4 * s2, h = 1 / s2;
  Laurent legall5 = conv(kCos2, poly_in_y({1., 2.}));  // (-1, 2, 6, 2, -1) / 8
  Laurent daub4 = {0, 0, 0, (1 + s3) / d, (3 + s3) / d, (3 - s3) / d, (1 - s3) / d};
  // Bi-orthogonal Haar synthesis: (-1, 1, 8, 8, 1, -1)/8 and
  // (3, -3, -22, 22, 128, 128, 22, -22, -3, 3)/128, over sqrt(2).
  Laurent b26 = {0, -h / 8, h / 8, h, h, h / 8, -h / 8};
  Laurent b210 = {0, 3, -3, -22, 22, 128, 128, 22, -22, -3, 3};
  for (auto& v : b210) v *= h / 128;
  struct Case { type_sb_filter set; Laurent analysis, synthesis; double scale; int norm; };
  const Case cases[] = {{F_MALLAT_7_9, f7, f9, s2, 1},     {F_MALLAT_9_7, f9, f7, s2, 1},
                        {F_5_3, legall5, kCos2, 1, 0},      {F_3_5, kCos2, legall5, 1, 0},
                        {F_DAUBE_4, daub4, daub4, 1, 1},    {U_HAAR_B3S, {0, h, h}, b26, 1, 1},
                        {U_HAAR_B3S2, {0, h, h}, b210, 1, 1}, {F_HAAR, {h, h, 0}, {h, h, 0}, 1, 1}};
  for (const Case& c : cases) {
    FilterAnaSynt f(c.set);
    std::vector<double> ana(f.analysis(), f.analysis() + f.size_analysis()),
        syn(f.synthesis(), f.synthesis() + f.size_synthesis());
    ASSERT_EQ(ana.size(), c.analysis.size());
    ASSERT_EQ(syn.size(), c.synthesis.size());
    for (size_t k = 0; k < ana.size(); k++) EXPECT_NEAR(ana[k], c.scale * c.analysis[k], 1e-6);
    for (size_t k = 0; k < syn.size(); k++) EXPECT_NEAR(syn[k], c.scale * c.synthesis[k], 1e-6);
    EXPECT_EQ(f.norm(), c.norm) << StringSBFilter(c.set);
  }
}

TEST(FilterSets, SymmetricPairsAreBiorthogonalAndLemarieFiltersOrthonormal) {
  for (type_sb_filter t : {F_MALLAT_7_9, F_ODEGARD_9_7, F_MALLAT_9_7})
    for (int m = -4; m <= 4; m++)
      EXPECT_NEAR(cross(FilterAnaSynt(t), true, m), m == 0 ? 1. : 0., 2e-6)
          << StringSBFilter(t) << " shift " << m;
  for (type_sb_filter t : {F_LEMARIE_1, F_LEMARIE_3, F_LEMARIE_5}) {
    FilterAnaSynt f(t);
    double sum = 0.;
    for (int k = 0; k < f.size_analysis(); k++) sum += f.analysis()[k];
    EXPECT_NEAR(sum, std::sqrt(2.), 3e-4) << StringSBFilter(t);
    // Truncated infinite filters: orthonormal to the accuracy of the cut.
    for (int m = 0; m <= 5; m++)
      EXPECT_NEAR(cross(f, false, m), m == 0 ? 1. : 0., 1e-3) << StringSBFilter(t) << " " << m;
  }
}

TEST(FilterSets, NamesComplementAndFilterOption) {
  EXPECT_STREQ(StringSBFilter(F_USER), "User's filters");
  EXPECT_STREQ(StringSBFilter(type_sb_filter(14)), "Undefined sub-band filters");
  testing::internal::CaptureStderr();
  sb_usage(F_MALLAT_7_9);
  std::string usage = testing::internal::GetCapturedStderr();
  EXPECT_NE(usage.find("              12: 3/5 filter \n"), std::string::npos);
  EXPECT_EQ(usage.find("13:"), std::string::npos);  // the 9/7 set is not offered
  for (int bad : {0, 14})
    EXPECT_EXIT_STATUS(FilterAnaSynt f{type_sb_filter(bad)}, 255, "Error: unknown filter");

  const float h[3] = {0.f, 0.70710677f, 0.70710677f};
  float g[3];
  filter_complement(h, g, 3, -1);
  EXPECT_EQ(std::vector<float>(g, g + 3), std::vector<float>({-0.70710677f, 0.70710677f, 0.f}));
  filter_complement(h, g, 3, 1);
  EXPECT_EQ(std::vector<float>(g, g + 3), std::vector<float>({0.70710677f, -0.70710677f, 0.f}));

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
    std::string templ = (std::filesystem::temp_directory_path() / "qzwvfXXXXXX").string();
    ASSERT_NE(mkdtemp(&templ[0]), nullptr);
    dir_ = templ;
    old_cwd_ = std::filesystem::current_path();
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
  std::string dir_;
  std::filesystem::path old_cwd_;
};

TEST_F(FilterFile, TapsAreCentredAndTheNormFollowsTheAnalysisTaps) {
  std::string path = write("pair.wvf", "0 1\n 0.5 0.25\n-2 2\n1 2 3 4 5\n trailing words");
  FilterAnaSynt f(path.substr(0, path.size() - 4).c_str());  // extension appended
  EXPECT_EQ(std::vector<float>(f.analysis(), f.analysis() + f.size_analysis()),
            std::vector<float>({0.f, 0.5f, 0.25f}));
  EXPECT_EQ(std::vector<int>({f.Start_Ana, f.size_synthesis(), f.Start_Synt}),
            std::vector<int>({-1, 5, -2}));
  FilterAnaSynt copy(f);  // owns its own taps
  f.reset_param();
  EXPECT_FLOAT_EQ(copy.analysis()[1], 0.5f);
  // The 5/3 set written as a file: the same taps, recognised as L1.
  FilterAnaSynt legall(
      write("legall.wvf", "-2 2 -0.125 0.25 0.75 0.25 -0.125 -1 1 0.25 0.5 0.25").c_str()),
      builtin(F_5_3);
  EXPECT_TRUE(std::equal(builtin.analysis(), builtin.analysis() + 5, legall.analysis()));
  EXPECT_TRUE(std::equal(builtin.synthesis(), builtin.synthesis() + 3, legall.synthesis()));
  EXPECT_EQ(legall.norm(), 0);

  // Sum 1 means L1, squares summing to 1 L2, equally close stays L2.
  EXPECT_EQ(FilterAnaSynt(write("l1.wvf", "-1 1 .25 .5 .25 0 0 1").c_str()).norm(), 0);
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
