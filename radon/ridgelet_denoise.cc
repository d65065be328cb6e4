// Denoising by ridgelets, block by block: thresholding of the ridgelet
// coefficients, of the Radon coefficients alone, or of an undecimated 1D
// wavelet transform of the projections; with the option of leaving the
// smooth plane of the image out of the thresholding.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

#include "array/fatal.h"
#include "array/im_util.h"
#include "array/smoothing.h"
#include "filters/pave_1d_wt.h"
#include "filters/wt1d_fft.h"
#include "radon/ridgelet.h"

namespace {

// The noise norm of scale s of the undecimated FFT-based 1D transform; past
// the table each scale divides the last norm by sqrt(2), as set_tab_norm
// does, instead of reading beyond the table's end.
float undec_fft_norm(int s) {
  if (s < NBR_TAB_NORM_RID) return TabNormRid_PyrDiffResol[s];
  double norm = TabNormRid_PyrDiffResol[NBR_TAB_NORM_RID - 1];
  for (int k = NBR_TAB_NORM_RID; k <= s; k++) norm = static_cast<float>(norm / std::sqrt(2.));
  return static_cast<float>(norm);
}

}  // namespace

void Ridgelet::get_low_and_freq(to_array<float, false>& Ima, to_array<float, false>& Low,
                                to_array<float, false>& High, int /*B*/) {
  High = Ima;
  if (Low.naxis() != 2 || Low.nl() != Ima.nl() || Low.nc() != Ima.nc())
    Low.alloc(Ima.nl(), Ima.nc(), "Low");
  const int S = std::max(NbrScale1D, 4);
  for (int s = 0; s < S; s++) {
    smooth_bspline(High, Low, I_MIRROR, s);
    if (s != S - 1) High = Low;
  }
  High = Ima;
  High -= Low;
}

void Ridgelet::filtering_one_block(to_array<float, false>& Block, float Noise, float NSigma,
                                   to_array<float, true>* TabSigma) {
  to_array<float, false> rid_block;
  transform_one_block(Block, rid_block);
  const float level_noise = !VarianceStab && RidTrans != RID_SS_PYR_FFT
                                ? Noise * std::sqrt(static_cast<float>(Block.nc()))
                                : Noise;
  if (UpdateTabNorm) {
    if (TabSigma == nullptr) {
      set_tab_norm(NbrScale1D);
    } else if (TabSigma->naxis() == 1) {
      set_tab_norm_with_tab(NbrScale1D, *TabSigma);
    }
  }
  if (MadThreshold) {
    mad_threshold(rid_block, NSigma);
  } else {
    ksig_threshold(rid_block, level_noise, NSigma, nullptr);
  }
  if (NbrIter >= 2) iter_recons(rid_block, Block, Noise);
  else recons_one_block(rid_block, Block);
}

void Ridgelet::iter_recons(to_array<float, false>& Trans, to_array<float, false>& Ima,
                           float Lambda) {
  to_array<float, false> aux(Trans.nl(), Trans.nc(), "Rid aux");
  MR_Regul regul;
  regul.NbrScale = max_scale_number(std::min(Ima.nl(), Ima.nc()));
  regul.ThresholdDecay = True;
  const float level = RegulParam * Lambda;
  if (Verbose) std::printf("TV regul: Number of scales = %d Lambda = %g\n", regul.NbrScale, level);
  aux = Trans;
  recons_one_block(aux, Ima);
  threshold(Ima, 0.f);
  regul.im_soft_threshold(Ima, Ima, level, 0.f);

  const Bool verbose = Verbose;
  Verbose = False;
  double sigma = Ima.sigma();
  const float* known = Trans.buffer();
  for (int n = 1; n <= NbrIter; n++) {
    transform_one_block(Ima, aux);
    float* current = aux.buffer();
    for (int k = 0; k < aux.n_elem(); k++)
      if (std::fabs(known[k]) > 5.96047e-08f) current[k] = known[k];
    recons_one_block(aux, Ima);
    regul.im_soft_threshold(Ima, Ima, level, 0.f);
    threshold(Ima, 0.f);
    const double next = Ima.sigma();
    const double delta = std::fabs(sigma - next) / next;
    sigma = next;
    if (verbose) std::printf("Iter %d: Delta = %f\n", n, delta);
  }
  Verbose = verbose;
}

void Ridgelet::radon_filtering_one_block(to_array<float, false>& Block, float Noise,
                                         float NSigma) {
  to_array<float, false> rad;
  RadonTrans.transform(Block, rad);
  const float level_noise =
      !VarianceStab ? Noise * std::sqrt(static_cast<float>(Block.nc())) : Noise;
  const float level = level_noise * NSigma;
  float* c = rad.buffer();
  for (int k = 0; k < rad.n_elem(); k++)
    if (std::fabs(c[k]) < level) c[k] = 0.f;
  RadonTrans.recons(rad, Block);
}

void Ridgelet::undec_wt_filtering_one_block(to_array<float, false>& Block, float Noise,
                                            float NSigma) {
  switch (RidTrans) {
    case RID_UWT:
      if (SB1D == nullptr) fatal_exit("Error: filter bank class not initialized ... \n");
      FourierRadon = False;
      break;
    case RID_UWT_FFT: FourierRadon = True; break;
    case RID_OWT:
    case RID_PYR_FFT:
      fatal_exit("Error: decimated transform are not implemented in this routine  ... \n");
    default: fatal_exit("Error: unknown ridgelet transform ... \n");
  }
  RidClass = rid_class(RidTrans);
  if (Verbose) std::printf("Ridgelet transform ...\n");
  to_array<float, false> rad;
  RadonTrans.transform(Block, rad);
  const int Np = rad.nl(), N = rad.nc();
  if (Verbose)
    std::printf("Ouput image size: Nl = %d Nc = %d\nNumber of scales = %d\n", Np, N, NbrScale1D);
  float level_noise = Noise;
  if (!VarianceStab) {
    level_noise = Noise * std::sqrt(static_cast<float>(Block.nc()));
  } else {
    variance_stab(rad);
  }
  const float level = level_noise * NSigma;
  if (Verbose)
    std::printf("Detection level = %g\nUndecimated filtering: NbrScale = %d\n", level, NbrScale1D);
  if (NbrScale1D > 1) {
    std::unique_ptr<PAVE_1D_WT> pave;
    std::unique_ptr<WT1D_FFT> wt_fft;
    if (RidTrans == RID_UWT) {
      pave = std::make_unique<PAVE_1D_WT>(*SB1D);
    } else {
      wt_fft = std::make_unique<WT1D_FFT>(1, NbrScale1D, N);
    }
    to_array<float, true> signal(N, "signal"), trans;
    for (int p = 0; p < Np; p++) {
      for (int k = 0; k < N; k++) signal(k) = rad(p, k);
      if (pave) {
        pave->transform(signal, trans, NbrScale1D);
      } else {
        wt_fft->transform(signal, trans, NbrScale1D);
      }
      for (int s = 0; s < NbrScale1D - 1; s++) {
        const float level_s =
            RidTrans == RID_UWT ? level : undec_fft_norm(s) * level_noise * NSigma;
        for (int x = 0; x < N; x++)
          if (s < FirstDetectScale || std::fabs(trans(x, s)) < level_s) trans(x, s) = 0.f;
      }
      if (KillLastScale)
        for (int x = 0; x < N; x++) trans(x, NbrScale1D - 1) = 0.f;
      if (pave) {
        pave->recons(trans, signal, NbrScale1D);
      } else {
        wt_fft->recons(trans, signal, NbrScale1D);
      }
      for (int k = 0; k < N; k++) rad(p, k) = signal(k);
    }
  }
  if (VarianceStab) inv_variance_stab(rad);
  RadonTrans.Verbose = Verbose;
  RadonTrans.recons(rad, Block);
}

namespace {

enum class BlockFilter { Ridgelet, Radon, Undecimated };

}  // namespace

// The block loop shared by the three denoisings.
static void filter_blocks(Ridgelet& rid, to_array<float, false>& Ima, float Noise, float NSigma,
                          int B, to_array<float, true>* TabSigma, BlockFilter kind) {
  rid.alloc(Ima.nl(), Ima.nc(), B);
  if (kind != BlockFilter::Ridgelet && B < 1) {
    if (kind == BlockFilter::Radon) {
      rid.radon_filtering_one_block(Ima, Noise, NSigma);
    } else {
      rid.undec_wt_filtering_one_block(Ima, Noise, NSigma);
    }
    return;
  }
  to_array<float, false> filter(rid.Nl, rid.Nc, "Filter"), block(rid.BlockSize, rid.BlockSize, "block");
  to_array<float, false> high;
  to_array<float, false>* source = &Ima;
  if (kind != BlockFilter::Undecimated && rid.SplitLowFreq) {
    high.alloc(rid.Nl, rid.Nc, "ImaHigh");
    rid.get_low_and_freq(Ima, filter, high, B);
    source = &high;
  }
  const Bool verbose = rid.Verbose;
  for (int bi = 0; bi < rid.NbrBi; bi++)
    for (int bj = 0; bj < rid.NbrBj; bj++) {
      rid.get_block_ima(bi, bj, *source, block);
      switch (kind) {
        case BlockFilter::Ridgelet:
          rid.filtering_one_block(block, Noise, NSigma, TabSigma);
          if (rid.KillFluctu == 1.f) rid.kill_fluctu(block, Noise, NSigma, B);
          break;
        case BlockFilter::Radon: rid.radon_filtering_one_block(block, Noise, NSigma); break;
        case BlockFilter::Undecimated:
          rid.undec_wt_filtering_one_block(block, Noise, NSigma);
          break;
      }
      rid.add_block_ima(bi, bj, filter, block);
      if (kind != BlockFilter::Undecimated) rid.Verbose = False;
    }
  rid.Verbose = verbose;
  Ima = filter;
}

void Ridgelet::filtering(to_array<float, false>& Ima, float Noise, float NSigma, int B,
                         to_array<float, true>* TabSigma) {
  filter_blocks(*this, Ima, Noise, NSigma, B, TabSigma, BlockFilter::Ridgelet);
}

void Ridgelet::radon_filtering(to_array<float, false>& Ima, float Noise, float NSigma, int B) {
  filter_blocks(*this, Ima, Noise, NSigma, B, nullptr, BlockFilter::Radon);
}

void Ridgelet::undec_wt_filtering(to_array<float, false>& Ima, float Noise, float NSigma, int B) {
  filter_blocks(*this, Ima, Noise, NSigma, B, nullptr, BlockFilter::Undecimated);
}
