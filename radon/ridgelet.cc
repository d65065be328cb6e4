// Ridgelet variants, parameters, the geometry of the blocks and of the
// ridgelet image, the angle table and the overlap weights.
#include "radon/ridgelet.h"

#include <cmath>
#include <cstdio>

#ifdef _OPENMP
#include <omp.h>
#endif

#include "array/fatal.h"
#include "array/scalar_helpers.h"
#include "radon/ridgelet_worker.h"

namespace {

struct RidVariant {
  const char* text;
  int rid_class;
  type_radon radon;
};

// Indexed by the variant, 1 to 9.
const RidVariant TabRidVariant[NBR_RIDGELET_TRANSFORMS + 1] = {
    {"Undefined transform", 0, RADON_FFT},
    {"RectoPolar Ridgelet Transform using a standard bi-orthogonal WT", 3, RADON_FFT},
    {"RectoPolar Ridgelet Transform using a FFT based Pyramidal WT", 1, RADON_FFT},
    {"RectoPolar Ridgelet Transform using a Pyramidal WT in direct space", 1, RADON_FFT},
    {"Finite ridgelet transform", 4, RADON_FINITE},
    {"Slant Stack Radon transform + FFT based pyramidal WT.", 1, RADON_SLANT_STACK},
    {"Slant Stack Radon transformand + bi-orthogonal WT", 3, RADON_SLANT_STACK},
    {"Slant Stack Radon transformand + pyramidal WT in direct space", 1, RADON_SLANT_STACK},
    {"Undecimated bi-orthogonal WT", 2, RADON_FFT},
    {"Undecimated FFT based WT", 2, RADON_FFT},
};

const RidVariant& variant(type_ridgelet_WTtrans T) {
  int k = static_cast<int>(T);
  return TabRidVariant[k >= 1 && k <= NBR_RIDGELET_TRANSFORMS ? k : 0];
}

int max_threads() {
#ifdef _OPENMP
  return omp_get_max_threads();
#else
  return 1;
#endif
}

}  // namespace

const float TabNormRid_PyrDiffResol[NBR_TAB_NORM_RID] = {
    0.8546f, 0.215f, 0.1265f, 0.097f, 0.0669f, 0.0483f, 0.0342f, 0.0242f, 0.0171f, 0.0121f};

const char* StringRidTransform(type_ridgelet_WTtrans Type) { return variant(Type).text; }
int rid_class(type_ridgelet_WTtrans Type) { return variant(Type).rid_class; }
bool rid_slant_stack(type_ridgelet_WTtrans Type) { return variant(Type).radon == RADON_SLANT_STACK; }

namespace {

// Rising ramp sin^2 at the start of every block but the first (read at
// rise_k), falling ramp cos^2 from M on in every block but the last, 1
// elsewhere; computed in double.
float ramp_weight(int M, int rise_k, int k, int b, int NbrB) {
  const double half_pi = M_PI / 2.;
  double w = 1.;
  if (b > 0 && k < M) {
    double s = std::sin(static_cast<double>(rise_k) / M * half_pi);
    w = s * s;
  } else if (b != NbrB - 1 && k >= M) {
    double c = std::cos(static_cast<double>(k - M) / M * half_pi);
    w = c * c;
  }
  return static_cast<float>(w);
}

}  // namespace

// For an even side B the blocks overlap by B - Step = B / 2 pixels. The ramp
// length M must cover that overlap for the weights of two neighbours to sum
// to 1: Ovl + Step / 2 does so when B is a multiple of 4 (Step even) but is
// one pixel short when B = 2 mod 4 (Step odd); Ovl + (Step + 1) / 2 equals it
// in both cases.
float lap_weight(int Step, int Overlap, int k, int b, int NbrB) {
  if (Overlap == 0) return 1.f;
  return ramp_weight(Overlap + (Step + 1) / 2, k, k, b, NbrB);
}

// Odd (prime) sides: the ramp rises one sample earlier and the sample before
// the next block's origin keeps its full weight.
float frt_lap_weight(int Step, int Overlap, int k, int b, int NbrB) {
  if (Overlap == 0) return 1.f;
  if (k == Step - 1) return 1.f;
  return ramp_weight(Overlap + Step / 2, k + 1, k, b, NbrB);
}

Ridgelet::Ridgelet() { reset(nullptr); }
Ridgelet::Ridgelet(SubBand1D& SB) { reset(&SB); }

Ridgelet::~Ridgelet() {
  TabImaBlockSigma.clear();
  Workers.clear();
}

void Ridgelet::reset(SubBand1D* SB) {
  SB1D = SB;
  RidClass = rid_class(RID_PYR_FFT);
  FourierRadon = True;
  OverlapSize = 0;
  TabAngle.free();
  TabPos.free();
  TabSize.free();
  TabNorm.free();
  UpdateTabNorm = True;
  CstBlockRadon.free();
  Allocated = False;
  AutoScale1D = True;
  NbrScale1D = -1;
  SplitLowFreq = False;
  RidTrans = RID_PYR_FFT;
  BlockOverlap = True;
  Verbose = False;
  StatInfo = False;
  VarianceStab = False;
  FirstDetectScale = 0;
  KillLastScale = False;
  ColTrans = False;
  WPFirstScale = False;
  WeightBeforeTrans = False;
  MadThreshold = False;
  MadPerScale = True;
  NbrIter = 1;
  RegulParam = 0.2f;
  KillFluctu = 0.f;
  FormatIn = Format_Imag;
  VarNorm = False;
  TabImaBlockSigma.clear();
  Workers.clear();
}

namespace {

// Samples per Radon projection of a block of side B: the slant stack's
// projections are twice as long as the block.
int projection_length(type_ridgelet_WTtrans T, int B) { return rid_slant_stack(T) ? 2 * B : B; }

// Columns a projection takes in a ridgelet block: a pyramid of 1D scales
// needs twice the projection's length; without 1D scales the block is the
// Radon image itself.
int block_columns(type_ridgelet_WTtrans T, int B, bool scales) {
  const int n = projection_length(T, B);
  return rid_class(T) == 1 && scales ? 2 * n : n;
}

}  // namespace

bool rid_scales_fit(type_ridgelet_WTtrans Type, int NbrScale, int B) {
  const int cls = rid_class(Type);
  // The undecimated variants keep their scales outside the ridgelet image.
  if (NbrScale <= 1 || (cls != 1 && cls != 3 && cls != 4)) return true;
  const bool biorthogonal = cls != 1;
  const long width = block_columns(Type, B, true);
  long n = projection_length(Type, B), sum = 0;
  // Each scale adds at least one column or ends the walk, so it stops
  // within width + log2(B) steps whatever NbrScale is.
  for (int s = 0; s < NbrScale; s++) {
    const long size = biorthogonal && s < NbrScale - 1 ? n / 2 : n;
    sum += size;
    if (size < 1 || sum > width) return false;
    n = (n + 1) / 2;
  }
  return true;
}

int rid_max_scale_number(type_ridgelet_WTtrans Type, int B) {
  int count = 1;
  while (count < 64 && rid_scales_fit(Type, count + 1, B)) count++;
  return count;
}

RidgeletGeometry Ridgelet::geometry(int NlIma, int NcIma, int B) const {
  RidgeletGeometry g;
  g.BlockOverlap = BlockOverlap;
  if (B > 0) {
    // Below 4 pixels the overlap margin B / 4 is 0 and there is no ramp: the
    // half-overlapping blocks would all count twice where they meet, so such
    // small blocks are laid side by side.
    if (B < 4) g.BlockOverlap = False;
    g.BlockImaSize = g.BlockOverlap ? (B + 1) / 2 : B;
    g.BlockSize = B;
    g.OverlapSize = g.BlockOverlap ? B / 4 : 0;
    g.NbrBi = (NlIma + g.BlockImaSize - 1) / g.BlockImaSize;
    g.NbrBj = (NcIma + g.BlockImaSize - 1) / g.BlockImaSize;
  } else {
    g.NbrBi = g.NbrBj = 1;
    g.BlockOverlap = False;
    g.OverlapSize = 0;
    if (RidTrans == RID_FINITE) {
      CPRIME_NUMBER primes;
      g.BlockImaSize = std::max(primes.next_prime_number(NlIma), primes.next_prime_number(NcIma));
    } else {
      g.BlockImaSize = next_power_of_2(std::max(NlIma, NcIma) - 1);
      if (!rid_slant_stack(RidTrans)) g.BlockImaSize++;
    }
    g.BlockSize = g.BlockImaSize;
  }
  g.NbrScale1D = AutoScale1D ? max_scale_number(g.BlockSize) : NbrScale1D;
  g.Nlb = RidTrans == RID_FINITE ? g.BlockSize + 1 : 2 * g.BlockSize;
  g.Ncb = block_columns(RidTrans, g.BlockSize, AutoScale1D || g.NbrScale1D > 1);
  g.RidNl = static_cast<long>(g.Nlb) * g.NbrBi;
  g.RidNc = static_cast<long>(g.Ncb) * g.NbrBj;
  return g;
}

void Ridgelet::alloc(int NlIma, int NcIma, int B) {
  if (Allocated && NlIma == Nl && NcIma == Nc && B == BlockSize) return;
  const RidgeletGeometry g = geometry(NlIma, NcIma, B);
  if (!rid_scales_fit(RidTrans, g.NbrScale1D, g.BlockSize))
    fatal_exitf(-1, stdout,
                "Error: %d 1D scales do not fit a ridgelet block of %d pixels (at most %d) ...\n",
                g.NbrScale1D, g.BlockSize, rid_max_scale_number(RidTrans, g.BlockSize));
  Allocated = True;
  Nl = NlIma;
  Nc = NcIma;
  RidClass = rid_class(RidTrans);
  BlockOverlap = g.BlockOverlap;
  BlockSize = g.BlockSize;
  BlockImaSize = g.BlockImaSize;
  OverlapSize = g.OverlapSize;
  NbrBi = g.NbrBi;
  NbrBj = g.NbrBj;
  if (AutoScale1D) {
    NbrScale1D = g.NbrScale1D;
    if (Verbose) std::printf("Number of scales = %d\n", NbrScale1D);
  }
  if (NbrScale1D > 1) set_tab_pos(NbrScale1D, BlockSize);
  Nlb = g.Nlb;
  Ncb = g.Ncb;
  RidNl = static_cast<int>(g.RidNl);
  RidNc = static_cast<int>(g.RidNc);

  set_tab_angle();
  TabImaBlockSigma.assign(std::max(NbrScale1D, 0), to_array<float, false>());

  const type_radon method = variant(RidTrans).radon;
  if (rid_slant_stack(RidTrans)) {
    RadonTrans.Verbose = Verbose;
    RadonTrans.alloc(BlockSize, BlockSize, method, 0, 0);
    radon_transform_one_cst_block();
    RadonTrans.Verbose = False;
  } else {
    RadonTrans.alloc(BlockSize, BlockSize, method, 0, 0);
  }
  make_weight_table();
  make_workers();

  if (Verbose) {
    std::printf("RID INIT: \n");
    std::printf("      Image size: Nl  = %d Nc = %d\n", Nl, Nc);
    std::printf("      Block size = %d\n", BlockSize);
    std::printf("      Ridgelet image size: Nl  = %d Nc = %d\n", RidNl, RidNc);
    std::printf("      Number of block: NbrBi = %d NbrBj = %d\n", NbrBi, NbrBj);
    std::printf("      Ridgelet Block size: Nlb = %d Ncb = %d\n", Nlb, Ncb);
    std::printf("      BlockImaSize = %d\n", BlockImaSize);
    std::printf("      Overlapping size = %d\n", OverlapSize);
    std::printf("      NbrScale1D = %d\n", NbrScale1D);
  }
}

void Ridgelet::make_workers() {
  const int threads = std::max(1, std::min(max_threads(), NbrBi * NbrBj));
  Workers.clear();
  for (int t = 0; t < threads; t++) {
    auto w = std::make_unique<RidgeletWorker>();
    if (t == 0) {
      w->radon = &RadonTrans;
    } else {
      w->owned = std::make_unique<Radon>();
      w->owned->alloc(BlockSize, BlockSize, variant(RidTrans).radon, 0, 0);
      w->owned->share_linogram_table(RadonTrans);
      w->radon = w->owned.get();
    }
    w->block.alloc(BlockSize, BlockSize, "block");
    w->ridblock.alloc(Nlb, Ncb, "blocktrans");
    Workers.push_back(std::move(w));
  }
}

void Ridgelet::set_block_param_from_transform(int RNl, int RNc, int B) {
  if (B == 0) BlockOverlap = False;
  int lines = RidTrans == RID_FINITE ? RNl - 1 : RNl / 2;
  // The inverse of alloc's column count: a ridgelet block is a whole
  // number of block sides wide.
  int cols = RNc / block_columns(RidTrans, 1, AutoScale1D || NbrScale1D > 1);
  if (BlockOverlap) {
    lines /= 2;
    cols /= 2;
  }
  alloc(lines, cols, B);
}

int Ridgelet::set_tab_pos(int NbrScale, int B) {
  if (TabPos.n_elem() != NbrScale) {
    TabPos.alloc(NbrScale, "TabPos");
    TabSize.alloc(NbrScale, "TabSize");
  }
  int n = projection_length(RidTrans, B);
  const int cls = rid_class(RidTrans);
  if (cls == 3 || cls == 4) {
    for (int s = 0; s < NbrScale - 1; s++) {
      TabSize(s) = n / 2;
      n = (n + 1) / 2;
    }
    TabSize(NbrScale - 1) = n;
  } else {
    for (int s = 0; s < NbrScale; s++) {
      TabSize(s) = n;
      n = (n + 1) / 2;
    }
  }
  TabPos(NbrScale - 1) = 0;
  for (int s = NbrScale - 2; s >= 0; s--) TabPos(s) = TabPos(s + 1) + TabSize(s + 1);
  int sum = 0;
  for (int s = 0; s < NbrScale; s++) sum += TabSize(s);
  return sum;
}

void Ridgelet::set_tab_angle() {
  TabAngle.alloc(2 * BlockSize, "TabAngle");
  const int h = BlockSize / 2;
  if (h == 0) return;
  for (int k = 0; k <= h; k++) {
    double a = std::atan(static_cast<double>(k) / h);
    TabAngle(k) = a;
    TabAngle(BlockSize - k) = M_PI / 2. - a;
    TabAngle(BlockSize + k) = a + M_PI / 2.;
    if (k > 0) TabAngle(2 * BlockSize - k) = M_PI - a;
  }
}

void Ridgelet::radon_transform_one_cst_block() {
  to_array<float, false> block(BlockSize, BlockSize, "block");
  block.init(1.f);
  RadonTrans.transform(block, CstBlockRadon);
  float* p = CstBlockRadon.buffer();
  for (int k = 0; k < CstBlockRadon.n_elem(); k++) p[k] = p[k] < 1.f ? 1.f : std::sqrt(p[k]);
}

void Ridgelet::make_weight_table() {
  // The weights depend on the block only through whether it is the first,
  // the last, both or neither.
  const int first_b[4] = {0, 1, 2, 0}, nbr_b[4] = {3, 3, 3, 1};
  const bool odd = BlockSize % 2 != 0;
  for (int kind = 0; kind < 4; kind++) {
    TabWeight[kind].resize(BlockSize);
    for (int k = 0; k < BlockSize; k++)
      TabWeight[kind][k] =
          odd ? frt_lap_weight(BlockImaSize, OverlapSize, k, first_b[kind], nbr_b[kind])
              : lap_weight(BlockImaSize, OverlapSize, k, first_b[kind], nbr_b[kind]);
  }
}

float Ridgelet::axis_weight(int k, int b, int NbrB) const {
  const int kind = NbrB == 1 ? 3 : (b == 0 ? 0 : (b == NbrB - 1 ? 2 : 1));
  return TabWeight[kind][k];
}

float Ridgelet::get_weight(int bi, int bj, int i, int j) const {
  return axis_weight(i, bi, NbrBi) * axis_weight(j, bj, NbrBj);
}
