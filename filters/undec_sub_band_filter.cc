// The undecimated spline/Haar filter bank and its coefficient tables.
#include "filters/undec_sub_band_filter.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

float* new_taps(std::initializer_list<float> taps, int* size) {
  *size = static_cast<int>(taps.size());
  float* out = new float[taps.size()];
  std::copy(taps.begin(), taps.end(), out);
  return out;
}

}  // namespace

const char* StringUndecFilter(type_undec_filter Type) {
  switch (Type) {
    case U_B3SPLINE: return "SplineB3-Id+H:  H=[1,4,6,4,1]/16, Ht=H, G=Id-H, Gt=Id+H";
    case U_B3SPLINE_2: return "SplineB3-Id:  H=[1,4,6,4,1]/16, Ht=H, G=Id-H*H, Gt=Id";
    case U_B2SPLINE: return "SplineB2-Id: H=4[1,2,1]/4, Ht=H, G=Id-H*H, Gt=Id";
    case U_HARR_B3SPLINE_POS:
      return "Harr/Spline POS: H=Haar,G=[-1/4,1/2,-1/4],Ht=[1,3,3,1]/8,Gt=[1,6,1]/4";
    case U_HARR_B3SPLINE: return "Harr/Spline: [H,G]=Haar,Ht=[1,4,6,4,1]/16,Gt=[1,6,16,-6,-1]/16";
    default: return "Undefined filters";
  }
}

void usb_usage(type_undec_filter Default) {
  std::fprintf(stderr, "         [-U type_of_non_orthog_filters]\n");
  for (int i = 1; i <= 4; i++)
    std::fprintf(stderr, "              %d: %s \n", i, StringUndecFilter(type_undec_filter(i - 1)));
  std::fprintf(stderr, "             default is %s\n\n", StringUndecFilter(Default));
}

UndecSubBandFilter::UndecSubBandFilter(type_undec_filter Type)
    : H(nullptr), G(nullptr), Ht(nullptr), Gt(nullptr),
      Size_H(0), Size_G(0), Size_Ht(0), Size_Gt(0),
      TypeUndecFilter(Type), Verbose(False) {
  init();
}

UndecSubBandFilter::UndecSubBandFilter(const UndecSubBandFilter& other)
    : SubBand1D(other), H(nullptr), G(nullptr), Ht(nullptr), Gt(nullptr),
      Size_H(0), Size_G(0), Size_Ht(0), Size_Gt(0),
      TypeUndecFilter(other.TypeUndecFilter), Verbose(False) {
  init();
  Verbose = other.Verbose;
}

UndecSubBandFilter& UndecSubBandFilter::operator=(const UndecSubBandFilter& other) {
  if (this != &other) {
    SubBand1D::operator=(other);
    TypeUndecFilter = other.TypeUndecFilter;
    init();
    Verbose = other.Verbose;
  }
  return *this;
}

UndecSubBandFilter::~UndecSubBandFilter() { free_filters(); }

void UndecSubBandFilter::free_filters() {
  if (Ht != H) delete[] Ht;
  delete[] H;
  delete[] G;
  delete[] Gt;
  H = G = Ht = Gt = nullptr;
  Size_H = Size_G = Size_Ht = Size_Gt = 0;
}

void UndecSubBandFilter::init() {
  free_filters();
  Verbose = False;
  switch (TypeUndecFilter) {
    case U_B3SPLINE:
      H = new_taps({1.f / 16, 1.f / 4, 3.f / 8, 1.f / 4, 1.f / 16}, &Size_H);
      G = new_taps({-1.f / 16, -1.f / 4, 5.f / 8, -1.f / 4, -1.f / 16}, &Size_G);
      Gt = new_taps({1.f / 16, 1.f / 4, 11.f / 8, 1.f / 4, 1.f / 16}, &Size_Gt);
      Ht = H;
      Size_Ht = Size_H;
      break;
    case U_B3SPLINE_2:
      H = new_taps({1.f / 16, 1.f / 4, 3.f / 8, 1.f / 4, 1.f / 16}, &Size_H);
      G = new_taps({-1.f / 256, -8.f / 256, -28.f / 256, -56.f / 256, 1.f - 70.f / 256,
                    -56.f / 256, -28.f / 256, -8.f / 256, -1.f / 256},
                   &Size_G);
      Gt = new_taps({0.f, 1.f, 0.f}, &Size_Gt);
      Ht = H;
      Size_Ht = Size_H;
      break;
    case U_B2SPLINE:
      H = new_taps({1.f / 4, 1.f / 2, 1.f / 4}, &Size_H);
      G = new_taps({-1.f / 16, -1.f / 4, 5.f / 8, -1.f / 4, -1.f / 16}, &Size_G);
      Gt = new_taps({1.f}, &Size_Gt);
      Ht = H;
      Size_Ht = Size_H;
      break;
    case U_HARR_B3SPLINE_POS:
      H = new_taps({1.f / 2, 1.f / 2, 0.f}, &Size_H);
      G = new_taps({-1.f / 4, 1.f / 2, -1.f / 4}, &Size_G);
      Ht = new_taps({0.f, 1.f / 8, 3.f / 8, 3.f / 8, 1.f / 8}, &Size_Ht);
      Gt = new_taps({1.f / 4, 3.f / 2, 1.f / 4}, &Size_Gt);
      break;
    case U_HARR_B3SPLINE:
      H = new_taps({1.f / 2, 1.f / 2, 0.f}, &Size_H);
      G = new_taps({-1.f / 2, 1.f / 2, 0.f}, &Size_G);
      Ht = new_taps({1.f / 16, 1.f / 4, 3.f / 8, 1.f / 4, 1.f / 16}, &Size_Ht);
      Gt = new_taps({1.f / 16, 3.f / 8, 1.f, -3.f / 8, -1.f / 16}, &Size_Gt);
      break;
    default:
      break;  // no filters: such a bank must not be used
  }
}

void UndecSubBandFilter::convol_filter(int N, const float* In, float* Out, const float* F,
                                       int SizeF, int Step) const {
  int start = -(SizeF / 2);
  for (int i = 0; i < N; i++) Out[i] = spread_dot<float>(In, N, i, F, SizeF, start, Step);
}

void UndecSubBandFilter::transform(int N, float* Signal, float* Low, float* High, int Step) {
  if (N <= 0 || H == nullptr) return;
  convol_filter(N, Signal, Low, H, Size_H, Step);
  convol_filter(N, Signal, High, G, Size_G, Step);
}

void UndecSubBandFilter::recons(int N, float* Low, float* High, float* Signal, int Step) {
  if (N <= 0 || H == nullptr) return;
  // Both terms into work arrays first, so that Signal may be one of the bands.
  std::vector<float> low_part(N), high_part(N);
  convol_filter(N, Low, low_part.data(), Ht, Size_Ht, Step);
  convol_filter(N, High, high_part.data(), Gt, Size_Gt, Step);
  for (int i = 0; i < N; i++) Signal[i] = low_part[i] + high_part[i];
}
