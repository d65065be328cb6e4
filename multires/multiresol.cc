// The MultiResol container: allocation of the bands of every layout family,
// release, element access, band copies, norms, thresholds and the parameter
// report.
#include "multires/multiresol.h"

#include <cmath>
#include <cstdio>
#include <string>

#include "array/fatal.h"
#include "array/scalar_helpers.h"
#include "filters/sub_band_filter.h"
#include "multires/half_decimated_2d_wt.h"
#include "multires/mr_band_norms.h"
#include "multires/mr_dispatch.h"

int get_nbr_scale(int n) {
  const float x = static_cast<float>(n / 4.0 * 3.0);
  const float y = static_cast<float>(std::log(x / std::log(2.0)));
  return iround(y);
}

namespace {

// Band names count from 1.
std::string band_name(const char* format, int b) {
  char text[32];
  std::snprintf(text, sizeof text, format, b + 1);
  return std::string(text);
}

}  // namespace

int size_ima_resol(int s, int N) { return s <= 0 ? N : size_resol(s, N); }

MultiResol::MultiResol() : TabBand(nullptr), TabBandNl(nullptr), TabBandNc(nullptr) {
  FilterBank = nullptr;
  UndecFilterBank = nullptr;
  MeyerWT = nullptr;
  FCurTrans = nullptr;
  LineColTrans = nullptr;
  init_param();
}

MultiResol::MultiResol(int nl, int nc, int nbr_scale, type_transform T, const char* name)
    : MultiResol() {
  alloc(nl, nc, nbr_scale, T, name);
}

MultiResol::~MultiResol() { free(); }

void MultiResol::init_param() {
  FilterBankOwned = False;
  FilterBank = nullptr;
  UndecFilterBank = nullptr;
  TabBand = nullptr;
  NbrScale = 0;
  Nl = Nc = 0;
  NbrBand = 0;
  NbrBandPerResol = 0;
  NbrCoeffDetail = 0;
  TabBandNl = TabBandNc = nullptr;
  NbrUndecScale = -1;
  MeyerWT = nullptr;
  FCurTrans = nullptr;
  FCurExtend = False;
  FCurIsotrop = False;
  FCurReal = True;
  FCurNbrDir = 16;
  ModifiedATWT = False;
  Verbose = False;
  Type_Transform = T_UNDEFINED;
  Set_Transform = S_UNDEFINED;
  FormatInput = Format_Imag;
  Name.clear();
  Border = I_CONT;
  MedianWindowSize = 5;
  Fc = 0.5f;
  NbrIter = 15;
  ExactPyrRec = False;
  SigmaNoise = 0.f;
  NSigma = 3.f;
  NSigmaMedian = 5.f;
  LiftingTrans = TL_INT_HAAR;
  SBFilter = F_MALLAT_7_9;
  UndecFilter = U_B3SPLINE_2;
  TypeNorm = NORM_L1;
  HaarWeight = 4.f;
  HaarDir2Flag = False;
  LineColTrans = nullptr;
  NbrScaleX = NbrScaleY = -1;
}

void MultiResol::alloc(int nl, int nc, int nbr_scale, type_transform T, FilterAnaSynt* FAS,
                       sb_type_norm Norm, int NbrUndec, type_undec_filter U) {
  if (TabBand != nullptr) free();
  FilterBank = FAS;
  if (FAS != nullptr) SBFilter = FAS->type_filter();
  NbrUndecScale = NbrUndec;
  TypeNorm = Norm;
  UndecFilter = U;
  alloc(nl, nc, nbr_scale, T, "multi trans");
}

void MultiResol::alloc(int nl, int nc, int nbr_scale, type_transform T, const char* name) {
  // A second alloc releases the first one's bands and owned objects, but
  // keeps a caller's filter description and the parameters set since.
  if (TabBand != nullptr) {
    release_type_objects();
    FilterAnaSynt* callers_bank = FilterBankOwned ? nullptr : FilterBank;
    delete[] TabBand;
    TabBand = nullptr;
    delete[] TabBandNl;
    delete[] TabBandNc;
    TabBandNl = TabBandNc = nullptr;
    if (FilterBankOwned) delete FilterBank;
    delete UndecFilterBank;
    UndecFilterBank = nullptr;
    FilterBank = callers_bank;
  }
  Type_Transform = T;
  FilterBankOwned = False;
  Set_Transform = SetTransform(T);
  mr_check_type_available(T);
  if ((T == TO_MALLAT || T == TO_UNDECIMATED_MALLAT || T == TO_LC) && FilterBank == nullptr) {
    SBFilter = F_MALLAT_7_9;
    TypeNorm = NORM_L1;
    FilterBank = new FilterAnaSynt(SBFilter);
    FilterBankOwned = True;
  }
  if (T == TO_UNDECIMATED_NON_ORTHO) UndecFilterBank = new UndecSubBandFilter(UndecFilter);
  Nl = nl;
  Nc = nc;
  if (nbr_scale < 2) nbr_scale = get_nbr_scale(nl < nc ? nl : nc);
  NbrScale = nbr_scale;
  Name = name != nullptr ? name : "";
  NbrBand = NbrScale;
  NbrCoeffDetail = 0;
  NbrBandPerResol = number_band_per_resol(T);
  TabNbrBandPerResol.alloc(NbrScale);
  TabNbrBandPerResol.init(NbrBandPerResol);
  if (Set_Transform == TRANSF_DIADIC_MALLAT) NbrBand = 2 * NbrScale;
  if (Set_Transform == TRANSF_UNDECIMATED_MALLAT) NbrBand = 3 * NbrScale - 2;

  const MRTypeOps* ops = mr_type_ops(T);
  switch (ops->alloc != nullptr ? S_UNDEFINED : Set_Transform) {
    case TRANSF_PAVE:
    case TRANSF_DIADIC_MALLAT: {
      NbrUndecScale = NbrScale;
      TabBand = new to_array<float, false>[NbrBand];
      TabBandNl = new int[NbrBand];
      TabBandNc = new int[NbrBand];
      for (int b = 0; b < NbrBand; b++) {
        TabBand[b].alloc(Nl, Nc, band_name("band_%d", b).c_str());
        TabBandNl[b] = Nl;
        TabBandNc[b] = Nc;
      }
      // The diadic family allocates one image more than it counts.
      if (Set_Transform == TRANSF_DIADIC_MALLAT) NbrBand--;
      NbrCoeffDetail = (NbrBand - 1) * Nl * Nc;
      break;
    }
    case TRANSF_PYR:
    case TRANSF_SEMIPYR: {
      NbrUndecScale = Set_Transform == TRANSF_PYR ? 0 : 1;
      TabBand = new to_array<float, false>[NbrBand];
      TabBandNl = new int[NbrBand];
      TabBandNc = new int[NbrBand];
      int l = Nl, c = Nc;
      for (int b = 0; b < NbrBand; b++) {
        TabBand[b].alloc(l, c, band_name("scale_%d", b).c_str());
        TabBandNl[b] = l;
        TabBandNc[b] = c;
        if (!(Set_Transform == TRANSF_SEMIPYR && b == 0)) {
          l = (l + 1) / 2;
          c = (c + 1) / 2;
        }
      }
      break;
    }
    case TRANSF_MALLAT:
    case TRANSF_FEAUVEAU: {
      NbrUndecScale = 0;
      const bool mallat = Set_Transform == TRANSF_MALLAT;
      NbrBand = mallat ? (NbrScale - 1) * 3 + 1 : (NbrScale - 1) * 2 + 1;
      TabBand = new to_array<float, false>[NbrBand];
      TabBandNl = new int[NbrBand];
      TabBandNc = new int[NbrBand];
      int l = Nl, c = Nc, b = 0;
      auto put = [&](int bl, int bc) {
        TabBand[b].alloc(bl, bc, band_name("scale_%d", b).c_str());
        TabBandNl[b] = bl;
        TabBandNc[b] = bc;
        b++;
      };
      for (int k = 0; k < NbrScale - 1; k++) {
        if (mallat) {
          put((l + 1) / 2, c / 2);
          put(l / 2, (c + 1) / 2);
          put(l / 2, c / 2);
        } else {
          put(l, c / 2);
          put(l / 2, (c + 1) / 2);
        }
        l = (l + 1) / 2;
        c = (c + 1) / 2;
      }
      put(l, c);
      break;
    }
    case TRANSF_UNDECIMATED_MALLAT: {
      if (NbrUndecScale < 0 || NbrUndecScale > NbrScale) NbrUndecScale = NbrScale;
      if (T == TO_UNDECIMATED_MALLAT) {
        SubBandFilter filter(*FilterBank, TypeNorm);
        HALF_DECIMATED_2D_WT wt(filter);
        NbrBand = wt.alloc(TabBand, Nl, Nc, NbrScale, NbrUndecScale);
      } else {
        TabBand = new to_array<float, false>[NbrBand];
        for (int b = 0; b < NbrBand; b++) TabBand[b].alloc(Nl, Nc, band_name("band_%d", b).c_str());
      }
      TabBandNl = new int[NbrBand];
      TabBandNc = new int[NbrBand];
      read_back_band_sizes();
      break;
    }
    case S_UNDEFINED: break;
  }
  if (ops->alloc != nullptr) ops->alloc(*this);
  if (Set_Transform != TRANSF_PAVE && Set_Transform != TRANSF_DIADIC_MALLAT) {
    NbrCoeffDetail = 0;
    for (int b = 0; b < NbrBand - 1; b++) NbrCoeffDetail += TabBandNl[b] * TabBandNc[b];
  }
}

void MultiResol::lay_out_bands(const std::vector<int>& BandNl, const std::vector<int>& BandNc,
                               const char* Format) {
  NbrBand = static_cast<int>(BandNl.size());
  TabBand = new to_array<float, false>[NbrBand];
  TabBandNl = new int[NbrBand];
  TabBandNc = new int[NbrBand];
  for (int b = 0; b < NbrBand; b++) {
    TabBand[b].alloc(BandNl[b], BandNc[b], band_name(Format, b).c_str());
    TabBandNl[b] = BandNl[b];
    TabBandNc[b] = BandNc[b];
  }
}

void MultiResol::release_type_objects() {
  const MRTypeOps* ops = mr_type_ops(Type_Transform);
  if (ops != nullptr && ops->release != nullptr) ops->release(*this);
}

void MultiResol::read_back_band_sizes() {
  for (int b = 0; b < NbrBand; b++) {
    TabBandNl[b] = TabBand[b].nl();
    TabBandNc[b] = TabBand[b].nc();
  }
}

void MultiResol::free() {
  release_type_objects();
  if (NbrScale != 0 && TabBand != nullptr) delete[] TabBand;
  TabBand = nullptr;
  delete[] TabBandNl;
  delete[] TabBandNc;
  TabBandNl = TabBandNc = nullptr;
  if (FilterBankOwned) delete FilterBank;
  FilterBank = nullptr;
  delete UndecFilterBank;
  UndecFilterBank = nullptr;
  init_param();
}

void MultiResol::print_info() const {
  std::printf("Transform = %s\n", StringTransform(Type_Transform));
  if (Type_Transform == TO_MALLAT || Type_Transform == TO_UNDECIMATED_MALLAT) {
    std::printf("%s\n", StringSBFilter(SBFilter));
    if (TypeNorm == NORM_L2) std::printf("L2 normalization\n");
  }
  if (Type_Transform == TO_LIFTING) std::printf("%s\n", StringLSTransform(LiftingTrans));
  std::printf("Number of scales = %d\n", NbrScale);
  std::printf("Input image size: %d %d\n", Nl, Nc);
  std::printf("Number of bands per resolution: %d\n", NbrBandPerResol);
  std::printf("Number of undecimated scales = %d\n", NbrUndecScale);
}

void MultiResol::test_band(int b) const {
  if (b < 0 || b >= NbrBand) fatal_exitf(-1, stderr, "error: Bad band number :  %d\n", b + 1);
}

float& MultiResol::operator()(int b, int k) const {
  const int i = k / TabBandNc[b];
  return TabBand[b](i, k - i * TabBandNc[b]);
}

float MultiResol::operator()(int b, int k, type_border B) const {
  const int i = k / TabBandNc[b];
  return TabBand[b](i, k - i * TabBandNc[b], B);
}

void MultiResol::locate(int k, int& b, int& i, int& j) const {
  b = 0;
  while (b < NbrBand - 1 && k >= nbr_coeff_in_band(b)) k -= nbr_coeff_in_band(b++);
  i = k / TabBandNc[b];
  j = k - i * TabBandNc[b];
}

float& MultiResol::operator()(int k) const {
  int b, i, j;
  locate(k, b, i, j);
  return TabBand[b](i, j);
}

void MultiResol::pos_coeff(int k, int& s, int& i, int& j, details& d) const {
  int b;
  locate(k, b, i, j);
  band_to_scale(b, s, d);
}

to_array<float, false> MultiResol::extract_band(int b) const {
  test_band(b);
  to_array<float, false> out(TabBandNl[b], TabBandNc[b], "extract");
  out = TabBand[b];
  return out;
}

to_array<float, false> MultiResol::extract_scale(int s, details d) const {
  return extract_band(scale_to_band(s, d));
}

void MultiResol::insert_band(const to_array<float, false>& Ima, int b) {
  test_band(b);
  // A failed insertion used to end with status 0, as if it had worked.
  if (Ima.nl() != TabBandNl[b] || Ima.nc() != TabBandNc[b])
    fatal_exit("Error: unable to insert band ...\n       band and image haven't the same size\n",
               -1, stderr);
  TabBand[b] = Ima;
}

void MultiResol::insert_scale(const to_array<float, false>& Ima, int s, details d) {
  insert_band(Ima, scale_to_band(s, d));
}

int MultiResol::size_scale_nl(int s, details d) const {
  if (d == DetailSmooth && s < NbrScale - 1) return size_resol(s + 1, Nl);
  return TabBandNl[scale_to_band(s, d)];
}

int MultiResol::size_scale_nc(int s, details d) const {
  if (d == DetailSmooth && s < NbrScale - 1) return size_resol(s + 1, Nc);
  return TabBandNc[scale_to_band(s, d)];
}

double MultiResol::scale_norm(int s, details d) const {
  if (Type_Transform == TO_LC || Type_Transform == TC_FCT) return 1.;
  if (TypeNorm == NORM_L2 && (Type_Transform == TO_MALLAT ||
                              Type_Transform == TO_UNDECIMATED_MALLAT ||
                              Type_Transform == TO_DIADIC_HAAR))
    return 1.;
  return mr_scale_norm(s, Type_Transform, MedianWindowSize, d, UndecFilter);
}

double MultiResol::band_norm(int b) const {
  int s;
  details d;
  band_to_scale(b, s, d);
  return scale_norm(s, d);
}

float MultiResol::gauss_detect_level(int b, float Sigma, float NSigma_) const {
  int s;
  details d;
  band_to_scale(b, s, d);
  float level = s == 0 ? static_cast<float>((NSigma_ + 1) * scale_norm(0, d) * Sigma)
                       : static_cast<float>(NSigma_ * scale_norm(s, DetailFirst) * Sigma);
  if (Type_Transform == TM_PAVE_MINMAX || Type_Transform == TM_PYR_MINMAX ||
      Type_Transform == TM_PYR_SCALING_FUNCTION)
    level *= 2.f;
  return level;
}

void MultiResol::threshold(int b, float Level, Bool UseAbs) {
  float* p = TabBand[b].buffer();
  const int n = TabBand[b].n_elem();
  if (UseAbs) {
    for (int k = 0; k < n; k++)
      if (std::fabs(p[k]) < Level) p[k] = 0.f;
  } else {
    for (int k = 0; k < n; k++)
      if (p[k] < Level) p[k] = 0.f;
  }
}

void MultiResol::threshold(float Sigma, float NSigma_, Bool UseAbs) {
  for (int b = 0; b < NbrBand - 1; b++) threshold(b, gauss_detect_level(b, Sigma, NSigma_), UseAbs);
}

void norm_abs_imag(to_array<float, false>& Ima, float Max, Bool UseAbs) {
  const float largest = std::fabs(Ima.maxfabs());
  float* p = Ima.buffer();
  const int n = Ima.n_elem();
  // An all-zero band has nothing to scale (and used to divide by zero).
  if (!(largest > 0.f)) {
    for (int k = 0; k < n; k++) p[k] = 0.f;
    return;
  }
  for (int k = 0; k < n; k++) p[k] = (UseAbs ? std::fabs(p[k]) : p[k]) / largest * Max;
}

void MultiResol::norm(float Max, Bool UseAbs) {
  for (int b = 0; b < NbrBand; b++) norm_abs_imag(TabBand[b], Max, UseAbs);
}

void MultiResol::compute_mod_phase(to_array<float, false>*& Mod, to_array<float, false>*& Phase) {
  if (Type_Transform != TO_DIADIC_MALLAT && Type_Transform != TO_DIADIC_HAAR)
    fatal_exit("Not implemented\n", -1, stderr);
  for (int s = 0; s < NbrScale - 1; s++) {
    const to_array<float, false>& a = TabBand[2 * s];
    const to_array<float, false>& b = TabBand[2 * s + 1];
    for (int i = 0; i < Nl; i++)
      for (int j = 0; j < Nc; j++) {
        Mod[s](i, j) = std::sqrt(a(i, j) * a(i, j) + b(i, j) * b(i, j));
        Phase[s](i, j) = std::atan2(b(i, j), a(i, j));
      }
  }
}
