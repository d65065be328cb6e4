// The ridgelet transform of one block and its inverse: the Radon transform
// of the block, the optional variance stabilisation or slant-stack
// normalisation, and the 1D wavelet transform along every projection.
#include <cmath>
#include <complex>
#include <cstdio>
#include <vector>

#include "array/fatal.h"
#include "filters/ortho_1d_wt.h"
#include "filters/wp1d_mallat.h"
#include "multires/line_col.h"
#include "radon/ridgelet.h"
#include "radon/ridgelet_worker.h"

namespace {

using cfloat = std::complex<float>;

bool fourier_pyramid(type_ridgelet_WTtrans T) { return T == RID_PYR_FFT || T == RID_SS_PYR_FFT; }
bool direct_pyramid(type_ridgelet_WTtrans T) { return T == RID_PYR_DIRECT || T == RID_SS_PYR; }

void divide_by(to_array<float, false>& Rad, const to_array<float, false>& Cst, const char* where) {
  if (Rad.nl() != Cst.nl() || Rad.nc() != Cst.nc())
    fatal_exitf(-1, stdout, "Error: pb initialization in Ridgelet::%s ... \n", where);
  float* r = Rad.buffer();
  const float* c = Cst.buffer();
  for (int k = 0; k < Rad.n_elem(); k++) r[k] /= c[k];
}

void multiply_by(to_array<float, false>& Rad, const to_array<float, false>& Cst, const char* where) {
  if (Rad.nl() != Cst.nl() || Rad.nc() != Cst.nc())
    fatal_exitf(-1, stdout, "Error: pb initialization in Ridgelet::%s ... \n", where);
  float* r = Rad.buffer();
  const float* c = Cst.buffer();
  for (int k = 0; k < Rad.n_elem(); k++) r[k] *= c[k];
}

void print_recons_header(const char* indent, int NlIn, int NcIn, int NbrScale) {
  std::printf("%sRidgelet block reconstruction ...\n", indent);
  std::printf("%sInput block image size: Nl = %d Nc = %d\n", indent, NlIn, NcIn);
  std::printf("   Number of scales = %d\n", NbrScale);
}

}  // namespace

void Ridgelet::variance_stab(to_array<float, false>& Ima) {
  float* p = Ima.buffer();
  for (int k = 0; k < Ima.n_elem(); k++)
    p[k] = p[k] > 0.f ? 2.f * std::sqrt(p[k] + 0.375f) : 0.f;
}

void Ridgelet::inv_variance_stab(to_array<float, false>& Ima) {
  float* p = Ima.buffer();
  for (int k = 0; k < Ima.n_elem(); k++) p[k] = p[k] * p[k] / 4.f - 0.375f;
}

// The variant's checks and the Radon form it takes; every path through the
// filter bank (the bi-orthogonal variants, the column transform and the
// wavelet packets) needs one.
void Ridgelet::check_block_variant(Bool /*Forward*/) {
  switch (RidTrans) {
    case RID_OWT:
    case RID_FINITE:
    case RID_SS_OWT:
      if (SB1D == nullptr) fatal_exit("Error: filter bank class not initialized ... \n");
      FourierRadon = False;
      break;
    case RID_PYR_FFT: FourierRadon = True; break;
    case RID_PYR_DIRECT:
    case RID_SS_PYR_FFT:
    case RID_SS_PYR: FourierRadon = False; break;
    case RID_UWT:
    case RID_UWT_FFT:
      fatal_exit("Error: undecimated transforms are not implemented in thsi routine ... \n");
    default: fatal_exit("Error: unknown ridgelet transform ... \n");
  }
  if ((ColTrans || WPFirstScale) && SB1D == nullptr)
    fatal_exit("Error: filter bank class not initialized ... \n");
  RidClass = rid_class(RidTrans);
}

void Ridgelet::transform_one_block(to_array<float, false>& Block, to_array<float, false>& Out) {
  if (Workers.empty()) fatal_exit("Error: The Ridgelet is not allocated ... \n");
  check_block_variant(True);
  transform_block(*Workers[0], Block, Out);
}

void Ridgelet::recons_one_block(to_array<float, false>& In, to_array<float, false>& Out) {
  if (Workers.empty()) fatal_exit("Error: The Ridgelet is not allocated ... \n");
  if (NbrScale1D >= 2) check_block_variant(False);
  recons_block(*Workers[0], In, Out);
}

// The Radon transform of the block, with the stabilisation or the
// slant-stack normalisation: W.spectra (Fourier variant) or W.rad, Nr x Ncr.
void Ridgelet::radon_step(RidgeletWorker& W, to_array<float, false>& Block, int& Nr, int& Ncr) {
  Radon& radon = *W.radon;
  to_array<float, false>& rad = W.rad;
  if (Verbose)
    std::printf("   Ridgelet transform of Block Image %d %d\n", Block.nl(), Block.nc());
  if (FourierRadon) {
    radon.fft_trans_cf(Block, W.spectra);
    Nr = W.spectra.nl();
    Ncr = W.spectra.nc();
  } else {
    radon.transform(Block, rad);
    Nr = rad.nl();
    Ncr = rad.nc();
  }
  const bool ss = rid_slant_stack(RidTrans);
  if (VarianceStab) {
    if (FourierRadon) {
      rad.resize(Nr, Ncr);
      radon.invfft_line(W.spectra, rad);
      variance_stab(rad);
      radon.fft_line(rad, W.spectra, True);
    } else {
      variance_stab(rad);
    }
  } else if (ss) {
    divide_by(rad, CstBlockRadon, "transform_one_block");
  }
}

// Block (bi, bj) of Ima into Row, the Nlb lines of its row of blocks laid
// out as in the ridgelet image. In the default variant the bands of every
// projection go straight to their places in Row; otherwise the ridgelet
// block is made in Out and stored.
void Ridgelet::transform_block_at(RidgeletWorker& W, int bi, int bj, to_array<float, false>& Ima,
                                  to_array<float, false>& Row, to_array<float, false>& Out) {
  get_block_ima(bi, bj, Ima, W.block, W.mirrored_columns);
  const bool direct = FourierRadon && NbrScale1D >= 2 && !WPFirstScale && !ColTrans &&
                      !VarNorm && !Verbose;
  if (!direct) {
    transform_block(W, W.block, Out);
    put_block_trans(0, bj, Row, Out);
    return;
  }
  int Nr, Ncr;
  radon_step(W, W.block, Nr, Ncr);
  WT1D_FFT& wt = W.wt1d_fft(NbrScale1D, Ncr);
  bool same_layout = Nr == Nlb && Row.nc() >= RidNc && Row.nl() >= Nlb;
  for (int s = 0; s < NbrScale1D && same_layout; s++)
    same_layout = wt.pyr_pos(s) == TabPos(s) && wt.pyr_size(s) == TabSize(s);
  if (!same_layout) {
    one_d_step(W, Nr, Ncr, Out);
    put_block_trans(0, bj, Row, Out);
    return;
  }
  std::vector<float*>& bands = W.bands;
  bands.resize(NbrScale1D);
  for (int s = 0; s < NbrScale1D; s++) bands[s] = &Row(0, jpos(s, bj));
  wt.transform_cf_lines(W.spectra.buffer(), Nr, Ncr, bands.data(), static_cast<size_t>(Row.nc()),
                        NbrScale1D);
}

bool Ridgelet::transform_pair_at(RidgeletWorker& W, int bi, int bj, to_array<float, false>& Ima,
                                 to_array<float, false>& Row) {
  const bool direct = FourierRadon && NbrScale1D >= 2 && !WPFirstScale && !ColTrans &&
                      !VarNorm && !Verbose && !VarianceStab && bj + 1 < NbrBj;
  if (!direct) return false;
  Radon& radon = *W.radon;
  const int Nr = radon.radon_nl(), Ncr = radon.radon_nc();
  WT1D_FFT& wt = W.wt1d_fft(NbrScale1D, Ncr);
  bool same_layout = Nr == Nlb && Ncr == BlockSize && Row.nc() >= RidNc && Row.nl() >= Nlb;
  for (int s = 0; s < NbrScale1D && same_layout; s++)
    same_layout = wt.pyr_pos(s) == TabPos(s) && wt.pyr_size(s) == TabSize(s);
  if (!same_layout) return false;
  get_block_ima(bi, bj, Ima, W.block, W.mirrored_columns);
  if (W.block2.nl() != BlockSize || W.block2.nc() != BlockSize)
    W.block2.alloc(BlockSize, BlockSize, "block");
  get_block_ima(bi, bj + 1, Ima, W.block2, W.mirrored_columns);
  const std::complex<float>* spectrum = radon.fft_pair_spectrum(W.block, W.block2);
  for (to_array<cfloat, false>* spectra : {&W.spectra, &W.spectra2})
    if (spectra->naxis() != 2 || spectra->nl() != Nr || spectra->nc() != Ncr)
      spectra->resize(Nr, Ncr);
  std::vector<float*>& bands = W.bands;
  bands.resize(2 * NbrScale1D);
  for (int s = 0; s < NbrScale1D; s++) {
    bands[s] = &Row(0, jpos(s, bj));
    bands[NbrScale1D + s] = &Row(0, jpos(s, bj + 1));
  }
  wt.transform_cf_block_pair(spectrum, radon.linogram_source(), radon.linogram_mirror(),
                             radon.linogram_even_source(), Nr, Ncr,
                             bands.data(), bands.data() + NbrScale1D, static_cast<size_t>(Row.nc()),
                             NbrScale1D, W.spectra.buffer(), W.spectra2.buffer());
  return true;
}

void Ridgelet::transform_block(RidgeletWorker& W, to_array<float, false>& Block,
                               to_array<float, false>& Out) {
  int Nr, Ncr;
  radon_step(W, Block, Nr, Ncr);
  one_d_step(W, Nr, Ncr, Out);
}

// The 1D transforms of the projections into the ridgelet block Out.
void Ridgelet::one_d_step(RidgeletWorker& W, int Nr, int Ncr, to_array<float, false>& Out) {
  Radon& radon = *W.radon;
  to_array<float, false>& rad = W.rad;
  if (NbrScale1D < 2) {
    if (FourierRadon) {
      rad.resize(Nr, Ncr);
      radon.invfft_line(W.spectra, rad);
    }
    Out = rad;
    return;
  }

  const int cls = rid_class(RidTrans);
  const int NlOut = Nr, NcOut = (cls == 3 || cls == 4) ? Ncr : 2 * Ncr;
  if (Verbose) {
    std::printf("   Radon block image size: Nl = %d Nc = %d\n", Nr, Ncr);
    std::printf("   Ridgelet block image size: Nl = %d Nc = %d\n", NlOut, NcOut);
  }
  if (Out.naxis() != 2 || Out.nl() != NlOut || Out.nc() != NcOut) Out.resize(NlOut, NcOut);

  if ((cls == 3 || cls == 4 || direct_pyramid(RidTrans)) && ColTrans) {
    LineCol line_col(*SB1D);
    line_col.transform(rad, NbrScale1D, -1);
    // The line-column coefficients fill the first Ncr columns of the block;
    // the pyramidal layout's extra columns stay zero.
    for (int p = 0; p < Nr; p++) {
      const float* in = &rad(p, 0);
      float* out = &Out(p, 0);
      for (int k = 0; k < Ncr; k++) out[k] = in[k];
      for (int k = Ncr; k < NcOut; k++) out[k] = 0.f;
    }
    return;
  }
  to_array<float, true>& signal = W.signal;
  to_array<float, true>& result = W.result;
  if (cls == 3 || cls == 4) {
    Ortho_1D_WT wt(*SB1D);
    if (signal.n_elem() != Ncr) signal.alloc(Ncr, "signal");
    for (int p = 0; p < Nr; p++) {
      const float* line = &rad(p, 0);
      for (int k = 0; k < Ncr; k++) signal(k) = line[k];
      wt.transform(signal, result, NbrScale1D);
      float* out = &Out(p, 0);
      for (int k = 0; k < NcOut; k++) out[k] = result(k);
    }
  } else if (FourierRadon && !WPFirstScale) {
    // The default variant: every projection's spectrum is at hand, so the
    // 1D transforms of all projections go together.
    WT1D_FFT& wt = W.wt1d_fft(NbrScale1D, Ncr);
    std::vector<float*>& bands = W.bands;
    bands.resize(NbrScale1D);
    for (int s = 0; s < NbrScale1D; s++) bands[s] = Out.buffer() + wt.pyr_pos(s);
    wt.transform_cf_lines(W.spectra.buffer(), Nr, Ncr, bands.data(), static_cast<size_t>(NcOut),
                          NbrScale1D);
    const int Np = wt.pyr_np();
    for (int p = 0; p < Nr; p++) {
      float* out = &Out(p, 0);
      for (int k = Np; k < NcOut; k++) out[k] = 0.f;
    }
    if (ColTrans) {
      LineCol line_col(*SB1D);
      line_col.transform(Out, 0, NbrScale1D);
    }
  } else if (fourier_pyramid(RidTrans)) {
    WT1D_FFT& wt = W.wt1d_fft(NbrScale1D, Ncr);
    const int Np = wt.pyr_np();
    for (int p = 0; p < Nr; p++) {
      if (W.cline.n_elem() != Ncr) W.cline.alloc(Ncr, "cline");
      if (FourierRadon) {
        const cfloat* line = &W.spectra(p, 0);
        for (int k = 0; k < Ncr; k++) W.cline(k) = line[k];
      } else {
        const float* line = &rad(p, 0);
        for (int k = 0; k < Ncr; k++) W.cline(k) = cfloat(line[k], 0.f);
        W.fft1d.fftn1d(W.cline, False);
      }
      wt.transform_cf(W.cline, result, NbrScale1D);
      if (WPFirstScale && NbrScale1D - 2 > 0) {
        const int pos = wt.pyr_pos(0), size = wt.pyr_size(0);
        to_array<float, true> band(size), packets;
        for (int k = 0; k < size; k++) band(k) = result(pos + k);
        wp1d_mallat_transform(band, packets, NbrScale1D - 2, *SB1D);
        for (int k = 0; k < size; k++) result(pos + k) = packets(k);
      }
      float* out = &Out(p, 0);
      for (int k = 0; k < Np; k++) out[k] = result(k);
      for (int k = Np; k < NcOut; k++) out[k] = 0.f;
    }
    if (ColTrans) {
      LineCol line_col(*SB1D);
      line_col.transform(Out, 0, NbrScale1D);
    }
  } else {
    PYR1D_WT& wt = W.pyr1d(NbrScale1D, Ncr);
    const int Np = wt.pyr_np();
    if (signal.n_elem() != Ncr) signal.alloc(Ncr, "signal");
    for (int p = 0; p < Nr; p++) {
      const float* line = &rad(p, 0);
      for (int k = 0; k < Ncr; k++) signal(k) = line[k];
      wt.transform(signal, result);
      float* out = &Out(p, 0);
      for (int k = 0; k < Np; k++) out[k] = result(k);
      for (int k = Np; k < NcOut; k++) out[k] = 0.f;
    }
  }
}

// The end of the Fourier variant's reconstruction: from the projections'
// spectra in W.spectra to the block.
void Ridgelet::spectra_to_block(RidgeletWorker& W, to_array<float, false>& Out) {
  Radon& radon = *W.radon;
  if (VarianceStab) {
    W.rad.resize(W.spectra.nl(), W.spectra.nc());
    radon.invfft_line(W.spectra, W.rad);
    inv_variance_stab(W.rad);
    radon.fft_line(W.rad, W.spectra, True);
  }
  radon.fft_rec_cf(W.spectra, Out);
}

// Block (bi, bj) into W.block from Row, the Nlb lines of its row of blocks
// laid out as in the ridgelet image; false when all its coefficients are
// zero (such a block contributes nothing). In the default variant the bands
// are read in place; otherwise the ridgelet block is taken out into Coef
// first.
bool Ridgelet::recons_block_at(RidgeletWorker& W, int bi, int bj, to_array<float, false>& Row,
                               to_array<float, false>& Coef) {
  const bool direct = RidTrans == RID_PYR_FFT && NbrScale1D >= 2 && !WPFirstScale &&
                      !ColTrans && !VarNorm && !Verbose && Row.nc() >= RidNc;
  WT1D_FFT* wt = direct ? &W.wt1d_fft(NbrScale1D, Ncb / 2) : nullptr;
  bool same_layout = direct && Nlb <= Row.nl();
  for (int s = 0; s < NbrScale1D && same_layout; s++)
    same_layout = wt->pyr_pos(s) == TabPos(s) && wt->pyr_size(s) == TabSize(s);
  if (!same_layout) {
    get_block_trans(0, bj, Row, Coef);
    if (Coef.energy() == 0.f) return false;
    recons_block(W, Coef, W.block);
    return true;
  }
  // The test of an all-zero block, as the block's energy (a float sum of
  // squares) being 0 would decide it: no square may be nonzero.
  std::vector<const float*>& bands = W.coef_bands;
  bands.resize(NbrScale1D);
  bool zero = true;
  for (int s = 0; s < NbrScale1D; s++) {
    bands[s] = &Row(0, jpos(s, bj));
    for (int i = 0; i < Nlb && zero; i++)
      zero = !any_nonzero_square(bands[s] + static_cast<size_t>(i) * Row.nc(), TabSize(s));
  }
  if (zero) return false;
  const int H = Ncb / 2;
  if (W.spectra.naxis() != 2 || W.spectra.nl() != Nlb || W.spectra.nc() != H)
    W.spectra.resize(Nlb, H);
  wt->recons_cf_lines(bands.data(), static_cast<size_t>(Row.nc()), Nlb, H, W.spectra.buffer(),
                      NbrScale1D);
  spectra_to_block(W, W.block);
  return true;
}

void Ridgelet::recons_block(RidgeletWorker& W, to_array<float, false>& In,
                            to_array<float, false>& Out) {
  Radon& radon = *W.radon;
  if (NbrScale1D < 2) {
    // The block is the Radon image as the transform left it: stabilised or
    // divided by the slant-stack normalisation, which is undone first.
    radon_recons(radon, In, Out, rid_slant_stack(RidTrans));
    return;
  }
  const int NlIn = In.nl(), NcIn = In.nc(), H = NcIn / 2;
  to_array<float, false>& rad = W.rad;
  to_array<float, true>& signal = W.signal;
  to_array<float, true>& result = W.result;

  if (fourier_pyramid(RidTrans)) {
    if (Verbose) print_recons_header("   ", NlIn, NcIn, NbrScale1D);
    WT1D_FFT& wt = W.wt1d_fft(NbrScale1D, H);
    const int Np = wt.pyr_np();
    if (ColTrans) {
      LineCol line_col(*SB1D);
      line_col.recons(In, 0, NbrScale1D);
    }
    const bool fourier = RidTrans == RID_PYR_FFT;
    if (fourier) {
      if (W.spectra.naxis() != 2 || W.spectra.nl() != NlIn || W.spectra.nc() != H)
        W.spectra.resize(NlIn, H);
    } else if (rad.naxis() != 2 || rad.nl() != NlIn || rad.nc() != H) {
      rad.resize(NlIn, H);
    }
    if (fourier && !WPFirstScale) {
      // The projections' spectra are rebuilt all together.
      std::vector<const float*>& bands = W.coef_bands;
      bands.resize(NbrScale1D);
      for (int s = 0; s < NbrScale1D; s++) bands[s] = In.buffer() + wt.pyr_pos(s);
      wt.recons_cf_lines(bands.data(), static_cast<size_t>(NcIn), NlIn, H, W.spectra.buffer(),
                         NbrScale1D);
    } else {
      if (result.n_elem() != Np) result.alloc(Np, "pyramid");
      for (int p = 0; p < NlIn; p++) {
        const float* line = &In(p, 0);
        for (int k = 0; k < Np; k++) result(k) = line[k];
        if (WPFirstScale && NbrScale1D - 2 > 0) {
          const int pos = wt.pyr_pos(0), size = wt.pyr_size(0);
          to_array<float, true> packets(size), band;
          for (int k = 0; k < size; k++) packets(k) = result(pos + k);
          wp1d_mallat_rec(packets, band, NbrScale1D - 2, *SB1D);
          for (int k = 0; k < size; k++) result(pos + k) = band(k);
        }
        if (W.cline.n_elem() != H) W.cline.alloc(H, "cline");
        wt.recons_cf(result, W.cline, NbrScale1D);
        if (fourier) {
          cfloat* out = &W.spectra(p, 0);
          for (int k = 0; k < H; k++) out[k] = W.cline(k);
        } else {
          W.fft1d.fftn1d(W.cline, True);
          float* out = &rad(p, 0);
          for (int k = 0; k < H; k++) out[k] = W.cline(k).real();
        }
      }
    }
    if (fourier) {
      spectra_to_block(W, Out);
    } else {
      if (VarianceStab) {
        inv_variance_stab(rad);
      } else {
        multiply_by(rad, CstBlockRadon, "transform_one_block");
      }
      radon.recons(rad, Out);
    }
    return;
  }

  if (direct_pyramid(RidTrans)) {
    if (Verbose) print_recons_header("  ", NlIn, NcIn, NbrScale1D);
    if (ColTrans) {
      // The line-column coefficients are the first H columns (see the
      // transform).
      if (rad.naxis() != 2 || rad.nl() != NlIn || rad.nc() != H) rad.resize(NlIn, H);
      for (int p = 0; p < NlIn; p++)
        for (int k = 0; k < H; k++) rad(p, k) = In(p, k);
      LineCol line_col(*SB1D);
      line_col.recons(rad, NbrScale1D, -1);
    } else {
      PYR1D_WT& wt = W.pyr1d(NbrScale1D, H);
      const int Np = wt.pyr_np();
      if (rad.naxis() != 2 || rad.nl() != NlIn || rad.nc() != H) rad.resize(NlIn, H);
      if (result.n_elem() != Np) result.alloc(Np, "pyramid");
      for (int p = 0; p < NlIn; p++) {
        const float* line = &In(p, 0);
        for (int k = 0; k < Np; k++) result(k) = line[k];
        wt.recons(result, signal);
        float* out = &rad(p, 0);
        for (int k = 0; k < H; k++) out[k] = signal(k);
      }
    }
    radon_recons(radon, rad, Out, RidTrans == RID_SS_PYR);
    return;
  }

  // Bi-orthogonal and finite classes.
  if (Verbose) print_recons_header("  ", NlIn, NcIn, NbrScale1D);
  if (ColTrans) {
    LineCol line_col(*SB1D);
    line_col.recons(In, NbrScale1D, -1);
  } else {
    Ortho_1D_WT wt(*SB1D);
    if (result.n_elem() != NcIn) result.alloc(NcIn, "coefficients");
    if (signal.n_elem() != NcIn) signal.alloc(NcIn, "signal");
    for (int p = 0; p < NlIn; p++) {
      float* line = &In(p, 0);
      for (int k = 0; k < NcIn; k++) result(k) = line[k];
      wt.recons(result, signal, NbrScale1D);
      for (int k = 0; k < NcIn; k++) line[k] = signal(k);
    }
  }
  radon_recons(radon, In, Out, RidTrans == RID_SS_OWT);
}

// The last step of the real-Radon reconstructions: undo the stabilisation or
// the slant-stack normalisation, then invert the Radon transform.
void Ridgelet::radon_recons(Radon& radon, to_array<float, false>& Rad,
                            to_array<float, false>& Out, bool slant_stack_norm) {
  if (VarianceStab) {
    inv_variance_stab(Rad);
  } else if (slant_stack_norm) {
    multiply_by(Rad, CstBlockRadon, "recons_one_block");
  }
  radon.recons(Rad, Out);
}
