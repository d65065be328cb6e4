// Quincunx wavelet transform: line step with odd lines shifted by one
// sample, column step on the line low-pass image.
#include "multires/quincunx.h"

#include <string>
#include <vector>

#include "array/fatal.h"

using Image = to_array<float, false>;

namespace {

void resize_to(Image& ima, int nl, int nc) {
  if (ima.nl() != nl || ima.nc() != nc) ima.resize(nl, nc);
}

// dst[k] = src[k - 1], dst[0] = src[n - 1].
void rotate_right(const float* src, float* dst, int n) {
  if (n == 0) return;
  dst[0] = src[n - 1];
  for (int k = 1; k < n; k++) dst[k] = src[k - 1];
}

// dst[k] = src[k + 1], dst[n - 1] = src[0].
void rotate_left(const float* src, float* dst, int n) {
  if (n == 0) return;
  for (int k = 0; k + 1 < n; k++) dst[k] = src[k + 1];
  dst[n - 1] = src[0];
}

// The bank every step filters with; a transform without one cannot run.
SubBand1D& bank_of(const Quincunx& quinc) {
  if (quinc.FilterBank == nullptr)
    fatal_exit("Error: no filter bank in the quincunx transform ...\n");
  return *quinc.FilterBank;
}

}  // namespace

int Quincunx::alloc(Image*& Bands, int Nl, int Nc, int NbrScale) {
  const int nbr_band = 2 * (NbrScale - 1) + 1;
  Bands = new Image[nbr_band];
  int nl = Nl, nc = Nc;
  for (int b = 0; b < nbr_band; b++) {
    std::string name = "band_" + std::to_string(b + 1);
    if (b == nbr_band - 1) {
      Bands[b].alloc(nl, nc, name.c_str());
    } else if (b % 2 == 0) {
      Bands[b].alloc(nl, nc / 2, name.c_str());
    } else {
      Bands[b].alloc(nl / 2, (nc + 1) / 2, name.c_str());
      nl = (nl + 1) / 2;
      nc = (nc + 1) / 2;
    }
  }
  return nbr_band;
}

void Quincunx::free(Image*& Bands, int NbrScale) {
  if (NbrScale != 0 && Bands != nullptr) {
    delete[] Bands;
    Bands = nullptr;
  }
}

void Quincunx::transform_one_step(Image& Ima, Image& Band1, Image& Band2, Image& Smooth) {
  SubBand1D& bank = bank_of(*this);
  const int nl = Ima.nl(), nc = Ima.nc();
  const int nc_low = (nc + 1) / 2;
  resize_to(Band1, nl, nc / 2);
  resize_to(Band2, nl / 2, nc_low);
  Image low_lines(nl, nc_low, "image_h0");
  std::vector<float> shifted(nc), low(nc_low), column(nl), col_low((nl + 1) / 2),
      col_high(nl / 2);

  for (int i = 0; i < nl; i++) {
    float* row = Ima.buffer() + static_cast<size_t>(i) * nc;
    float* low_row = low_lines.buffer() + static_cast<size_t>(i) * nc_low;
    float* high_row = Band1.buffer() + static_cast<size_t>(i) * (nc / 2);
    if (i % 2 == 0) {
      bank.transform(nc, row, low_row, high_row);
    } else {
      rotate_right(row, shifted.data(), nc);
      bank.transform(nc, shifted.data(), low.data(), high_row);
      rotate_left(low.data(), low_row, nc_low);
    }
  }

  // The input has been read: the smooth image may now take its place.
  resize_to(Smooth, (nl + 1) / 2, nc_low);
  for (int j = 0; j < nc_low; j++) {
    for (int i = 0; i < nl; i++) column[i] = low_lines(i, j);
    bank.transform(nl, column.data(), col_low.data(), col_high.data());
    for (int i = 0; i < (nl + 1) / 2; i++) Smooth(i, j) = col_low[i];
    for (int i = 0; i < nl / 2; i++) Band2(i, j) = col_high[i];
  }
}

void Quincunx::recons_one_step(Image& Smooth, Image& Band2, Image& Band1, Image& Ima) {
  SubBand1D& bank = bank_of(*this);
  const int nl = Band1.nl(), nc = Band2.nc() + Band1.nc();
  const int nc_low = (nc + 1) / 2;
  resize_to(Ima, nl, nc);
  std::vector<float> col_low((nl + 1) / 2), col_high(nl / 2), column(nl);
  std::vector<float> low(nc_low), shifted_low(nc_low), line(nc);

  for (int j = 0; j < nc_low; j++) {
    for (int i = 0; i < (nl + 1) / 2; i++) col_low[i] = Smooth(i, j);
    for (int i = 0; i < nl / 2; i++) col_high[i] = Band2(i, j);
    bank.recons(nl, col_low.data(), col_high.data(), column.data());
    for (int i = 0; i < nl; i++) Ima(i, j) = column[i];
  }

  for (int i = 0; i < nl; i++) {
    float* row = Ima.buffer() + static_cast<size_t>(i) * nc;
    float* high_row = Band1.buffer() + static_cast<size_t>(i) * Band1.nc();
    // The low-pass half is read from the row the synthesis writes.
    for (int k = 0; k < nc_low; k++) low[k] = row[k];
    if (i % 2 == 0) {
      bank.recons(nc, low.data(), high_row, row);
    } else {
      rotate_right(low.data(), shifted_low.data(), nc_low);
      bank.recons(nc, shifted_low.data(), high_row, line.data());
      rotate_left(line.data(), row, nc);
    }
  }
}

void Quincunx::transform(Image& Ima, Image*& Bands, int NbrScale) {
  if (Bands == nullptr) alloc(Bands, Ima.nl(), Ima.nc(), NbrScale);
  Image smooth(Ima.nl(), Ima.nc(), "Smooth");
  for (int s = 0; s < NbrScale - 1; s++)
    transform_one_step(s == 0 ? Ima : smooth, Bands[2 * s], Bands[2 * s + 1], smooth);
  Bands[2 * (NbrScale - 1)] = NbrScale > 1 ? smooth : Ima;
}

void Quincunx::recons(Image* Bands, Image& Ima, int NbrScale) {
  const int last = 2 * (NbrScale - 1);
  if (NbrScale <= 1) {
    Ima = Bands[last];
    return;
  }
  Image smooth;
  for (int s = NbrScale - 2; s >= 0; s--) {
    if (s == NbrScale - 2) smooth = Bands[last];
    else smooth = Ima;
    recons_one_step(smooth, Bands[2 * s + 1], Bands[2 * s], Ima);
  }
}

void Quincunx::band_to_ima(Image* Bands, Image& Ima, int NbrBand) {
  const int Nl = Ima.nl(), Nc = Ima.nc();
  for (int b = 0; b < NbrBand - 1; b++) {
    for (int i = 0; i < Bands[b].nl(); i++)
      for (int j = 0; j < Bands[b].nc(); j++) {
        int I, J;
        ind_quinc(b, i, j, Nl, Nc, I, J);
        Ima(I, J) = Bands[b](i, j);
      }
  }
}

void Quincunx::ind_quinc(int b, int i, int j, int Nl, int Nc, int& I, int& J) const {
  int nl = Nl, nc = Nc;
  I = i;
  J = j;
  for (int k = 0; k <= b / 2; k++) {
    nl = (nl + 1) / 2;
    nc = (nc + 1) / 2;
  }
  if (b % 2 == 1) I += nl;
  else J += nc;
}
