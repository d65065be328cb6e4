// The pyramidal curvelet transform: block sides per pyramid scale, the
// allocation of the pyramid and of one ridgelet per detail band, the forward
// and inverse transforms, and access to the curvelet bands.
#include "curvelet/pyr_curvelet.h"

#include <cmath>
#include <cstdio>

#include "array/array_ops.h"
#include "array/fatal.h"
#include "array/scalar_helpers.h"

namespace {

// No block side (but the first) falls below this.
constexpr int MinBlockSide = 8;
constexpr int NbrBlockSides = 10;

}  // namespace

PyrCurvelet::PyrCurvelet() { reset(nullptr); }

PyrCurvelet::~PyrCurvelet() { SB1D = nullptr; }

void PyrCurvelet::reset(SubBand1D* SB) {
  BlockSize = 16;
  TabTrans.reset();
  TabRidgelet.reset();
  NbrRidgelet = 0;
  SB1D = SB;
  NbrBand = 0;
  Initialized = False;
  TypeTransform = TO_PYR_BSPLINE;
  FormatIn = Format_Imag;
  TypeBlock = 2;
  RidTrans = RID_PYR_FFT;
  BlockOverlap = True;
  ColTrans = False;
  AutoScale1D = True;
  Verbose = False;
  InfoScale = 1.;
  StatInfo = False;
  Border = I_MIRROR;
  WPFirstScale = False;
  NbrScale2D = 4;
  NbrScale1D = -1;
  TabBlockSize.reform(NbrBlockSides);
  OddBlockSize = True;
}

void PyrCurvelet::tab_block_size_init(int BS) {
  CPRIME_NUMBER primes;
  const bool finite = RidTrans == RID_FINITE;
  int v = finite ? primes.next_prime_number(BS) : BS;
  const set_transform family = SetTransform(TypeTransform);
  if (family == TRANSF_MALLAT || family == TRANSF_FEAUVEAU) v /= 2;
  TabBlockSize.reform(NbrBlockSides);
  for (int i = 0; i < NbrBlockSides; i++) {
    TabBlockSize(i) = v;
    switch (family) {
      case TRANSF_PYR:
      case TRANSF_MALLAT:
      case TRANSF_FEAUVEAU:
        if (i > 0) v /= 2;
        break;
      case TRANSF_PAVE:
      case TRANSF_UNDECIMATED_MALLAT:
      case TRANSF_DIADIC_MALLAT:
        if (i % 2 == 0) v *= 2;
        break;
      case TRANSF_SEMIPYR:
        if (i > 0) v = iround(static_cast<float>(v) / std::sqrt(2.f));
        break;
      default:
        break;
    }
    if (v < MinBlockSide) v = MinBlockSide;
    // The finite Radon transform needs a prime side: the base size's.
    if (finite) v = primes.next_prime_number(BS);
  }
  if (!finite && OddBlockSize)
    for (int i = 0; i < NbrBlockSides; i++)
      if (TabBlockSize(i) % 2 == 0) TabBlockSize(i)++;
}

void PyrCurvelet::ridgelet_init(Ridgelet& R) {
  if (SB1D != nullptr) R.reset(SB1D);
  R.BlockOverlap = BlockOverlap;
  R.ColTrans = ColTrans;
  R.StatInfo = StatInfo;
  R.AutoScale1D = AutoScale1D;
  R.RidTrans = RidTrans;
  R.WPFirstScale = WPFirstScale;
  if (!AutoScale1D) R.NbrScale1D = NbrScale1D;
}

void PyrCurvelet::alloc(int NlIma, int NcIma, int BS) {
  if (NlIma < 1 || NcIma < 1)
    fatal_exitf(-1, stdout, "Error: the curvelet class cannot be allocated for an image of %d x %d ...\n",
                NlIma, NcIma);
  // Without a 1D scale a ridgelet band would hold no curvelet band at all.
  if (!AutoScale1D && NbrScale1D < 1)
    fatal_exitf(-1, stdout, "Error: bad number of 1D scales in the curvelet transform: %d ...\n",
                NbrScale1D);
  FormatIn = Format_Imag;
  if (Verbose) std::printf("Class allocation ... \n");
  tab_block_size_init(BS);
  if (Verbose) std::printf("Wavelet allocation ... \n");

  auto filter = std::make_unique<FilterAnaSynt>();
  if (TypeTransform == TO_MALLAT || TypeTransform == TO_UNDECIMATED_MALLAT) {
    filter->Verbose = Verbose;
    filter->alloc(F_MALLAT_7_9);
  }
  WT.alloc(NlIma, NcIma, NbrScale2D, TypeTransform, filter.get(), NORM_L2, -1, U_B3SPLINE_2);
  // The previous description (if any) outlives the call above, which may
  // still have read it while releasing the previous bands.
  WTFilter = std::move(filter);
  NbrBand2D = WT.nbr_band();
  WT.ExactPyrRec = True;

  if (Verbose) std::printf("Ridgelet allocation ... \n");
  NbrRidgelet = NbrBand2D - 1;
  TabRidgelet = std::make_unique<Ridgelet[]>(NbrRidgelet);
  Initialized = True;

  TabTrans = std::make_unique<to_array<float, false>[]>(NbrBand2D);
  NbrBand = 1;
  for (int b = 0; b < NbrRidgelet; b++) {
    const int s = WT.band_to_scale(b);
    if (s >= NbrBlockSides)
      fatal_exitf(-1, stdout,
                  "Error: too many scales in the curvelet transform: block sides are set for %d "
                  "scales ...\n",
                  NbrBlockSides);
    if (Verbose) std::printf("INIT RIDGELET Scale %dBlock size = %d\n", b + 1, TabBlockSize(s));
    Ridgelet& R = TabRidgelet[b];
    ridgelet_init(R);
    R.alloc(WT.size_band_nl(b), WT.size_band_nc(b), TabBlockSize(s));
    if (R.NbrScale1D < 1)
      fatal_exitf(-1, stdout,
                  "Error: block size %d too small for the curvelet transform: no 1D scale ...\n",
                  TabBlockSize(s));
    TabTrans[b].alloc(R.rid_nl(), R.rid_nc(), "Scale Trans");
    NbrBand += R.NbrScale1D;
  }
  TabTrans[NbrBand2D - 1].alloc(WT.size_band_nl(NbrBand2D - 1), WT.size_band_nc(NbrBand2D - 1),
                                "Last Scale");
  Nl = NlIma;
  Nc = NcIma;

  TabBandSigma = std::make_unique<to_array<float, true>[]>(NbrBand2D);
  for (int b = 0; b < NbrRidgelet; b++)
    TabBandSigma[b].alloc(TabRidgelet[b].NbrScale1D, TabRidgelet[b].block_size(), "BandSigma");
}

void PyrCurvelet::transform(to_array<float, false>& Ima) {
  if (!Initialized) fatal_exit("Error: the curvelet class is not initialized ... \n");
  if (Ima.naxis() != 2 || Ima.nl() != Nl || Ima.nc() != Nc)
    fatal_exitf(-1, stdout,
                "Error: the curvelet class is not initialized for this given image size ... \n"
                "       Image size = %d %d\n       Expected size = %d %d\n",
                Ima.nl(), Ima.nc(), Nl, Nc);
  if (NbrRidgelet != NbrBand2D - 1)
    fatal_exitf(-1, stdout,
                "Error: the curvelet class is not initialized for this number of scales ... \n"
                "       Scale number  = %d\n       Expected Scale number = %d\n",
                NbrScale2D, NbrRidgelet + 1);
  WT.transform(Ima);
  std::printf(" NbrBand2D = %d\n", NbrBand2D);
  for (int b = 0; b < NbrRidgelet; b++) {
    if (Verbose)
      std::printf(" BAND %d Block size = %d NbrScale WT1D = %d\n", b + 1,
                  TabBlockSize(WT.band_to_scale(b)), TabRidgelet[b].NbrScale1D);
    INFO(WT.band(b), "BANDWT2D", InfoScale);
    TabRidgelet[b].transform(WT.band(b), TabTrans[b]);
  }
  TabTrans[NbrBand2D - 1] = WT.band(NbrBand2D - 1);
}

void PyrCurvelet::recons(to_array<float, false>& Ima) {
  if (!Initialized) fatal_exit("Error: the curvelet class is not initialized ... \n");
  std::printf("Reconstructed image size: Nl =  %d Nc = %d NbrBand2D = %d\n", Nl, Nc, NbrBand2D);
  if (Ima.naxis() != 2 || Ima.nl() != Nl || Ima.nc() != Nc) Ima.alloc(Nl, Nc, "rec");
  WT.band(NbrBand2D - 1) = TabTrans[NbrBand2D - 1];
  for (int b = NbrRidgelet - 1; b >= 0; b--) {
    if (Verbose) {
      std::printf(" RECBAND %d Block size = %d NbrScale WT1D = %d\n", b + 1,
                  TabBlockSize(WT.band_to_scale(b)), TabRidgelet[b].NbrScale1D);
      // A trace of the coefficients as they go back, for debugging only: a
      // normal run leaves nothing in the working directory.
      char name[32];
      std::snprintf(name, sizeof name, "xx_rid_band_%d.rid", b + 1);
      TabRidgelet[b].write(name, TabTrans[b]);
    }
    TabRidgelet[b].recons(TabTrans[b], WT.band(b));
    INFO(WT.band(b), "BANDWT2D", InfoScale);
  }
  WT.recons(Ima, I_CONT);
}

const Ridgelet* PyrCurvelet::ridgelet_of(int s2d) const {
  if (s2d < 0 || s2d >= NbrBand2D)
    fatal_exitf(-1, stdout, "Error: bad pyramid band %d: 0 <= band < %d ...\n", s2d, NbrBand2D);
  return s2d < NbrBand2D - 1 ? &TabRidgelet[s2d] : nullptr;
}

int PyrCurvelet::nbr_rid_scale(int s2d) const {
  const Ridgelet* R = ridgelet_of(s2d);
  return R == nullptr ? 1 : R->NbrScale1D;
}

void PyrCurvelet::get_scale_number(int k, int& s2d, int& s1d) const {
  s2d = s1d = 0;
  if (k < 0 || k >= NbrBand)
    fatal_exitf(-1, stderr,
                "Error: bad number of band in get_scale_number: %d\n       0 <= NumBand < %d\n",
                k, NbrBand);
  if (k == NbrBand - 1) {
    s2d = NbrBand2D - 1;
    return;
  }
  int total = 0;
  while (s2d < NbrBand2D - 1 && total + TabRidgelet[s2d].NbrScale1D <= k) {
    total += TabRidgelet[s2d].NbrScale1D;
    s2d++;
  }
  s1d = s2d == NbrBand2D - 1 ? 0 : k - total;
}

// A ridgelet with a single 1D scale keeps the Radon images of its blocks:
// its whole image is that scale.
int PyrCurvelet::ipos(int s2d, int s1d) const {
  const Ridgelet* R = ridgelet_of(s2d);
  return R == nullptr || R->NbrScale1D < 2 ? 0 : R->ipos(s1d);
}

int PyrCurvelet::jpos(int s2d, int s1d) const {
  const Ridgelet* R = ridgelet_of(s2d);
  return R == nullptr || R->NbrScale1D < 2 ? 0 : R->jpos(s1d);
}

int PyrCurvelet::size_nl(int s2d, int s1d) const {
  const Ridgelet* R = ridgelet_of(s2d);
  if (R == nullptr) return WT.size_band_nl(NbrBand2D - 1);
  return R->NbrScale1D < 2 ? R->rid_nl() : R->size_scale_nl(s1d);
}

int PyrCurvelet::size_nc(int s2d, int s1d) const {
  const Ridgelet* R = ridgelet_of(s2d);
  if (R == nullptr) return WT.size_band_nc(NbrBand2D - 1);
  return R->NbrScale1D < 2 ? R->rid_nc() : R->size_scale_nc(s1d);
}

int PyrCurvelet::size_band_nl(int k) const {
  int s2d, s1d;
  get_scale_number(k, s2d, s1d);
  return size_nl(s2d, s1d);
}

int PyrCurvelet::size_band_nc(int k) const {
  int s2d, s1d;
  get_scale_number(k, s2d, s1d);
  return size_nc(s2d, s1d);
}

namespace {

void check_pair(int s2d, int s1d, int nbr_scale) {
  if (s1d < 0 || s1d >= nbr_scale)
    fatal_exitf(-1, stdout, "Error: bad 1D scale %d of pyramid band %d: 0 <= scale < %d ...\n",
                s1d, s2d, nbr_scale);
}

}  // namespace

void PyrCurvelet::get_band(int s2d, int s1d, to_array<float, false>& Band) const {
  check_pair(s2d, s1d, nbr_rid_scale(s2d));
  const int nl = size_nl(s2d, s1d), nc = size_nc(s2d, s1d);
  const int i0 = ipos(s2d, s1d), j0 = jpos(s2d, s1d);
  if (Band.naxis() != 2 || Band.nl() != nl || Band.nc() != nc) Band.resize(nl, nc);
  for (int i = 0; i < nl; i++) {
    const float* in = &TabTrans[s2d](i + i0, j0);
    float* out = &Band(i, 0);
    for (int j = 0; j < nc; j++) out[j] = in[j];
  }
}

void PyrCurvelet::get_band(int k, to_array<float, false>& Band) const {
  int s2d, s1d;
  get_scale_number(k, s2d, s1d);
  get_band(s2d, s1d, Band);
}

void PyrCurvelet::put_band(int s2d, int s1d, const to_array<float, false>& Band) {
  check_pair(s2d, s1d, nbr_rid_scale(s2d));
  const int nl = size_nl(s2d, s1d), nc = size_nc(s2d, s1d);
  if (Band.naxis() != 2 || Band.nl() != nl || Band.nc() != nc)
    fatal_exitf(-1, stderr, "Error: bad image size: %d %d\n       Expected size: %d %d\n",
                Band.nl(), Band.nc(), nl, nc);
  const int i0 = ipos(s2d, s1d), j0 = jpos(s2d, s1d);
  for (int i = 0; i < nl; i++) {
    const float* in = &Band(i, 0);
    float* out = &TabTrans[s2d](i + i0, j0);
    for (int j = 0; j < nc; j++) out[j] = in[j];
  }
}

void PyrCurvelet::put_band(int k, const to_array<float, false>& Band) {
  int s2d, s1d;
  get_scale_number(k, s2d, s1d);
  put_band(s2d, s1d, Band);
}

float& PyrCurvelet::operator()(int k, int i, int j) const {
  int s2d, s1d;
  get_scale_number(k, s2d, s1d);
  const int nl = size_nl(s2d, s1d), nc = size_nc(s2d, s1d);
  if (i < 0 || j < 0 || i >= nl || j >= nc)
    fatal_exitf(-1, stdout, "Error: bad coordinated ==> i = %d j = %d\n       Band size = %d %d\n",
                i, j, nl, nc);
  return TabTrans[s2d](i + ipos(s2d, s1d), j + jpos(s2d, s1d));
}

// The residual is not cut into blocks: 0.
int PyrCurvelet::block_size(int k) const {
  int s2d, s1d;
  get_scale_number(k, s2d, s1d);
  const Ridgelet* R = ridgelet_of(s2d);
  return R == nullptr ? 0 : R->block_size();
}

int PyrCurvelet::noise_period(int s2d) const {
  const Ridgelet* R = ridgelet_of(s2d);
  return R == nullptr ? 1 : R->block_size();
}
