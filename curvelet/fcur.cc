// The fast curvelet transform: allocation and band layout, the forward and
// inverse transforms between the Meyer planes and the curvelet bands, and
// band access.
#include "curvelet/fcur.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "array/fatal.h"
#include "curvelet/fcur_wedges.h"

namespace {

// The smallest direction count of a detail scale.
constexpr int MinDirections = 8;

int odd_size(int n) { return n % 2 == 1 ? n : n + 1; }

// The orthonormal FFT factor of a wedge: sizes as floats, single-precision root.
float wedge_norm(const FCUR::Plane& wedge) {
  return std::sqrt(static_cast<float>(wedge.nl()) * static_cast<float>(wedge.nc()));
}

}  // namespace

FCUR::~FCUR() { release(); }

void FCUR::release() {
  if (TabCurvelet != nullptr)
    for (int s = 0; s < AllocScales; s++) delete[] TabCurvelet[s];
  delete[] TabCurvelet;
  delete[] TabSizeBandNl;
  delete[] TabSizeBandNc;
  TabCurvelet = nullptr;
  TabSizeBandNl = TabSizeBandNc = nullptr;
  AllocScales = 0;
}

int fcur_largest_scale_count(int Nl, int Nc) {
  const int side = odd_size(std::min(Nl, Nc));
  int largest = 1;
  for (int n = 2; n < 31 && (side >> n) >= 2; n++) largest = n;
  return largest;
}

void fcur_fine_directions(int NbrScale, int NbrDir, to_array<int, true>& TabDir) {
  TabDir.alloc(std::max(1, NbrScale - 1), "TabDir");
  TabDir(0) = NbrDir;
  for (int s = 1; s < NbrScale - 1; s++) {
    if (s % 2 == 1) {
      TabDir(s) = TabDir(s - 1);
    } else {
      TabDir(s) = TabDir(s - 1) / 2;
      if (TabDir(s) < MinDirections) TabDir(s) = MinDirections;
    }
  }
}

void FCUR::alloc_from_fine(int NbrScaleIn, int Nl, int Nc, int NbrDir, Bool ExtendIn,
                           Bool IsotropIn, Bool RealIn) {
  to_array<int, true> directions;
  fcur_fine_directions(NbrScaleIn, NbrDir, directions);
  alloc_with_tab(NbrScaleIn, Nl, Nc, directions, ExtendIn, IsotropIn, RealIn);
}

void FCUR::alloc_from_coarse(int NbrScaleIn, int Nl, int Nc, int NbrDir, Bool ExtendIn,
                             Bool IsotropIn, Bool RealIn) {
  if (NbrScaleIn < 2)
    fatal_exitf(-1, stdout, "Error: bad number of scales in FCUR: %d (2 at least) ...\n",
                NbrScaleIn);
  to_array<int, true> directions(NbrScaleIn - 1, "TabDir");
  directions(NbrScaleIn - 2) = NbrDir;
  bool keep = true;
  for (int s = NbrScaleIn - 3; s >= 0; s--) {
    directions(s) = keep ? directions(s + 1) : 2 * directions(s + 1);
    keep = !keep;
  }
  alloc_with_tab(NbrScaleIn, Nl, Nc, directions, ExtendIn, IsotropIn, RealIn);
}

void FCUR::alloc_with_tab(int NbrScaleIn, int Nl, int Nc, to_array<int, true>& TabDir,
                          Bool ExtendIn, Bool IsotropIn, Bool RealIn) {
  if (NbrScaleIn < 2)
    fatal_exitf(-1, stdout, "Error: bad number of scales in FCUR: %d (2 at least) ...\n",
                NbrScaleIn);
  release();
  NlIma = Nl;
  NcIma = Nc;
  ModifSize = (Nl % 2 == 1 && Nc % 2 == 1) ? False : True;
  NewNl = odd_size(Nl);
  NewNc = odd_size(Nc);
  init(NbrScaleIn, NewNl, NewNc, ExtendIn, IsotropIn, True);
  Real = RealIn;
  const int scales = nbr_scale();
  // A low-pass plane narrower than 4 samples gets a zero window: everything
  // would go to the band-pass plane, whose wedges leave out its centre, and
  // the image's mean and lowest frequencies would be lost without a word.
  if (!extend() && std::min(nls(scales - 1), ncs(scales - 1)) < 4)
    fatal_exitf(-1, stdout,
                "Error: too many scales (%d) for an image of %d x %d in the fast curvelet "
                "transform ...\n",
                scales, Nl, Nc);
  if (TabDir.n_elem() < scales - 1)
    fatal_exit("Error: TabDir size incorrect in FCUR::alloc_with_tab ... \n");
  NbrBandPerScale.alloc(scales, "NbrBandPerScale");
  TabNbrDir.alloc(scales, "TabNbrDir");
  if (Verbose) std::printf(" Number of Scales = %d %d\n", NbrScaleIn, scales);
  for (int s = 0; s < scales - 1; s++) {
    TabNbrDir(s) = std::max(TabDir(s), MinDirections);
    NbrBandPerScale(s) = Real ? TabNbrDir(s) : 2 * TabNbrDir(s);
    if (Verbose)
      std::printf("  Scale %d NbrDir = %d NbrBandPerScale = %d\n", s + 1, TabNbrDir(s),
                  NbrBandPerScale(s));
  }
  TabNbrDir(scales - 1) = 1;
  NbrBandPerScale(scales - 1) = 1;
  TabCurvelet = new Plane*[scales];
  TabSizeBandNl = new to_array<int, true>[scales];
  TabSizeBandNc = new to_array<int, true>[scales];
  AllocScales = scales;
  int max_band = 1;
  for (int s = 0; s < scales; s++) {
    TabCurvelet[s] = new Plane[NbrBandPerScale(s)];
    TabSizeBandNl[s].alloc(NbrBandPerScale(s), "TabSizeBandNl");
    TabSizeBandNc[s].alloc(NbrBandPerScale(s), "TabSizeBandNc");
    max_band = std::max(max_band, NbrBandPerScale(s));
  }
  get_size();
  Plans.assign(scales, WedgePlan());
  double A = nld(), B = ncd();
  for (int s = 0; s < scales; s++, A /= 2., B /= 2.)
    if (TabNbrDir(s) >= 2) Plans[s].build(A, B, TabNbrDir(s));
  TabNorm.alloc(scales, max_band, "TabNorm");
  if (ModifSize) Work.alloc(NewNl, NewNc, "New");
}

void FCUR::get_size() {
  double A = nld(), B = ncd();
  for (int s = 0; s < nbr_scale(); s++) {
    if (TabNbrDir(s) < 2) {
      TabSizeBandNl[s](0) = nls(s);
      TabSizeBandNc[s](0) = ncs(s);
    } else {
      wedge_sizes(A, B, TabNbrDir(s), TabSizeBandNl[s].buffer(), TabSizeBandNc[s].buffer());
    }
    A /= 2.;
    B /= 2.;
  }
}

int FCUR::nbr_tot_band() const {
  double total = 0.;
  for (int s = 0; s < nbr_scale(); s++) total += NbrBandPerScale(s);
  return static_cast<int>(total);
}

int FCUR::wedges_to_finish(int s) const {
  if (s == nbr_scale() - 1) return 1;
  return Real ? TabNbrDir(s) / 2 : TabNbrDir(s);
}

float FCUR::real_band_factor(int s) const {
  if (s == nbr_scale() - 1) return static_cast<float>(std::sqrt(2.));
  if (s == 0) return static_cast<float>(std::sqrt(2.) + std::sqrt(2.));
  return 4.f;
}

void FCUR::cur_trans(to_array<float, false>& Image) {
  if (Image.naxis() != 2 || Image.nl() != NlIma || Image.nc() != NcIma)
    fatal_exitf(-1, stdout,
                "Error: the fast curvelet transform is allocated for %d x %d images, not %d x %d ...\n",
                NlIma, NcIma, Image.nl(), Image.nc());
  if (Verbose) std::printf("Transform WT ... \n");
  if (!ModifSize) {
    transform(Image);
  } else {
    // An even side is made odd by repeating the last line or column, so that
    // the centred spectrum is Hermitian about its middle sample.
    if (Verbose) std::printf(" NewNl... %d\n", NewNl);
    for (int i = 0; i < NlIma; i++) {
      const float* in = Image.buffer() + static_cast<long>(i) * Image.nc();
      float* out = Work.buffer() + static_cast<long>(i) * NewNc;
      std::copy(in, in + NcIma, out);
      if (NewNc != NcIma) out[NcIma] = in[NcIma - 1];
    }
    if (NewNl != NlIma) {
      const float* in = Image.buffer() + static_cast<long>(NlIma - 1) * Image.nc();
      float* out = Work.buffer() + static_cast<long>(NlIma) * NewNc;
      std::copy(in, in + NcIma, out);
      if (NewNc != NcIma) out[NcIma] = in[NcIma - 1];
    }
    transform(Work);
  }
  if (Verbose) std::printf("Get wedges ...\n");
  get_wedges(TabWT);
}

void FCUR::cur_recons(to_array<float, false>& Image) {
  if (Image.naxis() != 2 || Image.nl() != NlIma || Image.nc() != NcIma) Image.resize(NlIma, NcIma);
  if (Verbose) std::printf("Put wedges ...\n");
  put_wedges(TabWT);
  if (Verbose) std::printf("Recons WT ... \n");
  if (!ModifSize) {
    recons(Image);
    return;
  }
  recons(Work);
  for (int i = 0; i < NlIma; i++) {
    const float* in = Work.buffer() + static_cast<long>(i) * NewNc;
    std::copy(in, in + NcIma, Image.buffer() + static_cast<long>(i) * NcIma);
  }
}

void FCUR::get_wedges(Plane*& TabCF) {
  const int last = nbr_scale() - 1;
  for (int s = 0; s <= last; s++) {
    const int D = TabNbrDir(s);
    if (D < 2) {
      TabCurvelet[s][0] = TabCF[s];
    } else {
      if (Verbose) std::printf("Get Wedges Scale %d, NbrDir = %d\n", s + 1, D);
      Plans[s].cut(TabCF[s], TabCurvelet[s]);
    }
    const float factor = real_band_factor(s);
    const int finish = wedges_to_finish(s);
    // Sizes first, on one thread: the buffer pools are not shared safely.
    if (Real && s != last)
      for (int b = 0; b < finish; b++) {
        const Plane& wedge = TabCurvelet[s][b];
        Plane& opposite = TabCurvelet[s][b + D / 2];
        if (opposite.nl() != wedge.nl() || opposite.nc() != wedge.nc())
          opposite.resize(wedge.nl(), wedge.nc());
      }
    // Each wedge (and its opposite) is its own array: they go to the threads.
#pragma omp parallel for schedule(dynamic)
    for (int b = 0; b < finish; b++) {
      Plane& wedge = TabCurvelet[s][b];
      plane_multiply(wedge, wedge_norm(wedge));
      FFT2D.ifftn2d(wedge);
      if (!Real) continue;
      std::complex<float>* z = wedge.buffer();
      const int n = wedge.n_elem();
      if (s == last) {
        for (int k = 0; k < n; k++) z[k] = std::complex<float>(z[k].real() * factor, 0.f);
        continue;
      }
      // The opposite wedge is the half-turn of this one: its band takes the
      // imaginary parts.
      std::complex<float>* w = TabCurvelet[s][b + D / 2].buffer();
      for (int k = 0; k < n; k++) {
        w[k] = std::complex<float>(z[k].imag() * factor, 0.f);
        z[k] = std::complex<float>(z[k].real() * factor, 0.f);
      }
    }
  }
}

void FCUR::put_wedges(Plane*& TabCF) {
  const int last = nbr_scale() - 1;
  for (int s = 0; s <= last; s++) {
    const int D = TabNbrDir(s);
    const float factor = real_band_factor(s);
    const int finish = wedges_to_finish(s);
    if (Real) {
      for (int b = 0; b < finish; b++) {
        std::complex<float>* z = TabCurvelet[s][b].buffer();
        const int n = TabCurvelet[s][b].n_elem();
        if (s == last) {
          for (int k = 0; k < n; k++) z[k] = std::complex<float>(z[k].real() / factor, 0.f);
          continue;
        }
        const std::complex<float>* w = TabCurvelet[s][b + D / 2].buffer();
        for (int k = 0; k < n; k++)
          z[k] = std::complex<float>(z[k].real() / factor, w[k].real() / factor);
      }
    }
#pragma omp parallel for schedule(dynamic)
    for (int b = 0; b < finish; b++) {
      Plane& wedge = TabCurvelet[s][b];
      FFT2D.fftn2d(wedge, False);
      plane_divide(wedge, wedge_norm(wedge));
    }
    if (Real && s < last) {
      // A real image has a Hermitian spectrum: the opposite wedge, turned by
      // half a turn with the same windows, is the conjugate position by position.
      for (int b = 0; b < finish; b++) {
        const Plane& wedge = TabCurvelet[s][b];
        Plane& opposite = TabCurvelet[s][b + D / 2];
        const std::complex<float>* z = wedge.buffer();
        std::complex<float>* w = opposite.buffer();
        for (int k = 0; k < wedge.n_elem(); k++) w[k] = std::conj(z[k]);
      }
    }
    if (TabCF[s].naxis() != 2 || TabCF[s].nl() != nls(s) || TabCF[s].nc() != ncs(s))
      TabCF[s].resize(nls(s), ncs(s));
    if (D < 2) {
      TabCF[s] = TabCurvelet[s][0];
    } else {
      if (Verbose) std::printf("Put Wedges Scale %d, NbrDir = %d\n", s + 1, D);
      Plans[s].paste(TabCurvelet[s], TabCF[s]);
    }
  }
}

void FCUR::get_band(int s, int b, to_array<float, false>& Band) const {
  const int nl = size_band_nl(s, b), nc = size_band_nc(s, b);
  if (Band.naxis() != 2 || Band.nl() != nl || Band.nc() != nc) Band.resize(nl, nc);
  const Plane& plane = TabCurvelet[s][Real ? b : b / 2];
  const float* z = reinterpret_cast<const float*>(plane.buffer());
  const int part = Real ? 0 : (b & 1);
  float* out = Band.buffer();
  for (int k = 0; k < nl * nc; k++) out[k] = z[2 * k + part];
}

void FCUR::put_band(int s, int b, to_array<float, false>& Band) {
  const int nl = size_band_nl(s, b), nc = size_band_nc(s, b);
  if (Band.nl() != nl || Band.nc() != nc)
    fatal_exitf(-1, stdout,
                "Error: incorrect image size in FCUR::put_band ... \n       Band size = %d %d\n",
                Band.nl(), Band.nc());
  Plane& plane = TabCurvelet[s][Real ? b : b / 2];
  float* z = reinterpret_cast<float*>(plane.buffer());
  const int part = Real ? 0 : (b & 1);
  const float* in = Band.buffer();
  for (int k = 0; k < nl * nc; k++) z[2 * k + part] = in[k];
}

int fct_real_get_band_size(int NbrScale, int Nl, int Nc, int NbrDir,
                           to_array<int, true>& TabSizeNl, to_array<int, true>& TabSizeNc) {
  if (NbrScale < 2)
    fatal_exitf(-1, stdout, "Error: bad number of scales in FCUR: %d (2 at least) ...\n",
                NbrScale);
  to_array<int, true> directions;
  fcur_fine_directions(NbrScale, NbrDir, directions);
  int total = 1;
  for (int s = 0; s < NbrScale - 1; s++) {
    directions(s) = std::max(directions(s), MinDirections);
    total += directions(s);
  }
  TabSizeNl.alloc(total, "TabSizeNl");
  TabSizeNc.alloc(total, "TabSizeNc");
  double A = odd_size(Nl), B = odd_size(Nc);
  int band = 0;
  for (int s = 0; s < NbrScale - 1; s++) {
    wedge_sizes(A, B, directions(s), TabSizeNl.buffer() + band, TabSizeNc.buffer() + band);
    band += directions(s);
    A /= 2.;
    B /= 2.;
  }
  TabSizeNl(band) = 2 * static_cast<int>(std::floor(A / 2.)) + 1;
  TabSizeNc(band) = 2 * static_cast<int>(std::floor(B / 2.)) + 1;
  return total;
}
