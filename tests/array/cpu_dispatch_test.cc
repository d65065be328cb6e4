// The instruction-set dispatch: QZ_PLAIN_LOOPS sends every dispatched loop
// to its base entry, at start-up and when read again, and the dispatched
// transforms give the same bits through either entry.
#include "array/cpu_dispatch.h"

#include <gtest/gtest.h>

#include <complex>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "filters/wt1d_fft.h"
#include "multires/atrous_2d_wt.h"
#include "numerics/fftn_2d.h"
#include "numerics/local_dct2d.h"
#include "numerics/short_fft.h"
#include "support/dispatch_switch.h"
#include "support/test_images.h"

namespace {

const char* const kSwitch = qz_test::DispatchSwitch::kName;
using SwitchSetting = qz_test::DispatchSwitch;
using qz_test::hardware_avx2;

struct SwitchCase {
  const char* value;  // nullptr: not set
  bool plain;
};
const SwitchCase kSwitchCases[] = {
    {nullptr, false}, {"", false}, {"0", false}, {"1", true}, {"yes", true},
};

std::vector<float> floats_of(const to_array<float, false>& a) {
  return std::vector<float>(a.buffer(), a.buffer() + a.n_elem());
}
std::vector<float> floats_of(const to_array<std::complex<float>, false>& a) {
  const float* p = reinterpret_cast<const float*>(a.buffer());
  return std::vector<float>(p, p + 2 * static_cast<size_t>(a.n_elem()));
}

// Forward then inverse, both results kept.
std::vector<float> fft_both_ways(int nl, int nc) {
  auto data = random_complex_image(nl, nc, 7);
  FFTN_2D fft;
  fft.fftn2d(data, False);
  std::vector<float> bits = floats_of(data);
  fft.fftn2d(data, True);
  std::vector<float> back = floats_of(data);
  bits.insert(bits.end(), back.begin(), back.end());
  return bits;
}

std::vector<float> local_dct_both_ways() {
  auto ima = random_image(64, 96, 3);
  LOCAL_DCT2D dct;
  dct.alloc(64, 96, 16, True, False);
  dct.transform(ima);
  std::vector<float> bits = floats_of(dct.DCTIma);
  to_array<float, false> back;
  dct.recons(back);
  std::vector<float> rec = floats_of(back);
  bits.insert(bits.end(), rec.begin(), rec.end());
  return bits;
}

std::vector<float> atrous_bands(int nl, int nc) {
  const int scales = 5;
  const auto ima = random_image(nl, nc, 4);
  ATROUS_2D_WT at;
  to_array<float, false>* bands = nullptr;
  at.alloc(bands, nl, nc, scales);
  at.transform(ima, bands, scales);
  std::vector<float> bits;
  for (int s = 0; s < scales; s++) {
    std::vector<float> band = floats_of(bands[s]);
    bits.insert(bits.end(), band.begin(), band.end());
  }
  to_array<float, false> rec(nl, nc);
  at.recons(bands, rec, scales, True);
  std::vector<float> back = floats_of(rec);
  bits.insert(bits.end(), back.begin(), back.end());
  at.free(bands, scales);
  return bits;
}

// Both directions of the short-line FFT over every length the ridgelet
// blocks use and a longer one, several lines per call.
std::vector<float> short_fft_lines() {
  ShortFFT fft;
  std::vector<float> bits;
  for (int n : {2, 4, 8, 16, 32, 64, 256})
    for (int sign : {1, -1}) {
      const auto lines = random_image(3, 2 * n, 5u + unsigned(n));
      std::vector<float> values = floats_of(lines);
      fft.transform_lines(values.data(), n, 3, sign);
      bits.insert(bits.end(), values.begin(), values.end());
    }
  return bits;
}

// The Fourier-domain 1D wavelet of many lines, whose inverse FFTs are
// unscrambled into the bands: every power-of-two length from the shortest
// the unscrambling takes, with line counts that leave a lone last line and
// lines beyond the last whole group.
std::vector<float> wavelet_lines() {
  std::vector<float> bits;
  for (int n : {4, 8, 16, 32, 64, 128, 256})
    for (int lines : {7, 16, 21}) {
      const int scales = 3;
      WT1D_FFT wt(2, scales, n);
      const int stride = wt.pyr_np() + 5;
      const auto values = random_image(lines, 2 * n, 9u + unsigned(n));
      std::vector<std::complex<float>> spectra(size_t(lines) * n);
      for (size_t k = 0; k < spectra.size(); k++)
        spectra[k] = {values.buffer()[2 * k], values.buffer()[2 * k + 1]};
      std::vector<float> trans(size_t(lines) * stride, 0.f);
      std::vector<float*> bands;
      for (int b = 0; b < scales; b++) bands.push_back(trans.data() + wt.pyr_pos(b));
      wt.transform_cf_lines(spectra.data(), lines, n, bands.data(), stride, scales);
      bits.insert(bits.end(), trans.begin(), trans.end());
    }
  return bits;
}

struct DispatchedTransform {
  const char* name;
  std::function<std::vector<float>()> run;
};

}  // namespace

TEST(CpuDispatch, SwitchChoosesThePlainEntries) {
  for (const SwitchCase& c : kSwitchCases) {
    SwitchSetting setting(c.value);
    EXPECT_EQ(cpu_has_avx2(), !c.plain && hardware_avx2())
        << kSwitch << "=" << (c.value ? c.value : "(not set)");
  }
}

TEST(CpuDispatch, NewProcessReadsTheSwitchAtStartUp) {
  // The threadsafe style runs the statement in a newly started process, so
  // the choice is made there from the environment alone, never read again.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  for (const SwitchCase& c : kSwitchCases) {
    SwitchSetting setting(c.value, false);
    const bool expected = !c.plain && hardware_avx2();
    EXPECT_EXIT(std::exit(cpu_has_avx2() == expected ? 0 : 1), ::testing::ExitedWithCode(0), "")
        << kSwitch << "=" << (c.value ? c.value : "(not set)");
  }
}

TEST(CpuDispatch, TransformsGiveTheSameBitsThroughEitherEntry) {
  if (!hardware_avx2()) GTEST_SKIP() << "this processor has no AVX2: one entry only";
  // Radix-2 sides below and above the parallel threshold, from the smallest
  // that goes through lanes (four lines at a time in the base entry, eight
  // with AVX2) and with log2 n of every remainder by three (the butterfly
  // stages go three at a time), mixed-radix sides with factors 2, 3, 4 and 5
  // and with the general factors 7 and 11, the local DCT and the a trous
  // transform, on one thread and on lines shared among the threads.
  const DispatchedTransform transforms[] = {
      {"radix-2 FFT 16", [] { return fft_both_ways(16, 16); }},
      {"radix-2 FFT 32", [] { return fft_both_ways(32, 32); }},
      {"radix-2 FFT 64", [] { return fft_both_ways(64, 64); }},
      {"radix-2 FFT 256", [] { return fft_both_ways(256, 256); }},
      {"radix-2 FFT 512", [] { return fft_both_ways(512, 512); }},
      {"mixed-radix FFT 60 x 45", [] { return fft_both_ways(60, 45); }},
      {"mixed-radix FFT 48 x 80", [] { return fft_both_ways(48, 80); }},
      {"mixed-radix FFT 56 x 77", [] { return fft_both_ways(56, 77); }},
      {"local DCT", local_dct_both_ways},
      {"a trous", [] { return atrous_bands(70, 53); }},
      {"a trous on lines shared among threads", [] { return atrous_bands(263, 257); }},
      {"short-line FFT", short_fft_lines},
      {"Fourier-domain 1D wavelet of many lines", wavelet_lines},
  };
  for (const DispatchedTransform& t : transforms) {
    std::vector<float> avx2, plain;
    {
      SwitchSetting setting("0");
      ASSERT_TRUE(cpu_has_avx2());
      avx2 = t.run();
    }
    {
      SwitchSetting setting("1");
      ASSERT_FALSE(cpu_has_avx2());
      plain = t.run();
    }
    ASSERT_EQ(avx2.size(), plain.size()) << t.name;
    size_t differing = 0;
    for (size_t k = 0; k < avx2.size(); k++)
      if (std::memcmp(&avx2[k], &plain[k], sizeof(float)) != 0) differing++;
    EXPECT_EQ(differing, 0u) << t.name << ": values whose bits differ between the entries";
  }
}
