// Whole runs of the qz_mca program on small synthetic FITS images written
// and read back with CFITSIO: output names, the sum of the outputs, the
// constraints, snapshots, mask and zoom invariants, and refused runs.
#include <fitsio.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "support/qz_mca_program.h"

namespace {

struct FitsImage {
  int nl = 0, nc = 0;
  std::vector<float> pixels;  // line after line
  std::vector<std::string> cards;
  float& at(int i, int j) { return pixels[static_cast<size_t>(i) * nc + j]; }
};

void write_fits(const std::string& path, FitsImage& ima, int bitpix) {
  fitsfile* f = nullptr;
  int status = 0;
  std::string name = "!" + path;
  fits_create_file(&f, name.c_str(), &status);
  long axes[2] = {ima.nc, ima.nl};
  fits_create_img(f, bitpix, 2, axes, &status);
  fits_update_key_str(f, "OBSERVER", "unit test", "written by CFITSIO", &status);
  fits_write_img(f, TFLOAT, 1, ima.pixels.size(), ima.pixels.data(), &status);
  fits_close_file(f, &status);
  ASSERT_EQ(status, 0) << path;
}

bool read_fits(const std::string& path, FitsImage& ima) {
  fitsfile* f = nullptr;
  int status = 0;
  if (fits_open_file(&f, path.c_str(), READONLY, &status)) return false;
  long axes[2] = {0, 0};
  int naxis = 0;
  fits_get_img_dim(f, &naxis, &status);
  fits_get_img_size(f, 2, axes, &status);
  ima.nc = static_cast<int>(axes[0]);
  ima.nl = static_cast<int>(axes[1]);
  ima.pixels.assign(static_cast<size_t>(ima.nl) * ima.nc, 0.f);
  int anynul = 0;
  fits_read_img(f, TFLOAT, 1, ima.pixels.size(), nullptr, ima.pixels.data(), &anynul, &status);
  int nkeys = 0;
  fits_get_hdrspace(f, &nkeys, nullptr, &status);
  char card[FLEN_CARD];
  for (int k = 1; k <= nkeys; k++) {
    fits_read_record(f, k, card, &status);
    ima.cards.push_back(card);
  }
  fits_close_file(f, &status);
  return status == 0 && naxis == 2;
}


// A background, a smooth bump, two point sources and unit Gaussian noise.
FitsImage synthetic(int n, unsigned seed, bool noise = true) {
  FitsImage ima;
  ima.nl = ima.nc = n;
  ima.pixels.assign(static_cast<size_t>(n) * n, 0.f);
  std::mt19937 gen(seed);
  std::normal_distribution<float> g(0.f, 1.f);
  for (int i = 0; i < n; i++)
    for (int j = 0; j < n; j++) {
      double r2 = (i - n / 2.) * (i - n / 2.) + (j - n / 3.) * (j - n / 3.);
      ima.at(i, j) = static_cast<float>(30. + 80. * std::exp(-r2 / 50.)) + (noise ? g(gen) : 0.f);
    }
  ima.at(6, 9) += 300.f;
  ima.at(n - 10, n - 7) += 200.f;
  return ima;
}

class QzMcaRun : public QzMcaProgram {};

}  // namespace

TEST_F(QzMcaRun, AtrousRunWritesComponentResidualAndSum) {
  FitsImage in = synthetic(64, 1);
  write_fits(path("in.fits"), in, FLOAT_IMG);
  ASSERT_EQ(run("-t 1 -i 20 -g 1 in.fits res.fits"), 0) << output_;
  FitsImage atrou, resi, sum;
  ASSERT_TRUE(read_fits(path("res_atrou.fits"), atrou));
  ASSERT_TRUE(read_fits(path("res_resi.fits"), resi));
  ASSERT_TRUE(read_fits(path("res.fits"), sum));
  EXPECT_FALSE(exists("xx_res.fits"));
  ASSERT_EQ(sum.nl, 64);
  ASSERT_EQ(sum.nc, 64);
  for (size_t k = 0; k < in.pixels.size(); k++) {
    EXPECT_NEAR(sum.pixels[k] + resi.pixels[k], in.pixels[k], 1e-4f * std::fabs(in.pixels[k]) + 1e-4f);
    EXPECT_EQ(sum.pixels[k], atrou.pixels[k]);  // one base: the sum is the component
    EXPECT_GE(atrou.pixels[k], 0.f);
  }
  // The residual is noise-like once the sources are taken.
  double sum2 = 0;
  for (float r : resi.pixels) sum2 += double(r) * r;
  EXPECT_LT(std::sqrt(sum2 / resi.pixels.size()), 2.0);
  // The header of the input travels with the results, with the command line.
  bool observer = false, history = false;
  for (auto& card : sum.cards) {
    observer = observer || card.find("OBSERVER= 'unit test'") == 0;
    history = history || (card.find("HISTORY") == 0 && card.find("-t 1 -i 20") != std::string::npos);
  }
  EXPECT_TRUE(observer);
  EXPECT_TRUE(history);
}

TEST_F(QzMcaRun, IntegerInputGivesFloatResultsThatStillAddUp) {
  FitsImage in = synthetic(32, 2);
  for (float& p : in.pixels) p = std::round(p);
  write_fits(path("in16.fits"), in, SHORT_IMG);
  ASSERT_EQ(run("-t 1 -i 10 -g 1 in16.fits out"), 0) << output_;
  FitsImage sum, resi;
  ASSERT_TRUE(read_fits(path("out.fits"), sum));
  ASSERT_TRUE(read_fits(path("out_resi.fits"), resi));
  bool fractional = false;
  for (size_t k = 0; k < in.pixels.size(); k++) {
    EXPECT_NEAR(sum.pixels[k] + resi.pixels[k], in.pixels[k], 1e-3f);
    fractional = fractional || resi.pixels[k] != std::round(resi.pixels[k]);
  }
  EXPECT_TRUE(fractional);
}

TEST_F(QzMcaRun, VerboseLinearRunPrintsEveryIteration) {
  FitsImage in = synthetic(32, 3);
  write_fits(path("in.fits"), in, FLOAT_IMG);
  ASSERT_EQ(run("-t 1 -i 6 -g 1 -v in.fits out.fits"), 0) << output_;
  // One base: the default MOM descent is replaced by the linear one.
  EXPECT_EQ(output_.find("MOM calculation"), std::string::npos);
  for (int i = 1; i <= 6; i++)
    EXPECT_NE(output_.find("Iteration " + std::to_string(i) + " Lambda = "), std::string::npos) << i;
  EXPECT_EQ(output_.find("Iteration 7 "), std::string::npos);
  EXPECT_NE(output_.find("Iteration 6 Lambda = 3\n"), std::string::npos);
}

TEST_F(QzMcaRun, RemovedLastScaleReturnsInTheSum) {
  FitsImage in = synthetic(32, 4);
  write_fits(path("in.fits"), in, FLOAT_IMG);
  ASSERT_EQ(run("-t 1 -i 8 -g 1 -l -N in.fits out.fits"), 0) << output_;
  EXPECT_NE(output_.find("LAST SCALE"), std::string::npos);
  FitsImage sum, resi, atrou;
  ASSERT_TRUE(read_fits(path("out.fits"), sum));
  ASSERT_TRUE(read_fits(path("out_resi.fits"), resi));
  ASSERT_TRUE(read_fits(path("out_atrou.fits"), atrou));
  double component_mean = 0;
  for (size_t k = 0; k < in.pixels.size(); k++) {
    EXPECT_NEAR(sum.pixels[k] + resi.pixels[k], in.pixels[k], 1e-3f);
    component_mean += atrou.pixels[k];
  }
  // Without its coarsest scale the component holds no background.
  EXPECT_LT(std::fabs(component_mean / in.pixels.size()), 5.0);
}

TEST_F(QzMcaRun, KillLastScaleLeavesTheBackgroundInTheResidual) {
  FitsImage in = synthetic(32, 5);
  write_fits(path("in.fits"), in, FLOAT_IMG);
  ASSERT_EQ(run("-t 1 -i 8 -g 1 -K -P in.fits out.fits"), 0) << output_;
  FitsImage atrou, resi;
  ASSERT_TRUE(read_fits(path("out_atrou.fits"), atrou));
  ASSERT_TRUE(read_fits(path("out_resi.fits"), resi));
  double atrou_mean = 0, resi_mean = 0;
  bool negative = false;
  for (size_t k = 0; k < in.pixels.size(); k++) {
    atrou_mean += atrou.pixels[k];
    resi_mean += resi.pixels[k];
    negative = negative || atrou.pixels[k] < 0.f;
  }
  atrou_mean /= in.pixels.size();
  resi_mean /= in.pixels.size();
  EXPECT_LT(std::fabs(atrou_mean), 5.0);
  EXPECT_GT(resi_mean, 25.0);  // the background of 30 stayed behind
  EXPECT_TRUE(negative);       // -P lets the component go below zero
}

TEST_F(QzMcaRun, SnapshotsEveryFifthIteration) {
  FitsImage in = synthetic(32, 6);
  write_fits(path("in.fits"), in, FLOAT_IMG);
  ASSERT_EQ(run("-t 1 -i 12 -g 1 -w in.fits out.fits"), 0) << output_;
  for (const char* name : {"xx_atrou_5.fits", "xx_atrou_10.fits", "xx_resi_5.fits",
                           "xx_resi_10.fits", "xx_res.fits"})
    EXPECT_TRUE(exists(name)) << name;
  EXPECT_FALSE(exists("xx_atrou_15.fits"));
  EXPECT_FALSE(exists("xx_atrou_12.fits"));
}

TEST_F(QzMcaRun, MaskedPixelsArePrefilledAndLeftOutOfTheResidual) {
  FitsImage in = synthetic(48, 7);
  for (int i = 20; i < 26; i++)
    for (int j = 10; j < 30; j++) in.at(i, j) = 0.f;
  write_fits(path("in.fits"), in, FLOAT_IMG);
  ASSERT_EQ(run("-t 1 -i 10 -g 1 -H -v in.fits out.fits"), 0) << output_;
  EXPECT_NE(output_.find("Number of missing data = "), std::string::npos);
  FitsImage filled, resi, sum;
  ASSERT_TRUE(read_fits(path("xx_interp.fits"), filled));
  ASSERT_TRUE(read_fits(path("out_resi.fits"), resi));
  ASSERT_TRUE(read_fits(path("out.fits"), sum));
  for (float p : filled.pixels) EXPECT_NE(p, 0.f);
  for (int i = 0; i < 48; i++)
    for (int j = 0; j < 48; j++) {
      bool missing = (i >= 20 && i < 26 && j >= 10 && j < 30) || i == 0 || j == 0 || i == 47 || j == 47;
      if (missing) {
        EXPECT_EQ(resi.at(i, j), 0.f) << i << "," << j;
      }
    }
  // In-painted: the gap in the sum follows the smooth bump, not zero.
  EXPECT_GT(sum.at(23, 20), 30.f);
}

TEST_F(QzMcaRun, ZoomKeepsBlockMeansOfTheLowResolutionImage) {
  FitsImage in = synthetic(16, 8);
  write_fits(path("in.fits"), in, FLOAT_IMG);
  ASSERT_EQ(run("-t 1 -i 6 -g 1 -I in.fits out.fits"), 0) << output_;
  FitsImage sum, resi;
  ASSERT_TRUE(read_fits(path("out.fits"), sum));
  ASSERT_TRUE(read_fits(path("out_resi.fits"), resi));
  ASSERT_EQ(sum.nl, 64);
  ASSERT_EQ(sum.nc, 64);
  for (int bi = 0; bi < 16; bi++)
    for (int bj = 0; bj < 16; bj++) {
      double block = 0;
      for (int i = 0; i < 4; i++)
        for (int j = 0; j < 4; j++) {
          block += sum.at(4 * bi + i, 4 * bj + j);
          EXPECT_EQ(resi.at(4 * bi + i, 4 * bj + j), resi.at(4 * bi, 4 * bj));
        }
      EXPECT_NEAR(block / 16 + resi.at(4 * bi, 4 * bj), in.at(bi, bj), 1e-3f * std::fabs(in.at(bi, bj)));
    }
}

TEST_F(QzMcaRun, EstimatedNoiseOnANoiselessImageStopsWithoutOutput) {
  FitsImage in;
  in.nl = in.nc = 32;
  in.pixels.assign(32 * 32, 12.f);
  write_fits(path("flat.fits"), in, FLOAT_IMG);
  EXPECT_EQ(run("-t 1 -i 5 -g 0 flat.fits out.fits"), 255);
  EXPECT_NE(output_.find("noise"), std::string::npos) << output_;
  EXPECT_FALSE(exists("out.fits"));
  EXPECT_FALSE(exists("out_atrou.fits"));

  FitsImage noisy = synthetic(32, 9);
  write_fits(path("noisy.fits"), noisy, FLOAT_IMG);
  ASSERT_EQ(run("-t 1 -i 5 -g 0 -v noisy.fits out.fits"), 0) << output_;
  size_t pos = output_.find(" Estimated Noise = ");
  ASSERT_NE(pos, std::string::npos);
  float sigma = std::stof(output_.substr(pos + 19));
  EXPECT_NEAR(sigma, 1.f, 0.3f);
}

TEST_F(QzMcaRun, RefusedRuns) {
  FitsImage in = synthetic(16, 10);
  write_fits(path("in.fits"), in, FLOAT_IMG);
  // The default dictionary needs the curvelet base.
  EXPECT_EQ(run("in.fits out.fits"), 255);
  EXPECT_NE(output_.find("Curvelet transform 02"), std::string::npos) << output_;
  EXPECT_EQ(run("-t 1 -n 9 in.fits out.fits"), 255);
  EXPECT_EQ(run("-t 1 in.fits out.fits extra"), 255);
  EXPECT_NE(output_.find("Too many parameters: extra ..."), std::string::npos);
  EXPECT_EQ(run("-X -t 1 in.fits out.fits"), 255);
  EXPECT_NE(run("-t 1 missing.fits out.fits"), 0);
  EXPECT_FALSE(exists("out.fits"));
}
