// Decimated and undecimated line-column wavelet transforms over one filter
// bank.
#include "multires/line_col.h"

#include <vector>

#include "array/im_resize.h"
#include "array/scalar_helpers.h"

namespace {

int column_scales(int NbrScaleLine, int NbrScaleCol) {
  return NbrScaleCol < 0 ? NbrScaleLine : NbrScaleCol;
}

// Segment (position, length) of step s of a decimated axis of n samples.
void step_segment(int s, int n, Bool HighBandSplit, int& pos, int& len) {
  pos = 0;
  len = n;
  for (int k = 0; k < s; k++) {
    if (HighBandSplit) {
      pos += (len + 1) / 2;
      len /= 2;
    } else {
      len = (len + 1) / 2;
    }
  }
}

}  // namespace

void LineCol::transform_one_step_line(to_array<float, false>& Ima, int NbrLines, int N, int Pos) {
  if (N < 1) return;
  const int half = (N + 1) / 2;
  std::vector<float> low(half), high(N / 2 + 1);
  for (int i = 0; i < NbrLines; i++) {
    float* row = &Ima(i, Pos);
    SB1D->transform(N, row, low.data(), high.data());
    for (int k = 0; k < half; k++) row[k] = low[k];
    for (int k = 0; k < N / 2; k++) row[half + k] = high[k];
  }
}

void LineCol::recons_one_step_line(to_array<float, false>& Ima, int NbrLines, int N, int Pos) {
  if (N < 1) return;
  const int half = (N + 1) / 2;
  std::vector<float> low(half), high(N / 2 + 1), out(N);
  for (int i = 0; i < NbrLines; i++) {
    float* row = &Ima(i, Pos);
    for (int k = 0; k < half; k++) low[k] = row[k];
    for (int k = 0; k < N / 2; k++) high[k] = row[half + k];
    SB1D->recons(N, low.data(), high.data(), out.data());
    for (int k = 0; k < N; k++) row[k] = out[k];
  }
}

void LineCol::transform_one_step_col(to_array<float, false>& Ima, int N, int NbrCols, int Pos) {
  if (N < 1) return;
  const int half = (N + 1) / 2;
  std::vector<float> column(N), low(half), high(N / 2 + 1);
  for (int j = 0; j < NbrCols; j++) {
    for (int k = 0; k < N; k++) column[k] = Ima(Pos + k, j);
    SB1D->transform(N, column.data(), low.data(), high.data());
    for (int k = 0; k < half; k++) Ima(Pos + k, j) = low[k];
    for (int k = 0; k < N / 2; k++) Ima(Pos + half + k, j) = high[k];
  }
}

void LineCol::recons_one_step_col(to_array<float, false>& Ima, int N, int NbrCols, int Pos) {
  if (N < 1) return;
  const int half = (N + 1) / 2;
  std::vector<float> low(half), high(N / 2 + 1), out(N);
  for (int j = 0; j < NbrCols; j++) {
    for (int k = 0; k < half; k++) low[k] = Ima(Pos + k, j);
    for (int k = 0; k < N / 2; k++) high[k] = Ima(Pos + half + k, j);
    SB1D->recons(N, low.data(), high.data(), out.data());
    for (int k = 0; k < N; k++) Ima(Pos + k, j) = out[k];
  }
}

void LineCol::transform(to_array<float, false>& Ima, to_array<float, false>& Trans,
                        int NbrScaleLine, int NbrScaleCol) {
  Trans = Ima;
  transform(Trans, NbrScaleLine, NbrScaleCol);
}

void LineCol::transform(to_array<float, false>& Ima, int NbrScaleLine, int NbrScaleCol) {
  const int Nl = Ima.nl(), Nc = Ima.nc();
  int pos, len;
  for (int s = 0; s < NbrScaleLine - 1; s++) {
    step_segment(s, Nc, HighBandSplit, pos, len);
    transform_one_step_line(Ima, Nl, len, pos);
  }
  const int C = column_scales(NbrScaleLine, NbrScaleCol);
  for (int s = 0; s < C - 1; s++) {
    step_segment(s, Nl, HighBandSplit, pos, len);
    transform_one_step_col(Ima, len, Nc, pos);
  }
}

void LineCol::recons(to_array<float, false>& Trans, to_array<float, false>& Ima, int NbrScaleLine,
                     int NbrScaleCol) {
  Ima = Trans;
  recons(Ima, NbrScaleLine, NbrScaleCol);
}

void LineCol::recons(to_array<float, false>& Trans, int NbrScaleLine, int NbrScaleCol) {
  const int Nl = Trans.nl(), Nc = Trans.nc();
  int pos, len;
  const int C = column_scales(NbrScaleLine, NbrScaleCol);
  for (int s = C - 2; s >= 0; s--) {
    step_segment(s, Nl, HighBandSplit, pos, len);
    recons_one_step_col(Trans, len, Nc, pos);
  }
  for (int s = NbrScaleLine - 2; s >= 0; s--) {
    step_segment(s, Nc, HighBandSplit, pos, len);
    recons_one_step_line(Trans, Nl, len, pos);
  }
}

void LineCol::undec_transform_one_step_line(to_array<float, false>& In, to_array<float, false>& Low,
                                            to_array<float, false>& High, int Step) {
  const int Nl = In.nl(), Nc = In.nc();
  for (int i = 0; i < Nl; i++) SB1D->transform(Nc, &In(i, 0), &Low(i, 0), &High(i, 0), Step);
}

void LineCol::undec_transform_one_step_col(to_array<float, false>& In, to_array<float, false>& Low,
                                           to_array<float, false>& High, int Step) {
  const int Nl = In.nl(), Nc = In.nc();
  std::vector<float> column(Nl), low(Nl), high(Nl);
  for (int j = 0; j < Nc; j++) {
    for (int i = 0; i < Nl; i++) column[i] = In(i, j);
    SB1D->transform(Nl, column.data(), low.data(), high.data(), Step);
    for (int i = 0; i < Nl; i++) {
      Low(i, j) = low[i];
      High(i, j) = high[i];
    }
  }
}

void LineCol::undec_recons_one_step_line(to_array<float, false>& Low, to_array<float, false>& High,
                                         to_array<float, false>& Out, int Step) {
  const int Nl = Out.nl(), Nc = Out.nc();
  // Out may be the Low image itself: each line goes through a buffer.
  std::vector<float> line(Nc);
  for (int i = 0; i < Nl; i++) {
    SB1D->recons(Nc, &Low(i, 0), &High(i, 0), line.data(), Step);
    for (int j = 0; j < Nc; j++) Out(i, j) = line[j];
  }
}

void LineCol::undec_recons_one_step_col(to_array<float, false>& Low, to_array<float, false>& High,
                                        to_array<float, false>& Out, int Step) {
  const int Nl = Out.nl(), Nc = Out.nc();
  std::vector<float> low(Nl), high(Nl), column(Nl);
  for (int j = 0; j < Nc; j++) {
    for (int i = 0; i < Nl; i++) {
      low[i] = Low(i, j);
      high[i] = High(i, j);
    }
    SB1D->recons(Nl, low.data(), high.data(), column.data(), Step);
    for (int i = 0; i < Nl; i++) Out(i, j) = column[i];
  }
}

template <class BandAt>
void LineCol::undec_forward(to_array<float, false>& Ima, BandAt band, int L, int C) {
  to_array<float, false> buff;
  if (L <= 1) {
    band(0, 0) = Ima;
  } else {
    buff = Ima;
  }
  for (int s = 0; s < L - 1; s++) {
    undec_transform_one_step_line(buff, band(s + 1, 0), band(s, 0), POW2(s));
    if (s != L - 2) buff = band(s + 1, 0);
  }
  for (int l = 0; l < L; l++) {
    buff = band(l, 0);
    for (int s = 0; s < C - 1; s++) {
      undec_transform_one_step_col(buff, band(l, s + 1), band(l, s), POW2(s));
      if (s != C - 2) buff = band(l, s + 1);
    }
  }
}

template <class BandAt>
void LineCol::undec_inverse(BandAt band, to_array<float, false>& Ima, int L, int C) {
  to_array<float, false> buff;
  if (C > 1) {
    for (int l = 0; l < L; l++) {
      buff = band(l, C - 1);
      for (int s = C - 2; s >= 0; s--) {
        undec_recons_one_step_col(buff, band(l, s), Ima, POW2(s));
        if (s != 0) buff = Ima;
      }
      band(l, 0) = Ima;
    }
  }
  if (L > 1) {
    buff = band(L - 1, 0);
    for (int s = L - 2; s >= 0; s--) {
      undec_recons_one_step_line(buff, band(s, 0), Ima, POW2(s));
      if (s != 0) buff = Ima;
    }
  } else if (C <= 1) {
    // No step either way: the forward form stored the image as the only band.
    Ima = band(0, 0);
  }
}

void LineCol::undec_transform(to_array<float, false>& Ima, to_array<float, false>*& TabBand,
                              int NbrScaleLine, int NbrScaleCol) {
  const int C = column_scales(NbrScaleLine, NbrScaleCol);
  auto band = [&](int l, int c) -> to_array<float, false>& { return TabBand[l * C + c]; };
  undec_forward(Ima, band, NbrScaleLine, C);
}

void LineCol::undec_transform(to_array<float, false>& Ima, to_array<float, false>**& TabBand,
                              int NbrScaleLine, int NbrScaleCol) {
  const int C = column_scales(NbrScaleLine, NbrScaleCol);
  TabBand = new to_array<float, false>*[NbrScaleLine];
  for (int l = 0; l < NbrScaleLine; l++) {
    TabBand[l] = new to_array<float, false>[C];
    for (int c = 0; c < C; c++) TabBand[l][c].alloc(Ima.nl(), Ima.nc(), "band");
  }
  auto band = [&](int l, int c) -> to_array<float, false>& { return TabBand[l][c]; };
  undec_forward(Ima, band, NbrScaleLine, C);
}

void LineCol::undec_recons(to_array<float, false>*& TabBand, to_array<float, false>& Ima,
                           int NbrScaleLine, int NbrScaleCol) {
  const int C = column_scales(NbrScaleLine, NbrScaleCol);
  auto band = [&](int l, int c) -> to_array<float, false>& { return TabBand[l * C + c]; };
  undec_inverse(band, Ima, NbrScaleLine, C);
}

void LineCol::undec_recons(to_array<float, false>**& TabBand, to_array<float, false>& Ima,
                           int NbrScaleLine, int NbrScaleCol) {
  const int C = column_scales(NbrScaleLine, NbrScaleCol);
  auto band = [&](int l, int c) -> to_array<float, false>& { return TabBand[l][c]; };
  undec_inverse(band, Ima, NbrScaleLine, C);
}

void LineCol::directional_transform(to_array<float, false>& Ima, to_array<float, false>& Trans,
                                    float Angle, int NbrScaleLine, int NbrScaleCol, Bool Flag) {
  const int nl = 2 * Ima.nl(), nc = 2 * Ima.nc();
  if (Trans.nl() != nl || Trans.nc() != nc) Trans.alloc(nl, nc, "directional trans");
  to_array<float, false> buffer(nl, nc, "buffer");
  im_extend(Ima, buffer);
  Rot.AngleInRadian = Flag == True ? 1 : 0;
  Rot.im_move_rotate(buffer, Trans, Angle, 0.f, 0.f);
  transform(Trans, NbrScaleLine, NbrScaleCol);
}

void LineCol::directional_recons(to_array<float, false>& Trans, to_array<float, false>& Ima,
                                 float Angle, int NbrScaleLine, int NbrScaleCol, Bool Flag) {
  const int nl = Trans.nl(), nc = Trans.nc();
  if (Ima.nl() != nl / 2 || Ima.nc() != nc / 2) Ima.alloc(nl / 2, nc / 2, "directional recons");
  to_array<float, false> buffer(nl, nc, "buffer");
  recons(Trans, NbrScaleLine, NbrScaleCol);
  Rot.AngleInRadian = Flag == True ? 1 : 0;
  Rot.im_move_rotate(Trans, buffer, -Angle, 0.f, 0.f);
  im_extract(buffer, Ima);
}
