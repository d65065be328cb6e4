// Finite Radon transform (method 3) of a p x p image, p prime: p + 1
// projections of sums along the periodic digital lines of the p x p torus.
// For a prime side every pair of points lies on exactly one such line, which
// makes the transform exactly invertible with one division by p. Modular
// indices are stepped incrementally: no multiplication or modulo inside the
// loops.
#include "array/fatal.h"
#include "radon/radon.h"

namespace {
using Image = to_array<float, false>;
}

void Radon::finite_radon(Image& Ima, Image& Rad) {
  if (!Allocated || Ima.nl() != Nl || Ima.nc() != Nc) alloc(Ima.nl(), Ima.nc(), RADON_FINITE, 0, 0);
  if (Rad.naxis() != 2 || Rad.nl() != Nlr || Rad.nc() != Ncr) Rad.resize(Nlr, Ncr);
  const int p = Nc, nl = Nl < Nc ? Nl : Nc;
  for (int k = 0; k < p; k++) {
    float* proj = Rad.buffer() + static_cast<size_t>(k) * p;
    for (int l = 0; l < p; l++) proj[l] = 0.f;
    int t = k;
    for (int j = 0; j < p; j++) {
      t -= k;
      if (t < 0) t += p;
      // Line i of column j lands in bin (t + i) mod p.
      int bin = t;
      for (int i = 0; i < nl; i++) {
        proj[bin] += Ima(i, j);
        if (++bin == p) bin = 0;
      }
    }
  }
  float* columns = Rad.buffer() + static_cast<size_t>(p) * p;
  for (int j = 0; j < p; j++) columns[j] = 0.f;
  for (int j = 0; j < p; j++)
    for (int i = 0; i < nl; i++) columns[j] += Ima(i, j);
}

void Radon::inv_finite_radon(Image& Rad, Image& Ima) {
  if (!Allocated || Ima.nl() != Nl || Ima.nc() != Nc) alloc(Ima.nl(), Ima.nc(), RADON_FINITE, 0, 0);
  if (Nlr != Rad.nl() || Ncr != Rad.nc()) alloc(Rad.nc(), Rad.nc(), RADON_FINITE, Rad.nl(), Rad.nc());
  // The column sums live on line p: a Radon image without it cannot be read.
  if (Rad.nl() != Nlr) fatal_exit("Error: bad image size for the Radon transform ...\n");
  if (Ima.naxis() != 2 || Ima.nl() != Nl || Ima.nc() != Nc) Ima.resize(Nl, Nc);
  const int p = Nc;
  const float P = static_cast<float>(p);
  Ima.init();
  float total = 0.f;
  for (int l = 0; l < p; l++) total += Rad(0, l);
  const float mean_term = total / (P * P);
  const int nl = Nl < p ? Nl : p;
  for (int j = 0; j < p; j++) {
    const float column = Rad(p, j) / P;
    for (int i = 0; i < nl; i++) Ima(i, j) = column;
    int t = -j;
    for (int k = 0; k < p; k++) {
      t += j;
      if (t >= p) t -= p;
      const float* proj = Rad.buffer() + static_cast<size_t>(k) * p;
      int i = t;
      for (int l = 0; l < p; l++) {
        if (i < nl) Ima(i, j) = (proj[l] / P + Ima(i, j)) - mean_term;
        if (++i == p) i = 0;
      }
    }
  }
}
