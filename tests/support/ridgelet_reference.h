// The default ridgelet variant of one block by the one-line complex path,
// as a reference for the block transforms (which pair real lines in their
// FFTs): the linogram projection spectra of the block, then the
// Fourier-domain 1D wavelet transform of each projection on its own, with
// full complex FFTs; and back through the one-line reconstruction and the
// Radon reconstruction from the spectra.
#pragma once

#include <complex>

#include "array/to_array.h"
#include "filters/wt1d_fft.h"
#include "radon/radon.h"
#include "radon/ridgelet.h"

namespace qz_test {

// The Nlb x Ncb ridgelet block of a square block of side rid.BlockSize.
inline to_array<float, false> reference_block_transform(const Ridgelet& rid,
                                                        to_array<float, false>& block) {
  const int side = block.nl(), scales = rid.NbrScale1D;
  Radon radon;
  radon.alloc(side, side, RADON_FFT);
  to_array<std::complex<float>, false> spectra;
  radon.fft_trans_cf(block, spectra);
  WT1D_FFT wt(2, scales, side);
  to_array<float, false> out(spectra.nl(), 2 * side);
  for (int p = 0; p < spectra.nl(); p++) {
    to_array<std::complex<float>, true> line(side);
    for (int k = 0; k < side; k++) line(k) = spectra(p, k);
    to_array<float, true> pyramid;
    wt.transform_cf(line, pyramid, scales);
    for (int k = 0; k < pyramid.nx(); k++) out(p, k) = pyramid(k);
  }
  return out;
}

// The block of side Ncb / 2 that a ridgelet block stands for.
inline to_array<float, false> reference_block_recons(const Ridgelet& rid,
                                                     const to_array<float, false>& coef) {
  const int side = coef.nc() / 2, scales = rid.NbrScale1D;
  Radon radon;
  radon.alloc(side, side, RADON_FFT);
  WT1D_FFT wt(2, scales, side);
  to_array<std::complex<float>, false> spectra(coef.nl(), side);
  for (int p = 0; p < coef.nl(); p++) {
    to_array<float, true> pyramid(wt.pyr_np());
    for (int k = 0; k < pyramid.nx(); k++) pyramid(k) = coef(p, k);
    to_array<std::complex<float>, true> line(side);
    wt.recons_cf(pyramid, line, scales);
    for (int k = 0; k < side; k++) spectra(p, k) = line(k);
  }
  to_array<float, false> out;
  radon.fft_rec_cf(spectra, out);
  return out;
}

}  // namespace qz_test
