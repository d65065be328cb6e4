// Curvelet parameters, the block-size table, allocation of one ridgelet per
// detail scale, the band numbering, and the transform and reconstruction in
// the band-array and cube layouts. The a trous split goes through the a
// trous transform's own smoothing (same taps, arithmetic and border rule);
// the ridgelets run their blocks in parallel.
#include "curvelet/curvelet.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

#include <omp.h>

#include "array/fatal.h"
#include "array/scalar_helpers.h"
#include "numerics/msvst.h"

namespace {

const char* const BlockTypeText[] = {"Constant block size",
                                     "Block size is doubled at each resolution",
                                     "Block size is doubled at each two resolutions",
                                     "Block size is divided by 2 at each resolution",
                                     "Block size is divided by 2 at each two resolutions"};

// 2D scale counts the block table can serve (one entry per detail scale).
constexpr int MinScale2D = 2;
constexpr int MaxScale2D = CUR_TAB_BLOCK_SIZE + 1;

// Each detail scale reads its own block-table entry.
void check_scale_count(int NbrScale2D) {
  if (NbrScale2D < MinScale2D || NbrScale2D > MaxScale2D)
    fatal_exitf(-1, stdout,
                "Error: bad number of scales in the curvelet transform: %d (%d to %d) ...\n",
                NbrScale2D, MinScale2D, MaxScale2D);
}

[[noreturn]] void bad_scale_number(int NbrScale2D, int NbrRidgelet) {
  fatal_exitf(-1, stdout,
              "Error: the curvelet class is not initialized for this number of scales ... \n"
              "       Scale number  = %d\n       Expected Scale number = %d\n",
              NbrScale2D, NbrRidgelet + 1);
}

void shape(to_array<float, false>& ima, int nl, int nc, const char* name) {
  if (ima.naxis() != 2 || ima.nl() != nl || ima.nc() != nc) ima.alloc(nl, nc, name);
}

}  // namespace

void curvelet_not_initialized() {
  fatal_exit("Error: the curvelet class is not initialized ... \n");
}

const char* StringBlockType(type_curvelet_block Type) {
  const int k = static_cast<int>(Type);
  return k >= 0 && k <= 4 ? BlockTypeText[k] : "Undefined block type";
}

Curvelet::Curvelet() { reset(nullptr); }

Curvelet::~Curvelet() {
  SB1D = nullptr;
  release_atrous_bands();
}

void Curvelet::release_atrous_bands() {
  if (AtrousBands != nullptr) Smoothing.free(AtrousBands, AtrousBandCount);
  AtrousBands = nullptr;
  AtrousBandCount = 0;
}

void Curvelet::reset(SubBand1D* SB) {
  SB1D = SB;
  BlockSize = 16;
  Initialized = False;
  NbrRidgelet = 0;
  VarNorm = False;
  MSVST = False;
  FormatIn = Format_Imag;
  TypeBlock = BL_UP2;
  RidTrans = RID_PYR_FFT;
  BlockOverlap = True;
  ColTrans = False;
  AutoScale1D = True;
  Verbose = False;
  StatInfo = False;
  Border = I_MIRROR;
  WPFirstScale = False;
  NbrScale2D = 4;
  NbrScale1D = -1;
  OddBlockSize = True;
  MadNormBlock = False;
  TabBlockSize.alloc(CUR_TAB_BLOCK_SIZE, "TabBlockSize");
  tab_block_size_init(16);
}

void Curvelet::tab_block_size_init(int BS) {
  const bool finite = RidTrans == RID_FINITE;
  CPRIME_NUMBER primes;
  auto next_prime = [&](int v) {
    return primes.next_prime_number(static_cast<unsigned long>(std::max(v, 0)));
  };
  int v = finite ? next_prime(BS) : next_power_of_2(BS);
  const bool known_rule = TypeBlock >= BL_CONST && TypeBlock <= BL_DOWN2;
  if (known_rule) {
    for (int i = 0; i < CUR_TAB_BLOCK_SIZE; i++) {
      TabBlockSize(i) = v;
      switch (TypeBlock) {
        case BL_CONST:
          break;
        case BL_UP:
          v *= 2;
          break;
        case BL_UP2:
          if (i % 2 == 0) v *= 2;
          break;
        case BL_DOWN:
          v = std::max(v / 2, 8);
          break;
        case BL_DOWN2:
          if (i % 2 == 0) v = std::max(v / 2, 8);
          break;
      }
      if (finite) v = next_prime(v);
    }
  }
  if (!finite && OddBlockSize)
    for (int i = 0; i < CUR_TAB_BLOCK_SIZE; i++) TabBlockSize(i) += 1;
}

void Curvelet::block_table_for_alloc(int BS) {
  // The slant stack's pseudo-polar grid runs on radix-2 FFTs: its blocks
  // keep the power-of-two sides.
  if (RidTrans == RID_SS_PYR_FFT) OddBlockSize = False;
  tab_block_size_init(BS);
}

void Curvelet::ridgelet_init(Ridgelet& R) {
  if (SB1D != nullptr) R.reset(SB1D);
  R.BlockOverlap = BlockOverlap;
  R.ColTrans = ColTrans;
  R.StatInfo = StatInfo;
  R.AutoScale1D = AutoScale1D;
  R.RidTrans = RidTrans;
  R.Verbose = Verbose;
  R.WPFirstScale = WPFirstScale;
  if (!AutoScale1D) R.NbrScale1D = NbrScale1D;
}

void Curvelet::alloc(int NlIma, int NcIma, int BS, Bool WeightBeforeTrans) {
  check_scale_count(NbrScale2D);
  if (NlIma < 1 || NcIma < 1)
    fatal_exitf(-1, stdout, "Error: bad image size in the curvelet transform: %d x %d ...\n", NlIma,
                NcIma);
  NlTrans = NcTrans = 0;
  FormatIn = Format_Imag;
  if (Verbose) std::printf("Class allocation ... \n");
  block_table_for_alloc(BS);
  // The value used, so that a file records what it was made with.
  BlockSize = BS;
  if (Verbose) std::printf("Ridgelet allocation ... \n");
  TabRidgelet.reset(new Ridgelet[NbrScale2D - 1]);
  RidgeletCount = NbrScale2D - 1;
  NbrRidgelet = NbrScale2D - 1;
  Initialized = True;
  for (int s = 0; s < NbrRidgelet; s++) {
    if (Verbose) std::printf("INIT RIDGELET Scale %d\n", s + 1);
    Ridgelet& R = TabRidgelet[s];
    ridgelet_init(R);
    R.alloc(NlIma, NcIma, TabBlockSize(s));
    // Without 1D scales a ridgelet image has no bands to address.
    if (R.NbrScale1D < 2)
      fatal_exitf(-1, stdout,
                  "Error: blocks of %d pixels leave the ridgelets of the curvelet transform "
                  "without 1D scales ...\n",
                  TabBlockSize(s));
    R.WeightBeforeTrans = WeightBeforeTrans;
    R.VarNorm = VarNorm;
  }
  Nl = NlIma;
  Nc = NcIma;
  set_plane_size();
  if (Verbose)
    std::printf("CURVELET size: Nl = %d Nc = %d NbrScale2D = %d\n", NlTrans, NcTrans, NbrScale2D);
  release_atrous_bands();
  // Marks of bands made before are not those of the new blocks.
  MarkedBands = nullptr;
  const int nb = nbr_band();
  TabMinLevel.alloc(nb, "TabMinLevel");
  TabMaxLevel.alloc(nb, "TabMaxLevel");
  TabSigma.alloc(nb, "TabSigma");
  TabNSigma.alloc(nb, "TabNSigma");
  TabCImaProb.reset();
  fill_tab_norm();
}

void Curvelet::set_param(int NlIma, int NcIma) {
  NlTrans = NcTrans = 0;
  MarkedBands = nullptr;
  if (!TabRidgelet) {
    check_scale_count(NbrScale2D);
    TabRidgelet.reset(new Ridgelet[NbrScale2D - 1]);
    RidgeletCount = NbrScale2D - 1;
    for (int s = 0; s < NbrScale2D - 1; s++) {
      Ridgelet& R = TabRidgelet[s];
      ridgelet_init(R);
      R.alloc(NlIma, NcIma, TabBlockSize(s));
      std::printf("\nPARAM Scale %dNlRid = %d NcRid = %d\n", s + 1, R.rid_nl(), R.rid_nc());
    }
    TabRidgelet[0].WPFirstScale = WPFirstScale;
  }
  Nl = NlIma;
  Nc = NcIma;
  set_plane_size();
}

void Curvelet::set_plane_size() {
  NlTrans = NcTrans = 0;
  if (TabBlockSize(0) > 0) {
    for (int s = 0; s < RidgeletCount; s++) {
      NlTrans = std::max(NlTrans, TabRidgelet[s].rid_nl());
      NcTrans = std::max(NcTrans, TabRidgelet[s].rid_nc());
    }
  } else {
    NlTrans = 2 * Nl;
    NcTrans = (rid_class(RidTrans) == 3 ? 1 : 2) * Nc;
  }
}

void Curvelet::set_param_from_trans(int NlT, int NcT) {
  NlTrans = NlT;
  NcTrans = NcT;
  const int k = rid_class(RidTrans) == 3 ? 1 : 2;
  const int f = BlockOverlap ? 2 : 1;
  if (TabBlockSize(0) < 1) {
    Nl = NlT / 2;
    Nc = NcT / k;
  } else {
    Nl = (NlT / f) / 2;
    Nc = NcT / f / k;
  }
}

int Curvelet::nbr_band() const {
  int n = 1;
  for (int s = 0; s < NbrRidgelet; s++) n += TabRidgelet[s].NbrScale1D;
  return n;
}

void Curvelet::get_scale_number(int b, int& s2d, int& s1d) const {
  const int nb = nbr_band();
  if (b < 0 || b >= nb)
    fatal_exitf(-1, stderr,
                "Error: bad number of band in get_scale_number: %d\n       0 <= NumBand < %d\n", b,
                nb);
  if (b == nb - 1) {
    s2d = NbrScale2D - 1;
    s1d = 0;
    return;
  }
  int total = 0;
  s2d = 0;
  while (s2d < NbrRidgelet && total + TabRidgelet[s2d].NbrScale1D <= b) {
    total += TabRidgelet[s2d].NbrScale1D;
    s2d++;
  }
  s1d = b - total;
}

void Curvelet::check_transform_args(const to_array<float, false>& Ima) const {
  if (!Initialized) curvelet_not_initialized();
  if (Ima.nl() != Nl || Ima.nc() != Nc)
    fatal_exitf(-1, stdout,
                "Error: the curvelet class is not initialized for this given image size ... \n"
                "       Image size = %d %d\n       Expected size = %d %d\n",
                Ima.nl(), Ima.nc(), Nl, Nc);
  if (NbrRidgelet != NbrScale2D - 1) bad_scale_number(NbrScale2D, NbrRidgelet);
}

void Curvelet::atrous_split(to_array<float, false>& Ima) {
  if (AtrousBands == nullptr || AtrousBandCount != NbrScale2D) {
    release_atrous_bands();
    Smoothing.alloc(AtrousBands, Nl, Nc, NbrScale2D);
    AtrousBandCount = NbrScale2D;
  }
  Smoothing.Border = Border;
  Smoothing.ModifiedATWT = False;
  if (Verbose) std::printf("\nCurvelet Image Transformation \n");
  if (!MSVST) {
    Smoothing.transform(Ima, AtrousBands, NbrScale2D);
    return;
  }
  // Each detail is the difference of two successive stabilised smoothings;
  // the last band holds the stabilised coarsest smoothing.
  if (Verbose) std::printf(" Multiscale Variance Stabilization ... \n");
  to_array<float, false>& stabilised = AtrousBands[NbrScale2D - 1];
  msvst_transform(Ima, stabilised, 1, True);
  SmoothIma = Ima;
  for (int s = 0; s < NbrScale2D - 1; s++) {
    Smoothing.b3spline_filtering(SmoothIma, RecScale, s);
    SmoothIma = RecScale;
    to_array<float, false>& detail = AtrousBands[s];
    detail = stabilised;
    msvst_transform(SmoothIma, stabilised, s + 2, True);
    detail -= stabilised;
  }
}

void Curvelet::transform(to_array<float, false>& Ima, to_array<float, false>*& TabBand) {
  transform(Ima, TabBand, nullptr, true);
}

void Curvelet::transform(to_array<float, false>& Ima, to_array<float, false>*& TabBand,
                         const RowVisit& visit, bool store) {
  transform_bands(Ima, TabBand, visit, store ? RowStore::all : RowStore::none);
}

void Curvelet::transform_for_recons(to_array<float, false>& Ima, to_array<float, false>*& TabBand,
                                    const RowVisit& visit) {
  transform_bands(Ima, TabBand, visit, RowStore::made_blocks);
}

void Curvelet::transform_bands(to_array<float, false>& Ima, to_array<float, false>*& TabBand,
                               const RowVisit& visit, RowStore rows) {
  check_transform_args(Ima);
  atrous_split(Ima);
  if (TabBand == nullptr) TabBand = new to_array<float, false>[NbrScale2D];
  MarkedBands = nullptr;
  if (!MadNormBlock && scales_together()) {
    transform_scales_together(TabBand, visit, rows);
    TabBand[NbrScale2D - 1] = AtrousBands[NbrScale2D - 1];
    return;
  }
  // Scale by scale every row is stored, which serves a reconstruction too.
  const bool store = rows != RowStore::none;
  for (int s = 0; s < NbrRidgelet; s++) {
    Ridgelet& R = TabRidgelet[s];
    if (Verbose) std::printf("\n BAND %d Block size = %d\n", s + 1, TabBlockSize(s));
    if (!visit) {
      R.transform(AtrousBands[s], TabBand[s]);
      if (MadNormBlock) R.mad_normalize_per_block(TabBand[s], False);
    } else if (!MadNormBlock) {
      R.transform(
          AtrousBands[s], TabBand[s],
          [&](int bi, to_array<float, false>& row) { visit(s, bi, row); }, store);
    } else {
      // The normalisation needs the whole ridgelet image: the rows are
      // visited in place once it is made.
      R.transform(AtrousBands[s], TabBand[s]);
      R.mad_normalize_per_block(TabBand[s], False);
      const int nlb = R.rid_one_block_nl();
      to_array<float, false> row;
      for (int bi = 0; bi < R.rid_block_nl(); bi++) {
        row.alloc(&TabBand[s](bi * nlb, 0), nlb, R.rid_nc());
        visit(s, bi, row);
      }
    }
    if (Verbose) std::printf("Number of scale for the 1D WT = %d\n", R.NbrScale1D);
  }
  TabBand[NbrScale2D - 1] = AtrousBands[NbrScale2D - 1];
}

void Curvelet::check_smooth_band(const to_array<float, false>* TabBand) const {
  if (!Initialized) curvelet_not_initialized();
  const to_array<float, false>& smooth = TabBand[NbrScale2D - 1];
  if (smooth.nl() != Nl || smooth.nc() != Nc)
    fatal_exitf(-1, stdout,
                "Error: the smooth band is %d x %d, the curvelet class expects %d x %d ...\n",
                smooth.nl(), smooth.nc(), Nl, Nc);
}

void Curvelet::recons_as_transformed(to_array<float, false>* TabBand,
                                     to_array<float, false>& Ima) {
  if (TabBand != MarkedBands || !scales_together()) {
    recons(TabBand, Ima);
    return;
  }
  check_smooth_band(TabBand);
  shape(Ima, Nl, Nc, "rec");
  recons_scales_together(TabBand, Ima, true);
  if (MSVST) msvst_inv_transform(Ima, Ima, 1, True);
}

void Curvelet::recons(to_array<float, false>* TabBand, to_array<float, false>& Ima) {
  check_smooth_band(TabBand);
  if (Verbose) std::printf("Reconstructed image size: Nl =  %d Nc = %d\n", Nl, Nc);
  shape(Ima, Nl, Nc, "rec");
  if (scales_together()) {
    recons_scales_together(TabBand, Ima, false);
  } else {
    std::memcpy(Ima.buffer(), TabBand[NbrScale2D - 1].buffer(),
                sizeof(float) * static_cast<size_t>(Ima.n_elem()));
    for (int s = NbrScale2D - 2; s >= 0; s--) {
      Ridgelet& R = TabRidgelet[s];
      if (Verbose)
        std::printf("\nREC Band %d Block size = %d Nlb = %d Ncb = %d\n", s + 1, TabBlockSize(s),
                    R.rid_nl(), R.rid_nc());
      R.recons(TabBand[s], RecScale);
      if (Verbose) std::printf("  Number of scale for the 1D WT = %d\n", R.NbrScale1D);
      Ima += RecScale;
    }
  }
  if (MSVST) {
    if (Verbose) std::printf(" Inverse Multiscale Variance Stabilization ... \n");
    msvst_inv_transform(Ima, Ima, 1, True);
  }
}

bool Curvelet::scales_together() const {
  if (Verbose) return false;
  for (int s = 0; s < NbrRidgelet; s++)
    if (TabRidgelet[s].Verbose) return false;
  return true;
}

int Curvelet::shared_team_size() const {
  int threads = omp_get_max_threads();
  for (int s = 0; s < NbrRidgelet; s++) threads = std::min(threads, TabRidgelet[s].worker_count());
  return std::max(threads, 1);
}

// A row of blocks costs about its block count times the work of a block,
// B^2 log B for a side B. Handed out largest first, the few long rows of the
// coarse scales start at once and the many short ones fill in after them.
void Curvelet::order_row_units() {
  auto row_cost = [&](int s) {
    const Ridgelet& R = TabRidgelet[s];
    const double side = std::max(R.block_size(), 2);
    return R.rid_block_nc() * side * side * std::log2(side);
  };
  ScaleOrder.resize(NbrRidgelet);
  for (int s = 0; s < NbrRidgelet; s++) ScaleOrder[s] = s;
  std::stable_sort(ScaleOrder.begin(), ScaleOrder.end(),
                   [&](int a, int b) { return row_cost(a) > row_cost(b); });
  RowUnits.clear();
  for (int s : ScaleOrder)
    for (int bi = 0; bi < TabRidgelet[s].rid_block_nl(); bi++) RowUnits.push_back({s, bi, 0});
}

// Most blocks of a thresholded transform are zero: only those with work
// become units, one block each, so that the few rows of the coarse scales
// are shared out block by block.
void Curvelet::list_class_units() {
  LineTouched.assign(static_cast<size_t>(NbrRidgelet) * Nl, 0);
  for (int s = 0; s < NbrRidgelet; s++) {
    const Ridgelet& R = TabRidgelet[s];
    unsigned char* touched = &LineTouched[static_cast<size_t>(s) * Nl];
    for (int bi = 0; bi < R.rid_block_nl(); bi++) {
      bool work = false;
      for (int bj = 0; bj < R.rid_block_nc() && !work; bj++) work = R.block_has_work(bi, bj);
      if (!work) continue;
      const int first = R.BlockImaSize * bi - R.OverlapSize;
      const int last = std::min(first + R.block_size(), Nl);
      for (int i = std::max(first, 0); i < last; i++) touched[i] = 1;
    }
  }
  for (int parity = 0; parity < 4; parity++) {
    const int pi = parity / 2, pj = parity % 2;
    std::vector<BlockUnit>& units = ClassUnits[parity];
    units.clear();
    for (int s : ScaleOrder) {
      const Ridgelet& R = TabRidgelet[s];
      for (int bi = pi; bi < R.rid_block_nl(); bi += 2)
        for (int bj = pj; bj < R.rid_block_nc(); bj += 2)
          if (R.block_has_work(bi, bj)) units.push_back({s, bi, bj});
    }
  }
}

void Curvelet::transform_scales_together(to_array<float, false>* TabBand, const RowVisit& visit,
                                         RowStore rows) {
  const bool store = rows == RowStore::all, made = rows == RowStore::made_blocks;
  for (int s = 0; s < NbrRidgelet; s++) TabRidgelet[s].begin_block_transform(TabBand[s]);
  // The zero marks cost little while the row is in the cache, and spare a
  // reconstruction of the stored bands a pass over them.
  if (store || made) {
    StoredMarks.resize(NbrRidgelet);
    for (int s = 0; s < NbrRidgelet; s++)
      StoredMarks[s].resize(static_cast<size_t>(TabRidgelet[s].rid_block_nbr()));
  }
  if (made) {
    MadeBlocks.resize(NbrRidgelet);
    MadeBlocksSize.resize(NbrRidgelet, 0);
    for (int s = 0; s < NbrRidgelet; s++) {
      const Ridgelet& R = TabRidgelet[s];
      const size_t size = static_cast<size_t>(R.rid_block_nbr()) * R.block_size() * R.block_size();
      if (MadeBlocksSize[s] != size) {
        // Left unset: only the blocks made are written, and only they are read.
        MadeBlocks[s].reset(new (std::nothrow) float[size]);
        if (!MadeBlocks[s])
          fatal_exitf(-1, stdout, "Error: the curvelet transform could not allocate memory ... \n");
        MadeBlocksSize[s] = size;
      }
    }
  }
  order_row_units();
  const int units = static_cast<int>(RowUnits.size());
  const int threads = shared_team_size();
#pragma omp parallel for schedule(dynamic) num_threads(threads) if (threads > 1)
  for (int u = 0; u < units; u++) {
    const BlockUnit unit = RowUnits[u];
    Ridgelet& R = TabRidgelet[unit.scale];
    const int thread = omp_get_thread_num();
    to_array<float, false>& row = R.transform_block_row(thread, unit.bi, AtrousBands[unit.scale]);
    if (visit) visit(unit.scale, unit.bi, row);
    if (!store && !made) continue;
    unsigned char* marks =
        &StoredMarks[unit.scale][static_cast<size_t>(unit.bi) * R.rid_block_nc()];
    R.mark_block_row(row.buffer(), row.nc(), marks);
    if (store) {
      R.store_block_row(unit.bi, row, TabBand[unit.scale]);
      continue;
    }
    // Most blocks of a thresholded transform are all zero, and are passed by.
    for (int bj = 0; bj < R.rid_block_nc(); bj++)
      if (marks[bj])
        marks[bj] = R.recons_block_of_row(thread, unit.bi, bj, row,
                                          made_block(unit.scale, unit.bi, bj));
  }
  if (store || made) MarkedBands = TabBand;
  BlocksMade = made;
  if (rows == RowStore::all)
    for (int s = 0; s < NbrRidgelet; s++)
      if (TabRidgelet[s].StatInfo) TabRidgelet[s].info_stat(TabBand[s]);
}

float* Curvelet::made_block(int s, int bi, int bj) {
  const Ridgelet& R = TabRidgelet[s];
  const size_t area = static_cast<size_t>(R.block_size()) * R.block_size();
  return MadeBlocks[s].get() + (static_cast<size_t>(bi) * R.rid_block_nc() + bj) * area;
}

void Curvelet::recons_scales_together(to_array<float, false>* TabBand, to_array<float, false>& Ima,
                                      bool marked) {
  const bool made = marked && BlocksMade;
  const int scales = NbrRidgelet;
  RecScales.resize(scales);
  // With the shape checked, a ridgelet image has its rows' layout and its
  // blocks are read in place.
  for (int s = 0; s < scales; s++) {
    Ridgelet& R = TabRidgelet[s];
    R.check_ridgelet_image(TabBand[s]);
    shape(RecScales[s], Nl, Nc, "rec scale");
    R.begin_block_recons(TabBand[s], RecScales[s], marked ? StoredMarks[s].data() : nullptr);
  }
  order_row_units();
  const int rows = static_cast<int>(RowUnits.size());
  const float* smooth = TabBand[NbrScale2D - 1].buffer();
  const int threads = shared_team_size();
  if (marked) list_class_units();
  // The steps are worksharing loops of one team, in order behind their
  // closing barriers.
#pragma omp parallel num_threads(threads) if (threads > 1)
  {
    const int thread = omp_get_thread_num();
    if (!marked) {
#pragma omp for schedule(dynamic)
      for (int u = 0; u < rows; u++) {
        const BlockUnit unit = RowUnits[u];
        Ridgelet& R = TabRidgelet[unit.scale];
        if (R.recons_scans()) R.scan_block_row(unit.bi, TabBand[unit.scale]);
      }
#pragma omp single
      list_class_units();
    }
    // The blocks add into their scale's image, which starts from zero.
#pragma omp for schedule(static)
    for (int k = 0; k < scales * Nl; k++)
      if (LineTouched[k])
        std::fill_n(RecScales[k / Nl].buffer() + static_cast<size_t>(k % Nl) * Nc, Nc, 0.f);
    // Each scale's classes in the order of a ridgelet's own reconstruction,
    // so that every pixel sums its blocks as it would there.
    for (int parity = 0; parity < 4; parity++) {
      const std::vector<BlockUnit>& units = ClassUnits[parity];
      const int count = static_cast<int>(units.size());
#pragma omp for schedule(dynamic)
      for (int u = 0; u < count; u++) {
        const BlockUnit unit = units[u];
        Ridgelet& R = TabRidgelet[unit.scale];
        if (made)
          R.add_made_block(thread, unit.bi, unit.bj, made_block(unit.scale, unit.bi, unit.bj),
                           RecScales[unit.scale]);
        else
          R.recons_block_in_place(thread, unit.bi, unit.bj, TabBand[unit.scale],
                                  RecScales[unit.scale]);
      }
    }
    // The smooth band, then the scales from the coarsest down, pixel by
    // pixel: the order of the sums of a scale-by-scale reconstruction. An
    // untouched line of a scale is +0, and adding +0 changes nothing but a
    // -0 into +0; a scale pixel is never -0 (it starts at +0, and no sum
    // gives -0 from there), so whatever follows the first +0 makes no
    // difference between -0 and +0 either. One +0 added first is all the
    // untouched lines do.
#pragma omp for schedule(static)
    for (int i = 0; i < Nl; i++) {
      const size_t line = static_cast<size_t>(i) * Nc;
      float* out = Ima.buffer() + line;
      const float* in = smooth + line;
      for (int j = 0; j < Nc; j++) out[j] = in[j] + 0.f;
      for (int s = scales - 1; s >= 0; s--) {
        if (!LineTouched[static_cast<size_t>(s) * Nl + i]) continue;
        const float* rec = RecScales[s].buffer() + line;
        for (int j = 0; j < Nc; j++) out[j] += rec[j];
      }
    }
  }
}

void Curvelet::transform(to_array<float, false>& Ima, to_array<float, true>& Trans) {
  check_transform_args(Ima);
  if (Trans.naxis() != 3 || Trans.nx() != NcTrans || Trans.ny() != NlTrans ||
      Trans.nz() != NbrScale2D)
    Trans.alloc(NcTrans, NlTrans, NbrScale2D, "curvelet");
  atrous_split(Ima);
  // Every plane is written whole: what lies beyond a scale's ridgelet image
  // is zero.
  auto store_plane = [&](const to_array<float, false>& ima, int s) {
    const size_t plane = static_cast<size_t>(NlTrans) * NcTrans;
    float* out = Trans.buffer() + plane * s;
    std::memset(out, 0, sizeof(float) * plane);
    for (int i = 0; i < ima.nl(); i++)
      std::memcpy(out + static_cast<size_t>(i) * NcTrans, &ima(i, 0), sizeof(float) * ima.nc());
  };
  for (int s = 0; s < NbrRidgelet; s++) {
    Ridgelet& R = TabRidgelet[s];
    if (Verbose) std::printf("\n BAND %d Block size = %d\n", s + 1, TabBlockSize(s));
    R.transform(AtrousBands[s], RidBand);
    if (MadNormBlock) {
      if (Verbose) std::printf("  mad_normalize_per_block ... \n");
      R.mad_normalize_per_block(RidBand, False);
    }
    if (Verbose) std::printf("Number of scale for the 1D WT = %d\n", R.NbrScale1D);
    store_plane(RidBand, s);
  }
  store_plane(AtrousBands[NbrScale2D - 1], NbrScale2D - 1);
}

void Curvelet::recons(to_array<float, true>& Trans, to_array<float, false>& Ima, Bool) {
  if (!Initialized) curvelet_not_initialized();
  if (Trans.nx() != NcTrans || Trans.ny() != NlTrans)
    fatal_exitf(-1, stdout,
                "Error: the curvelet class is not initialized for this given transform size ... \n"
                "       Transform size = %d %d\n       Expected size = %d %d\n",
                Trans.ny(), Trans.nx(), NlTrans, NcTrans);
  if (Trans.nz() != NbrRidgelet + 1 || NbrScale2D != NbrRidgelet + 1)
    bad_scale_number(std::max(Trans.nz(), NbrScale2D), NbrRidgelet);
  if (Verbose) std::printf("Reconstructed image size: Nl =  %d Nc = %d\n", Nl, Nc);
  const size_t plane = static_cast<size_t>(NlTrans) * NcTrans;
  auto load_plane = [&](to_array<float, false>& ima, int s) {
    const float* in = Trans.buffer() + plane * s;
    for (int i = 0; i < ima.nl(); i++)
      std::memcpy(&ima(i, 0), in + static_cast<size_t>(i) * NcTrans, sizeof(float) * ima.nc());
  };
  shape(Ima, Nl, Nc, "rec");
  load_plane(Ima, NbrScale2D - 1);
  for (int s = NbrScale2D - 2; s >= 0; s--) {
    Ridgelet& R = TabRidgelet[s];
    shape(RidBand, R.rid_nl(), R.rid_nc(), "aux");
    load_plane(RidBand, s);
    if (Verbose)
      std::printf("\nREC Band %d Block size = %d Nlb = %d Ncb = %d\n", s + 1, TabBlockSize(s),
                  R.rid_nl(), R.rid_nc());
    R.recons(RidBand, RecScale);
    if (Verbose) std::printf("  Number of scale for the 1D WT = %d\n", R.NbrScale1D);
    Ima += RecScale;
  }
  if (MSVST) {
    if (Verbose) std::printf(" Inverse Multiscale Variance Stabilization ... \n");
    msvst_inv_transform(Ima, Ima, 1, True);
  }
}

void Curvelet::get_band(to_array<float, true>& Trans, int s2d, int s1d,
                        to_array<float, true>& Band) {
  const int nl = size_nl(s2d, s1d), nc = size_nc(s2d, s1d);
  const int i0 = ipos(s2d, s1d), j0 = jpos(s2d, s1d);
  if (Band.naxis() != 2 || Band.nx() != nc || Band.ny() != nl) Band.alloc(nc, nl, "band");
  for (int i = 0; i < nl; i++)
    for (int j = 0; j < nc; j++) Band(j, i) = Trans(j + j0, i + i0, s2d);
}

void Curvelet::get_band(to_array<float, true>& Trans, int b, to_array<float, true>& Band) {
  int s2d, s1d;
  get_scale_number(b, s2d, s1d);
  get_band(Trans, s2d, s1d, Band);
}

void Curvelet::get_band_no_border(to_array<float, true>& Trans, int s2d, int s1d,
                                  to_array<float, true>& Band) {
  const Ridgelet& R = TabRidgelet[s2d];
  const int bl = R.rid_one_block_nl(), bc = R.rid_size(s1d);
  const int nl = size_nl(s2d, s1d) - 2 * bl, nc = size_nc(s2d, s1d) - 2 * bc;
  // A band no larger than its two borders has nothing inside.
  if (nl <= 0 || nc <= 0) {
    Band.free();
    return;
  }
  const int i0 = ipos(s2d, s1d), j0 = jpos(s2d, s1d);
  Band.alloc(nc, nl, "band");
  for (int i = 0; i < nl; i++)
    for (int j = 0; j < nc; j++) Band(j, i) = Trans(j + bc + j0, i + bl + i0, s2d);
}

void Curvelet::put_band(to_array<float, true>& Trans, int s2d, int s1d,
                        to_array<float, true>& Band) {
  const int nl = size_nl(s2d, s1d), nc = size_nc(s2d, s1d);
  if (Band.ny() != nl || Band.nx() != nc)
    fatal_exitf(-1, stderr, "Error: bad image size: %d %d\n       Expected size: %d %d\n",
                Band.ny(), Band.nx(), nl, nc);
  const int i0 = ipos(s2d, s1d), j0 = jpos(s2d, s1d);
  for (int i = 0; i < nl; i++)
    for (int j = 0; j < nc; j++) Trans(j + j0, i + i0, s2d) = Band(j, i);
}

void Curvelet::put_band(to_array<float, true>& Trans, int b, to_array<float, true>& Band) {
  int s2d, s1d;
  get_scale_number(b, s2d, s1d);
  put_band(Trans, s2d, s1d, Band);
}
