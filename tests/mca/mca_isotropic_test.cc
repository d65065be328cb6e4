// The isotropic power-spectrum constraint, checked against a direct DFT of
// its result: zero mean, equal power at frequencies on the same ring, the
// phases of the input kept; and the power-spectrum base (11), selected
// through TabSelect, whose component only takes the residual and the
// constraint.
#include "mca/mca_isotropic.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>

#include "mca/mca.h"
#include "support/test_images.h"

namespace {

using Image = to_array<float, false>;

// Direct DFT coefficient (k, l) of an image, in long double.
std::complex<long double> dft(const Image& ima, int k, int l) {
  const long double pi = 3.141592653589793238462643383279502884L;
  std::complex<long double> sum = 0;
  for (int i = 0; i < ima.nl(); i++)
    for (int j = 0; j < ima.nc(); j++) {
      const long double a = -2 * pi * (static_cast<long double>(k) * i / ima.nl() +
                                       static_cast<long double>(l) * j / ima.nc());
      sum += static_cast<long double>(ima(i, j)) * std::complex<long double>(std::cos(a), std::sin(a));
    }
  return sum;
}

TEST(IsotropicConstraint, PowerDependsOnTheRadiusOnlyAndPhasesStay) {
  const int n = 16;
  Image ima = random_image(n, n, 17, 0.f, 10.f);
  // Directional content: stripes along the columns.
  for (int i = 0; i < n; i++)
    for (int j = 0; j < n; j++) ima(i, j) += 5.f * std::cos(2 * 3.14159265f * 3 * j / n);
  const Image input = ima;
  contraint_isotrop_fft(ima, False);

  double mean = 0;
  for (int k = 0; k < ima.n_elem(); k++) mean += ima(k);
  EXPECT_NEAR(mean / ima.n_elem(), 0., 1e-4);

  // Frequencies with the same radius: (k, l), (l, k), (-k, l), (k, -l).
  const int pairs[][2] = {{1, 2}, {3, 0}, {2, 5}, {4, 4}, {1, 6}};
  for (const auto& f : pairs) {
    const int k = f[0], l = f[1];
    const long double p = std::norm(dft(ima, k, l));
    for (auto [a, b] : {std::pair{l, k}, {n - k, l}, {k, n - l}}) {
      const long double q = std::norm(dft(ima, a, b));
      EXPECT_NEAR(static_cast<double>(q), static_cast<double>(p), 1e-3 * static_cast<double>(p) + 1e-3)
          << k << "," << l << " vs " << a << "," << b;
    }
    // The phase is the input's.
    const double phase_out = std::arg(std::complex<double>(dft(ima, k, l)));
    const double phase_in = std::arg(std::complex<double>(dft(input, k, l)));
    EXPECT_NEAR(std::remainder(phase_out - phase_in, 2 * M_PI), 0., 1e-3) << k << "," << l;
  }
  // The stripes' frequency no longer stands out from its ring.
  const double stripe = static_cast<double>(std::norm(dft(input, 0, 3)));
  EXPECT_LT(static_cast<double>(std::norm(dft(ima, 0, 3))), 0.5 * stripe);
}

TEST(IsotropicConstraint, NonSquareAndTinyImagesKeepPhaseAndLoseTheirMean) {
  for (auto [nl, nc] : {std::pair{16, 24}, {24, 16}, {2, 2}, {3, 5}}) {
    Image ima = random_image(nl, nc, 5, 1.f, 4.f);
    const Image input = ima;
    contraint_isotrop_fft(ima, False);
    double mean = 0;
    for (int k = 0; k < ima.n_elem(); k++) {
      ASSERT_TRUE(std::isfinite(ima(k))) << nl << "x" << nc;
      mean += ima(k);
    }
    EXPECT_NEAR(mean / ima.n_elem(), 0., 1e-4) << nl << "x" << nc;
    const std::complex<long double> out = dft(ima, 1, 1), in = dft(input, 1, 1);
    if (std::abs(out) > 1e-3L) {
      const double turn = std::arg(std::complex<double>(out)) - std::arg(std::complex<double>(in));
      EXPECT_NEAR(std::remainder(turn, 2 * M_PI), 0., 1e-3) << nl << "x" << nc;
    }
  }
}

TEST(IsotropicConstraint, PowerSpectrumBaseTakesTheResidualAndTheConstraint) {
  const int n = 32;
  MCA mca;
  mca.NbrBase = 2;
  mca.TabSelect[0] = MCA_ATROU;
  mca.TabSelect[1] = MCA_PS;
  mca.Noise_Ima = 1.f;
  mca.Nbr_Iter = 4;
  mca.T_Decreasing = 0;
  mca.RemoveLastScale = 0;
  mca.CosIsotrop = 1;
  mca.alloc(n, n, nullptr);
  Image data = random_image(n, n, 23, -3.f, 3.f);
  for (int i = 0; i < n; i++) data(i, n / 2) += 40.f;
  mca.decomposition(data);
  const Image& ps = mca.TabImaRec[1];
  double mean = 0, energy = 0;
  for (int k = 0; k < ps.n_elem(); k++) {
    mean += ps(k);
    energy += ps(k) * ps(k);
  }
  EXPECT_NEAR(mean / ps.n_elem(), 0., 1e-4);
  EXPECT_GT(energy, 0.);
  // Its spectrum is isotropic.
  const long double p = std::norm(dft(ps, 2, 5)), q = std::norm(dft(ps, 5, 2));
  EXPECT_NEAR(static_cast<double>(q), static_cast<double>(p), 1e-3 * static_cast<double>(p) + 1e-3);
  EXPECT_TRUE(std::isfinite(mca.Resi.maxfabs()));
}

}  // namespace
