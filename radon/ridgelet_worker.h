// Work space of one thread of the block ridgelet transform: its own Radon
// object (the Radon class keeps work arrays between calls) and the block
// buffers and 1D transforms it reuses from block to block.
#pragma once

#include <complex>
#include <memory>
#include <vector>

#include "array/to_array.h"
#include "filters/pyr1d_wt.h"
#include "filters/wt1d_fft.h"
#include "numerics/fftn_1d.h"
#include "radon/radon.h"

struct RidgeletWorker {
  Radon* radon = nullptr;         // the Ridgelet's own for thread 0
  std::unique_ptr<Radon> owned;   // the others'
  to_array<float, false> block, block2, ridblock, rad;
  std::vector<int> mirrored_columns;  // scratch of the blocks at the border
  std::vector<float> column_weights;  // scratch of the overlap weights
  std::vector<float*> bands;  // where each scale's band of the first line goes
  std::vector<const float*> coef_bands;  // where it is read back from
  to_array<std::complex<float>, false> spectra, spectra2;  // the second of a pair of blocks
  // One row of blocks' coefficients, Nlb lines laid out as in the ridgelet
  // image: the blocks write and read their short, far-apart band runs here,
  // in the cache, and the ridgelet image is written and read whole lines at
  // a time. row wraps row_values.
  std::vector<float> row_values;
  to_array<float, false> row;
  // A row of blocks of the ridgelet image itself, read in place.
  to_array<float, false> row_view;
  // A block reconstructed earlier, kept by the caller and read in place.
  to_array<float, false> made_view;
  to_array<float, true> signal, result;
  to_array<std::complex<float>, true> cline;
  FFTN_1D fft1d;
  // 1D transforms kept while the scale count and length stay the same.
  std::unique_ptr<WT1D_FFT> wt_fft;
  std::unique_ptr<PYR1D_WT> pyr;

  WT1D_FFT& wt1d_fft(int NbrScale, int N) {
    if (!wt_fft || wt_fft_scales != NbrScale || wt_fft_n != N) {
      wt_fft = std::make_unique<WT1D_FFT>(2, NbrScale, N);
      wt_fft_scales = NbrScale;
      wt_fft_n = N;
    }
    return *wt_fft;
  }
  PYR1D_WT& pyr1d(int NbrScale, int N) {
    if (!pyr || pyr_scales != NbrScale || pyr_n != N) {
      pyr = std::make_unique<PYR1D_WT>(0, NbrScale, N);
      pyr->ExtraSmooth = 1;
      pyr_scales = NbrScale;
      pyr_n = N;
    }
    return *pyr;
  }

 private:
  int wt_fft_scales = 0, wt_fft_n = 0, pyr_scales = 0, pyr_n = 0;
};
