// WT1D_FFT: the 1D wavelet transform computed in Fourier space from a
// B3-spline scaling function: undecimated (type 1, every band N samples, the
// inverse a plain sum) or pyramidal (types 2 and 3, the low-pass spectrum cut
// to its central half at each scale, the bands packed as in PYR1D_WT). The
// ridgelet transform runs it on the spectrum of every Radon projection, so
// the filters are tabulated once per length and scale and the work spectra
// are kept from one call to the next.
#pragma once

#include <complex>
#include <vector>

#include "array/base_types.h"
#include "array/to_array.h"
#include "numerics/fftn_1d.h"
#include "numerics/short_fft.h"

enum type_wt_filter {
  WT_PHI = 0,  // scaling function
  WT_PSI = 1,  // wavelet
  WT_H = 2,
  WT_H_TILDE = 3,
  WT_G = 4,
  WT_G_TILDE = 5
};

class WT1D_FFT : public FFTN_1D {
 public:
  int WaveType;  // 1 undecimated, 2 pyramidal g = 1 - h, 3 pyramidal g = sqrt(1 - h^2)
  to_array<std::complex<float>, true> Buff1;
  to_array<std::complex<float>, true> SignalCF;
  to_array<std::complex<float>, true> Buff2;
  to_array<int, true> TabPos;
  to_array<int, true> TabSize;
  int Np;
  float FreqCut;  // cut-off factor of the scaling function

  WT1D_FFT(int WaveType, int NbrScale, int N);
  ~WT1D_FFT() = default;

  int pyr_tab_pos(int NbrScale, int N);
  int pyr_np() const { return Np; }
  int pyr_pos(int s) const { return TabPos(s); }
  int pyr_size(int s) const { return TabSize(s); }

  void transform(to_array<float, true>& Signal, to_array<float, true>& Trans, int NbrScale);
  // Transform of a centred spectrum; TF is work space and its values are not
  // meaningful afterwards (its length is kept).
  void transform_cf(to_array<std::complex<float>, true>& TF, to_array<float, true>& Trans,
                    int NbrScale);
  // Signal's length (set by the caller) is N; type 1 takes it from Trans.
  void recons(to_array<float, true>& Trans, to_array<float, true>& Signal, int NbrScale);
  // Rebuilds the centred spectrum TF, whose length on entry is N.
  void recons_cf(to_array<float, true>& Trans, to_array<std::complex<float>, true>& TF,
                 int NbrScale);

  // transform_cf and recons_cf of many lines at once, for the pyramidal
  // types: the same values line by line up to float rounding, with each
  // scale's FFTs run over all the lines together. The lines stand for real
  // signals (the transform keeps real parts, the reconstruction starts from
  // real bands), so two lines share each complex FFT. Spectra holds NbrLine centred spectra of N values,
  // one after the other (work space for the transform); band s of line l
  // (pyr_size(s) values) is at Bands[s] + l·BandStride, so that the bands
  // may go straight to their places in a larger image.
  void transform_cf_lines(std::complex<float>* Spectra, int NbrLine, int N, float* const* Bands,
                          size_t BandStride, int NbrScale);
  void recons_cf_lines(const float* const* Bands, size_t BandStride, int NbrLine, int N,
                       std::complex<float>* Spectra, int NbrScale);
  // transform_cf_lines of the NbrLine projections of two real blocks A and
  // B, from the 2D spectrum of A + i B sampled along them (as
  // Radon::fft_pair_spectrum gives it: sample c of line l at
  // Spectrum2D[Source[l·N + c]], none where negative, the point of the
  // opposite frequency at Mirror[l·N + c], and EvenSource[l·N + c] the
  // source where the line spectra are Hermitian at c, -1 elsewhere; see
  // Radon::linogram_even_source). Line l of A and line l of B
  // share the first scale's FFT, taken from the 2D samples without the
  // blocks' own spectra being made; SpectraA and SpectraB are work space of
  // NbrLine x N values. The same values up to float rounding.
  void transform_cf_block_pair(const std::complex<float>* Spectrum2D, const int* Source,
                               const int* Mirror, const int* EvenSource, int NbrLine, int N,
                               float* const* BandsA,
                               float* const* BandsB, size_t BandStride, int NbrScale,
                               std::complex<float>* SpectraA, std::complex<float>* SpectraB);

  // Keeps the (n+1)/2 central values, the zero frequency staying centred.
  void under_sampling_2(to_array<std::complex<float>, true>& C);
  // Centres the n values in 2n (or 2n - 1 when Odd) values, zeros around:
  // the inverse of the cut.
  void over_sampling_2(to_array<std::complex<float>, true>& C, Bool Odd);
  // Filters a spectrum in place at scale s (High a copy of Low on entry).
  void wave_cf_mult(to_array<std::complex<float>, true>& Low,
                    to_array<std::complex<float>, true>& High, int s, int N, Bool Direct);
  void create_filter(to_array<float, true>& F, type_wt_filter Kind);

  float scaling_function(float nu, int N);
  float filter_h(float nu, int N);
  float filter_g(float nu, int N);
  float filter_h_tilde(float nu, int N);
  float filter_g_tilde(float nu, int N);
  float filter_wavelet(float nu, int N);
  float filter(type_wt_filter Kind, float nu, int N);

 private:
  // The filters of one scale over the n samples of a spectrum cut from N:
  // samples in [first, last) are filtered, the others have no frequency in
  // the full grid and lose their low-pass value.
  struct ScaleFilters {
    int s = 0, N = -1, n = -1, WaveType = 0;
    float FreqCut = 0.f;
    int first = 0, last = 0;
    std::vector<float> h, g, h_tilde, g_tilde;
    // g inside [first, last) and 1 outside: the high-pass spectrum keeps
    // the samples the filters do not reach.
    std::vector<float> g_pass;
    // The filters with each value twice, for the two parts of a complex
    // value, so that whole complex runs are filtered by one flat loop.
    std::vector<float> h_parts, g_pass_parts, h_tilde_parts, g_tilde_parts;
    // (g_pass at i + g_pass at its mirror) / 2 where i has a mirror.
    std::vector<float> g_pass_even;
  };
  const ScaleFilters& scale_filters(int s, int n, int N);
  static void filter_spectrum(const ScaleFilters& f, std::complex<float>* low,
                              std::complex<float>* high, int n, Bool Direct);
  static void filter_low(const ScaleFilters& f, std::complex<float>* low, int n, Bool Direct);
  // The analysis low-pass filter and the cut of the spectrum to its
  // central (n+1)/2 values in one pass, on NbrLine lines of n values (line
  // l at Spectra + l·Stride); returns the new length.
  static int low_pass_cut_lines(const ScaleFilters& f, std::complex<float>* Spectra,
                                size_t Stride, int NbrLine, int n);
  // The coarse spectrum (coarse values) centred in n values and filtered,
  // plus the filtered detail spectrum, into low; the synthesis step.
  void add_synthesis(const ScaleFilters& f, std::complex<float>* low, int coarse,
                            const std::complex<float>* detail, int n);
  void wave_mult(std::complex<float>* low, std::complex<float>* high, int n, int s, int N,
                 Bool Direct);
  void check_pyramid_lines(int NbrScale, int N);
  // The centred spectra of NbrLine lines (line l at Spectra + l·Stride),
  // times gain when it is given (each value twice, as g_pass_parts), packed
  // two by two for the inverse FFT.
  void pack_pairs(const std::complex<float>* Spectra, size_t Stride, int NbrLine, int n,
                  const float* gain);
  // Inverse FFTs of the packed pairs: line l's real values divided by
  // ratio, in centred order at Band + l·BandStride.
  void pairs_to_bands(int NbrLine, int n, float ratio, float* Band, size_t BandStride);
  // The same for NbrPair pairs whose line a goes to BandA + p·PairStride
  // and line b to BandB + p·PairStride (the last pair's only when
  // LastPartner).
  void pairs_to_bands(int NbrPair, bool LastPartner, int n, float ratio, float* BandA,
                      float* BandB, size_t PairStride);
  // The scales from FirstScale on of transform_cf_lines, the spectra cut to
  // ni values.
  void transform_cf_lines_from(int FirstScale, int ni, std::complex<float>* Spectra, int NbrLine,
                               int N, float* const* Bands, size_t BandStride, int NbrScale);
  // Centred spectra of NbrLine real lines of n values times ratio, line l
  // at Band + l·BandStride, into Out + l·OutStride.
  void real_lines_to_spectra(const float* Band, size_t BandStride, int NbrLine, int n, float ratio,
                             std::complex<float>* Out, size_t OutStride);
  // FFTs of count packed lines of n values in place, sign the direction of
  // the general engine's convention; returns where each frequency of a line
  // ends up (bit-reversed after the short-line FFT, natural otherwise).
  const int* fft_pairs(float* values, int count, int n, int sign);
  void check_nbr_scale(int NbrScale) const;
  // Checks the scale count and the wavelet type (False after the message of
  // an unknown type) and gives the work spectra N values.
  Bool prepare(int NbrScale, int N);
  void inverse_to_band(std::complex<float>* spectrum, int n, float ratio, float* band);
  Bool known_wave_type() const;

  std::vector<ScaleFilters> filters_;
  // Work lines of the many-line transforms, kept from call to call.
  std::vector<std::complex<float>> high_;
  // Two lines packed into one complex line for each shared FFT.
  std::vector<std::complex<float>> pairs_;
  ShortFFT short_fft_;
  std::vector<int> natural_order_;
  std::vector<int> band_place_;  // of each value of an inverse FFT in its band
  std::vector<float> coarse_copy_;  // the coarse values add_synthesis moves up
};
