// The line-column transform with undecimated first scales along the lines.
#include "multires/directional_line_col.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "array/fatal.h"
#include "io/io_dispatch.h"
#include "multires/line_col.h"

void DirectionalLineCol::check_allocated() const {
  if (SB1D == nullptr)
    fatal_exitf(-1, stdout, "ERROR: class DirectionalLineCol not correctly allocated ... \n");
}

void DirectionalLineCol::transform(to_array<float, false>& Ima, to_array<float, false>& Trans,
                                   int /*NbrScaleLine*/, int NbrScaleCol) {
  check_allocated();
  const int Nl = Ima.nl(), Nc = Ima.nc();
  const int NcTrans = FirstDecColScale > 0 ? Nc * (FirstDecColScale + 1) : Nc;
  const int NlTrans = FirstDecLineScale > 0 ? Nl * (FirstDecLineScale + 1) : Nl;
  if (Trans.nl() != NlTrans || Trans.nc() != NcTrans) Trans.alloc(NlTrans, NcTrans, "trans");
  std::printf("Trans size %d %d\n", NlTrans, NcTrans);

  // With a single scale the image is its own smooth band: it must reach the
  // coefficients, which no step would otherwise fill.
  if (NbrScaleCol < 2)
    for (int i = 0; i < Nl; i++) std::copy(&Ima(i, 0), &Ima(i, 0) + Nc, &Trans(i, 0));

  std::vector<float> source(Nc), low(Nc), high(Nc);
  int n = Nc, Step = 1;
  for (int s = 0; s < NbrScaleCol - 1; s++) {
    const int half = (n + 1) / 2;
    const int Dep = (FirstDecColScale - s) * Nc;
    const bool decimated = is_decimated_col_scale(s);
    std::printf("Scale %d Nl = %d Nc = %d Step = %d\n", s + 1, Nl, n, Step);
    if (decimated)
      std::printf("DECIMATED SCALE %d %d\n", half, n / 2);
    else
      std::printf("UNDECIMATED SCALE, Dep = %d Step = %d\n", Dep, Step);
    SB1D->SampleDist = Step;
    for (int i = 0; i < Nl; i++) {
      const float* in = s == 0 ? &Ima(i, 0) : &Trans(i, 0);
      float* out = &Trans(i, 0);
      if (decimated) {
        std::copy(in, in + n, source.begin());
        SB1D->transform(n, source.data(), low.data(), high.data());
        std::copy(low.begin(), low.begin() + half, out);
        std::copy(high.begin(), high.begin() + n / 2, out + half);
      } else {
        std::copy(in, in + Nc, source.begin());
        SB1D->transform(Nc, source.data(), low.data(), high.data(), Step);
        std::copy(low.begin(), low.end(), out);
        std::copy(high.begin(), high.end(), out + Dep);
      }
    }
    if (decimated)
      n = half;
    else
      Step *= 2;
  }
}

void DirectionalLineCol::recons(to_array<float, false>& Trans, to_array<float, false>& Ima,
                                int /*NbrScaleLine*/, int NbrScaleCol) {
  check_allocated();
  const int Nl = Ima.nl(), Nc = Ima.nc();
  const int nbr_steps = std::max(NbrScaleCol - 1, 0);
  const int nbr_undec = std::min(std::max(FirstDecColScale, 0), nbr_steps);
  // The undecimated bands sit up to FirstDecColScale image widths to the
  // right: a smaller coefficient image would be read past its end.
  const int needed_nc = nbr_undec > 0 ? Nc * (FirstDecColScale + 1) : Nc;
  if (Trans.nl() < Nl || Trans.nc() < needed_nc)
    fatal_exitf(-1, stdout,
                "ERROR: DirectionalLineCol coefficients of %d x %d, %d x %d expected ... \n",
                Trans.nl(), Trans.nc(), Nl, needed_nc);
  std::printf("DATA  Nl = %d Nc = %d\n", Nl, Nc);
  if (nbr_steps == 0) {
    for (int i = 0; i < Nl; i++) std::copy(&Trans(i, 0), &Trans(i, 0) + Nc, &Ima(i, 0));
    return;
  }

  std::vector<int> TabNc(nbr_steps + 1);
  TabNc[0] = Nc;
  for (int s = 1; s <= nbr_steps; s++)
    TabNc[s] = is_decimated_col_scale(s - 1) ? (TabNc[s - 1] + 1) / 2 : TabNc[s - 1];
  // The forward pass doubled the step after each undecimated scale it ran,
  // which is fewer than FirstDecColScale when there are fewer scales.
  int Step = 1 << nbr_undec;

  std::vector<float> low(Nc), high(Nc), out(Nc);
  for (int s = nbr_steps - 1; s >= 0; s--) {
    const int n = TabNc[s];
    const int half = (n + 1) / 2;
    const int Dep = (FirstDecColScale - s) * Nc;
    const bool decimated = is_decimated_col_scale(s);
    if (!decimated) {
      Step /= 2;
      std::printf("Scale %d Nl = %d Nc = %d Step = %d\n", s + 1, Nl, n, Step);
    }
    if (decimated)
      std::printf("DECIMATED SCALE %d %d\n", half, n / 2);
    else
      std::printf("UNDECIMATED SCALE, Dep =%d Step = %d\n", Dep, Step);
    SB1D->SampleDist = Step;
    for (int i = 0; i < Nl; i++) {
      const float* row = &Trans(i, 0);
      float* target = s > 0 ? &Trans(i, 0) : &Ima(i, 0);
      if (decimated) {
        std::copy(row, row + half, low.begin());
        std::copy(row + half, row + half + n / 2, high.begin());
        SB1D->recons(n, low.data(), high.data(), out.data());
        std::copy(out.begin(), out.begin() + n, target);
      } else {
        std::copy(row, row + Nc, low.begin());
        std::copy(row + Dep, row + Dep + Nc, high.begin());
        SB1D->recons(Nc, low.data(), high.data(), out.data(), Step);
        std::copy(out.begin(), out.end(), target);
      }
    }
    const std::string name = "xx_rec_" + std::to_string(s + 1) + ".fits";
    io_write_ima_float(name.c_str(), Trans);
  }
}

void DirectionalLineCol::transform_col(to_array<float, false>& Ima, int Nl, int Nc, int NbrScale,
                                       int /*Dep*/) {
  check_allocated();
  // The caller's sizes must stay inside the image.
  Nl = std::min(Nl, Ima.nl());
  Nc = std::min(Nc, Ima.nc());
  LineCol columns(*SB1D);
  int n = Nl;
  for (int s = 0; s < NbrScale - 1; s++) {
    columns.transform_one_step_col(Ima, n, Nc, 0);
    n = (n + 1) / 2;
  }
}
