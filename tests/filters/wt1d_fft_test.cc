// Fourier-domain 1D transform: the filters against the closed-form B3
// spline and their identities, the spectrum cuts, the first two bands
// against a brute-force DFT, reconstruction, zero details of a constant,
// the tabulated filters against the filters evaluated per sample, the
// many-line forms against the one-line forms, and the refusals.
#include "filters/wt1d_fft.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <vector>

#include "support/death.h"
#include "support/tolerance.h"
#include "wt1d_test_banks.h"

namespace {

// The cubic B-spline by its pieces.
double b3_closed_form(double x) {
  x = std::fabs(x);
  if (x < 1) return 2. / 3 - x * x + x * x * x / 2;
  if (x < 2) return (2 - x) * (2 - x) * (2 - x) / 6;
  return 0.;
}
double phi_ref(double nu, int n) { return 1.5 * b3_closed_form(4 * nu / n); }
double h_ref(double nu, int n) {
  if (2 * nu < -(n / 2) || 2 * nu >= n / 2 || phi_ref(nu, n) < 6e-8) return 0.;
  return phi_ref(2 * nu, n) / phi_ref(nu, n);
}

// Centred spectrum of x: value i is frequency i - n/2, kernel exp(+2 pi i f j / n).
std::vector<std::complex<double>> centred_dft(const std::vector<double>& x) {
  int n = int(x.size());
  std::vector<std::complex<double>> X(n);
  for (int i = 0; i < n; i++)
    for (int j = 0; j < n; j++) X[i] += x[j] * std::polar(1., 2 * M_PI * (i - n / 2) * j / n);
  return X;
}
// Real part of the inverse of a centred spectrum.
std::vector<double> centred_idft_real(const std::vector<std::complex<double>>& X) {
  int n = int(X.size());
  std::vector<double> x(n);
  for (int j = 0; j < n; j++) {
    std::complex<double> sum;
    for (int i = 0; i < n; i++) sum += X[i] * std::polar(1., -2 * M_PI * (i - n / 2) * j / n);
    x[j] = sum.real() / n;
  }
  return x;
}

}  // namespace

TEST(WT1DFFT, FiltersMatchTheClosedFormSplineAndTheirIdentities) {
  for (int n : {8, 64, 255})
    for (int type : {1, 2, 3}) {
      WT1D_FFT wt(type, 3, n);
      EXPECT_EQ(wt.scaling_function(0.f, n), 1.f);
      EXPECT_EQ(wt.filter_h(0.f, n), 1.f);
      EXPECT_EQ(wt.filter_g(0.f, n), 0.f);
      for (float nu = -float(n); nu <= float(n); nu += 0.5f) {
        SCOPED_TRACE(testing::Message() << "type " << type << " N " << n << " nu " << nu);
        float h = wt.filter_h(nu, n), g = wt.filter_g(nu, n);
        EXPECT_NEAR(wt.scaling_function(nu, n), phi_ref(nu, n), 1e-6);
        EXPECT_NEAR(h, h_ref(nu, n), 2e-6);
        // Outside -(N/2) <= 2 nu < N/2 (integer N/2) nothing passes the low band.
        if (2 * nu >= n / 2 || 2 * nu < -(n / 2)) {
          EXPECT_EQ(h, 0.f);
          EXPECT_EQ(g, 1.f);
        }
        if (type == 3) {
          EXPECT_NEAR(h * h + g * g, 1.f, 1e-6);
          EXPECT_EQ(wt.filter_h_tilde(nu, n), h);
          EXPECT_EQ(wt.filter_g_tilde(nu, n), g);
          EXPECT_NEAR(wt.filter_wavelet(nu, n),
                      phi_ref(nu / 2, n) * phi_ref(nu / 2, n) - phi_ref(nu, n) * phi_ref(nu, n),
                      2e-6);
        } else {
          EXPECT_EQ(h + g, 1.f);
          // The synthesis pair inverts the analysis pair.
          EXPECT_NEAR(wt.filter_h_tilde(nu, n) * h + wt.filter_g_tilde(nu, n) * g, 1.f, 1e-6);
          EXPECT_NEAR(wt.filter_wavelet(nu, n), phi_ref(nu / 2, n) - phi_ref(nu, n), 2e-6);
        }
      }
    }
}

TEST(WT1DFFT, CreateFilterEvaluatesTheCentredFrequencies) {
  WT1D_FFT wt(2, 3, 8);
  for (type_wt_filter kind : {WT_PHI, WT_PSI, WT_H, WT_H_TILDE, WT_G, WT_G_TILDE}) {
    to_array<float, true> f(8);
    wt.create_filter(f, kind);
    for (int i = 0; i < 8; i++) EXPECT_EQ(f(i), wt.filter(kind, float(i - 4), 8)) << kind;
  }
}

TEST(WT1DFFT, SpectrumCutsKeepAndCentreTheMiddle) {
  WT1D_FFT wt(2, 3, 8);
  to_array<std::complex<float>, true> c(8);
  for (int i = 0; i < 8; i++) c(i) = float(i);
  wt.under_sampling_2(c);  // indices 2 to 5
  ASSERT_EQ(c.nx(), 4);
  for (int i = 0; i < 4; i++) EXPECT_EQ(c(i).real(), float(i + 2));
  wt.over_sampling_2(c, True);  // 7 values, the data at 1 to 4
  std::vector<std::complex<float>> expected = {0.f, 2.f, 3.f, 4.f, 5.f, 0.f, 0.f};
  EXPECT_EQ(pixels(c), expected);
  // Six values: the zero frequency (index 3) stays at the centre of the cut,
  // where starting at 6/4 would have moved it.
  to_array<std::complex<float>, true> six(6);
  for (int i = 0; i < 6; i++) six(i) = float(i);
  wt.under_sampling_2(six);
  EXPECT_EQ(pixels(six), std::vector<std::complex<float>>({2.f, 3.f, 4.f}));
  wt.over_sampling_2(six, False);
  EXPECT_EQ(pixels(six), std::vector<std::complex<float>>({0.f, 0.f, 2.f, 3.f, 4.f, 0.f}));
}

TEST(WT1DFFT, FirstBandsAgainstABruteForceDft) {
  const int n = 16;
  to_array<float, true> x = random_signal_array(n, 13), undec, pyr;
  std::vector<double> xd(x.buffer(), x.buffer() + n);
  std::vector<std::complex<double>> X = centred_dft(xd), detail0(n), detail1(n / 2);
  for (int i = 0; i < n; i++) detail0[i] = (1 - h_ref(i - n / 2, n)) * X[i];
  // Scale 1: the central half of the low-passed spectrum, filters at 2f.
  for (int i = 0; i < n / 2; i++) {
    int f = i - n / 4;
    detail1[i] = h_ref(f, n) * (1 - h_ref(2 * f, n)) * X[i + n / 4];
  }
  std::vector<double> band0 = centred_idft_real(detail0), band1 = centred_idft_real(detail1);

  WT1D_FFT wt1(1, 3, n), wt2(2, 3, n);
  wt1.transform(x, undec, 3);
  wt2.transform(x, pyr, 3);
  ASSERT_EQ(pyr.nx(), 16 + 8 + 4);
  for (int i = 0; i < n; i++) {
    EXPECT_NEAR(undec(i, 0), band0[i], 1e-5) << i;
    EXPECT_NEAR(pyr(wt2.pyr_pos(0) + i), band0[i], 1e-5) << i;
  }
  for (int i = 0; i < n / 2; i++) EXPECT_NEAR(pyr(wt2.pyr_pos(1) + i), band1[i] / 2, 1e-5) << i;
}

// Many lines at once, whose inverse FFTs go two lines to one transform
// and are unscrambled from bit-reversed order into the bands: every line's
// first band is the real part of the inverse DFT of its spectrum times
// 1 - h. 37 lines leave a lone last line, and groups of lines beyond the
// last whole group of the short lengths.
TEST(WT1DFFT, ManyLinesFirstBandsAgainstABruteForceDft) {
  const int lines = 37;
  for (int n : {4, 8, 16, 32, 64, 128, 256}) {
    WT1D_FFT wt(2, 2, n);
    const int stride = wt.pyr_np();
    to_array<float, true> noise = random_signal_array(2 * lines * n, 60u + unsigned(n));
    std::vector<std::complex<float>> spectra(size_t(lines) * n);
    for (size_t k = 0; k < spectra.size(); k++)
      spectra[k] = std::complex<float>(noise(int(2 * k)), noise(int(2 * k + 1)));
    const std::vector<std::complex<float>> input = spectra;
    // A line more, which the lone last line's missing partner must leave.
    std::vector<float> trans(size_t(lines + 1) * stride, 7.f);
    float* bands[2] = {trans.data() + wt.pyr_pos(0), trans.data() + wt.pyr_pos(1)};
    wt.transform_cf_lines(spectra.data(), lines, n, bands, stride, 2);
    const std::vector<float> beyond(trans.end() - stride, trans.end());
    EXPECT_EQ(beyond, std::vector<float>(stride, 7.f)) << "n " << n;
    for (int l = 0; l < lines; l++) {
      std::vector<std::complex<double>> detail(n);
      for (int i = 0; i < n; i++)
        detail[i] = (1 - h_ref(i - n / 2, n)) * std::complex<double>(input[size_t(l) * n + i]);
      const std::vector<double> band = centred_idft_real(detail);
      // The bands are centred too: value i is sample i - n/2.
      const float* row = trans.data() + size_t(l) * stride + wt.pyr_pos(0);
      for (int i = 0; i < n; i++)
        ASSERT_NEAR(row[i], band[(i + n / 2) % n], 1e-5)
            << "n " << n << " line " << l << " value " << i;
    }
  }
}

TEST(WT1DFFT, UndecimatedColumnsSumToTheSignal) {
  for (int n : {64, 37}) {
    WT1D_FFT wt(1, 4, n);
    to_array<float, true> x = random_signal_array(n, 14), trans, back;
    wt.transform(x, trans, 4);
    ASSERT_EQ(trans.nx(), n);
    ASSERT_EQ(trans.ny(), 4);
    for (int i = 0; i < n; i++)
      EXPECT_NEAR(trans(i, 0) + trans(i, 1) + trans(i, 2) + trans(i, 3), x(i), 1e-5);
    wt.recons(trans, back, 4);
    EXPECT_LT(qz_test::max_abs_difference(back, x), 1e-5);
  }
}

TEST(WT1DFFT, PyramidsReconstructForEveryLength) {
  // 100 and 37 pass through levels of 50 and 10 samples (2 mod 4).
  for (int type : {2, 3})
    for (auto [n, scales] : {std::pair{256, 4}, {64, 6}, {16, 2}, {100, 4}, {37, 4}, {255, 5}}) {
      WT1D_FFT wt(type, scales, n);
      // The object keeps its tables and buffers from one signal to the next.
      for (unsigned seed : {15, 16}) {
        to_array<float, true> x = random_signal_array(n, seed), trans, back(n);
        wt.transform(x, trans, scales);
        EXPECT_EQ(trans.nx(), wt.pyr_np());
        wt.recons(trans, back, scales);
        EXPECT_LT(qz_test::max_abs_difference(back, x), 2e-5) << type << " " << n;
      }
    }
  EXPECT_EQ(WT1D_FFT(2, 4, 256).pyr_np(), 480);
}

TEST(WT1DFFT, ConstantSignalGivesZeroDetails) {
  for (int type : {1, 2, 3}) {
    const int n = 32;
    WT1D_FFT wt(type, 3, n);
    to_array<float, true> x(n), trans;
    x.init(4.f);
    wt.transform(x, trans, 3);
    int details = type == 1 ? 2 * n : wt.pyr_size(0) + wt.pyr_size(1);
    int first = type == 1 ? 0 : wt.pyr_pos(1);
    for (int k = first; k < first + details; k++)
      EXPECT_NEAR(trans(k), 0.f, 1e-5) << type << " " << k;
  }
}

TEST(WT1DFFT, TabulatedFiltersGiveTheProductsOfFiltersEvaluatedPerSample) {
  WT1D_FFT wt(2, 4, 64);
  for (int n : {64, 32, 64, 20})
    for (int s : {0, 1, 3})
      for (Bool direct : {True, False}) {
        to_array<std::complex<float>, true> low(n), high;
        for (int i = 0; i < n; i++) low(i) = std::complex<float>(float(i % 7) - 3.f, 0.5f * i);
        high = low;
        to_array<std::complex<float>, true> expect_low = low, expect_high = high;
        int N = 64, step = 1 << s;
        for (int i = 0; i < n; i++) {
          int u = step * (i - n / 2);
          if (N / 2 + u < 0 || N / 2 + u >= N) {
            expect_low(i) = 0.f;
            continue;
          }
          expect_low(i) *= direct ? wt.filter_h(float(u), N) : wt.filter_h_tilde(float(u), N);
          expect_high(i) *= direct ? wt.filter_g(float(u), N) : wt.filter_g_tilde(float(u), N);
        }
        wt.wave_cf_mult(low, high, s, N, direct);
        EXPECT_EQ(pixels(low), pixels(expect_low)) << n << " " << s;
        EXPECT_EQ(pixels(high), pixels(expect_high)) << n << " " << s;
      }
}

// The many-line forms against the one-line forms, line by line: within
// float rounding (lines share their FFTs two by two, so a line's values
// carry the rounding of its partner's), for odd and even line counts,
// lengths through 2 mod 4 levels, and coefficient lines wider than the
// pyramid (whose extra values must stay untouched). A partner swapped, a
// sign lost or a line left out of its pair is off by the values themselves.
TEST(WT1DFFT, ManyLinesGiveTheValuesOfOneLineAtATime) {
  for (int type : {2, 3})
    for (auto [n, scales] : {std::pair{16, 3}, {32, 4}, {100, 4}, {37, 4}, {6, 2}, {64, 1},
                             {8, 2}, {128, 3}, {256, 2}})
      for (int lines : {1, 2, 16, 19}) {
        WT1D_FFT many(type, scales, n), one(type, scales, n);
        const int np = many.pyr_np(), stride = np + 3;
        std::vector<std::complex<float>> spectra(size_t(lines) * n);
        to_array<float, true> noise = random_signal_array(2 * lines * n, 40u + unsigned(n));
        for (size_t k = 0; k < spectra.size(); k++)
          spectra[k] = std::complex<float>(noise(int(2 * k)), noise(int(2 * k + 1)));
        const std::vector<std::complex<float>> input = spectra;
        std::vector<float> trans(size_t(lines) * stride, 7.f);
        std::vector<float*> bands;
        for (int b = 0; b < scales; b++) bands.push_back(trans.data() + many.pyr_pos(b));
        many.transform_cf_lines(spectra.data(), lines, n, bands.data(), stride, scales);
        std::vector<std::complex<float>> rebuilt(size_t(lines) * n);
        const std::vector<const float*> coefficients(bands.begin(), bands.end());
        many.recons_cf_lines(coefficients.data(), stride, lines, n, rebuilt.data(), scales);
        // Every part of every spectrum value lies in [-1, 1]: the rounding
        // bound needs no other scale.
        const double tolerance = 4 * qz_test::transform_tolerance<float>(n);
        for (int l = 0; l < lines; l++) {
          SCOPED_TRACE(testing::Message() << "type " << type << " n " << n << " line " << l
                                          << " of " << lines);
          to_array<std::complex<float>, true> tf(n), back(n);
          for (int i = 0; i < n; i++) tf(i) = input[size_t(l) * n + i];
          to_array<float, true> coef;
          one.transform_cf(tf, coef, scales);
          ASSERT_EQ(coef.nx(), np);
          const float* row = trans.data() + size_t(l) * stride;
          EXPECT_LE(qz_test::max_abs_difference(std::vector<float>(row, row + np), pixels(coef)),
                    tolerance);
          EXPECT_EQ(std::vector<float>(row + np, row + stride), std::vector<float>(3, 7.f));
          // The spectra of real lines: the one-line form's, up to rounding.
          one.recons_cf(coef, back, scales);
          const std::complex<float>* line = rebuilt.data() + size_t(l) * n;
          EXPECT_LE(qz_test::max_abs_difference(std::vector<std::complex<float>>(line, line + n),
                                                pixels(back)),
                    n * tolerance);
        }
      }
}

TEST(WT1DFFT, RefusesAWrongPyramidABadFilterAndABadWaveletType) {
  WT1D_FFT wt(2, 4, 64);
  to_array<float, true> pyramid(wt.pyr_np() - 1);
  to_array<std::complex<float>, true> spectrum(64);
  EXPECT_EXIT_STATUS(wt.recons_cf(pyramid, spectrum, 4), 255,
                     "PyrPixNbr and Trans.nx\\(\\) Pb(.|\n)*Trans.nx\\(\\) = 119(.|\n)*"
                     "PyrPixNbr = 120(.|\n)*N = 64  Nbr_Plan = 4");
  // An unknown filter kind used to end with status 0.
  EXPECT_EXIT_STATUS(wt.filter(type_wt_filter(6), 0.f, 64), 255, "Error: bad filter in filter");
  // The many-line forms serve the pyramids only.
  WT1D_FFT undecimated(1, 3, 16);
  std::vector<std::complex<float>> spectra(16);
  std::vector<float> coefficients(48);
  float* bands[3] = {coefficients.data(), coefficients.data() + 16, coefficients.data() + 32};
  EXPECT_EXIT_STATUS(undecimated.transform_cf_lines(spectra.data(), 1, 16, bands, 48, 3), 255,
                     "wavelet type 1 has no many-line transform");
  WT1D_FFT bad(4, 3, 16);
  EXPECT_EQ(bad.filter_h(0.f, 16), 1.f);
  EXPECT_EXIT_STATUS(bad.filter_g_tilde(0.f, 16), 255, "bad wavelet type in filter_g_tilde");
  // The transforms report an unknown type and leave the output alone.
  to_array<float, true> x(16), trans(3);
  testing::internal::CaptureStderr();
  bad.transform(x, trans, 3);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("Error: proc. wave_cf_transform."),
            std::string::npos);
  EXPECT_EQ(trans.nx(), 3);
}

// Two blocks' projections taken from samples of one 2D spectrum: the same
// bands as the many-line transform of each block's split line spectra, for
// lines whose samples and mirrors read opposite points (Hermitian line
// spectra), lines where they do not, and samples with no source; lengths
// even and odd, short and long enough for the samples to go two at a time
// and the inverse FFTs to be unscrambled by groups of lines or by lines.
TEST(WT1DFFT, BlockPairsFromA2DSpectrumGiveEachBlocksBands) {
  for (int N : {16, 15, 8, 32, 64, 13}) {
    SCOPED_TRACE(testing::Message() << "N = " << N);
    const int lines = 5, scales = 3, points = 97;
    std::mt19937 rng(11u + unsigned(N));
    std::uniform_real_distribution<float> value(-1.f, 1.f);
    std::uniform_int_distribution<int> point(0, points - 1);
    std::vector<std::complex<float>> spectrum(points);
    for (auto& v : spectrum) v = {value(rng), value(rng)};
    std::vector<int> source(lines * N), mirror(lines * N), even(lines * N, -1);
    const int mirror_sum = N % 2 == 0 ? N : N - 1;
    for (int l = 0; l < lines; l++)
      for (int c = 0; c < N; c++) {
        source[l * N + c] = (l + c) % 7 == 3 ? -1 : point(rng);
        mirror[l * N + c] = point(rng);
      }
    // Lines 0 to 2: every sample's mirror reads its opposite point.
    for (int l = 0; l < 3; l++)
      for (int c = 0; c < N; c++) {
        const int mc = mirror_sum - c, k = l * N + c;
        if (mc >= N) continue;
        if (source[k] < 0) source[k] = point(rng);
        mirror[k] = source[l * N + mc] >= 0 ? source[l * N + mc] : point(rng);
      }
    for (int l = 0; l < lines; l++)
      for (int c = 0; c < N; c++) {
        const int mc = mirror_sum - c, k = l * N + c, km = l * N + mc;
        if (mc < N && source[k] >= 0 && source[km] >= 0 && mirror[k] == source[km] &&
            mirror[km] == source[k])
          even[k] = source[k];
      }
    int even_count = 0;
    for (int e : even) even_count += e >= 0;
    ASSERT_GT(even_count, N);
    ASSERT_LT(even_count, lines * N - N);

    WT1D_FFT pair(2, scales, N), single(2, scales, N);
    const int np = pair.pyr_np();
    std::vector<std::complex<float>> work_a(lines * N), work_b(lines * N);
    std::vector<std::complex<float>> split_a(lines * N), split_b(lines * N);
    for (int k = 0; k < lines * N; k++) {
      if (source[k] < 0) continue;
      const std::complex<float> z = spectrum[source[k]], w = spectrum[mirror[k]];
      split_a[k] = {0.5f * (z.real() + w.real()), 0.5f * (z.imag() - w.imag())};
      split_b[k] = {0.5f * (z.imag() + w.imag()), 0.5f * (w.real() - z.real())};
    }
    std::vector<float> got_a(lines * np), got_b(lines * np), want_a(lines * np), want_b(lines * np);
    auto bands_of = [&](std::vector<float>& image) {
      std::vector<float*> bands(scales);
      for (int s = 0; s < scales; s++) bands[s] = image.data() + pair.pyr_pos(s);
      return bands;
    };
    auto ga = bands_of(got_a), gb = bands_of(got_b), wa = bands_of(want_a), wb = bands_of(want_b);
    pair.transform_cf_block_pair(spectrum.data(), source.data(), mirror.data(), even.data(), lines,
                                 N, ga.data(), gb.data(), np, scales, work_a.data(), work_b.data());
    single.transform_cf_lines(split_a.data(), lines, N, wa.data(), np, scales);
    single.transform_cf_lines(split_b.data(), lines, N, wb.data(), np, scales);
    const double tolerance = 8 * qz_test::transform_tolerance<float>(N);
    EXPECT_LE(qz_test::max_abs_difference(got_a, want_a), tolerance);
    EXPECT_LE(qz_test::max_abs_difference(got_b, want_b), tolerance);
  }
}
