// The MCA iteration: the first level from the data, the falling threshold,
// the projection of every component in turn and the residual after each.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>

#include "array/fatal.h"
#include "array/scalar_helpers.h"
#include "io/io_dispatch.h"
#include "io/output_file.h"
#include "mca/mca.h"
#include "mca/mca_base_family.h"
#include "mca/mca_coef_update.h"
#include "mca/mca_schedule.h"
#include "multires/mr_regul.h"

namespace {

void add_residual(to_array<float, false>& component, const to_array<float, false>& resi) {
  float* c = component.buffer();
  const float* r = resi.buffer();
  const int64_t n = component.n_elem();
#pragma omp parallel for simd schedule(static) if (n > ParallelPixels)
  for (int64_t k = 0; k < n; k++) c[k] += r[k];
}

// The multi-direction base's step: each direction in turn gives back its
// part of the component, takes the residual (or, with the L1 norm, itself
// plus the residual) thresholded in its turned transform, and the residual
// follows every direction.
void dwt_direction_loop(MCA& m, const to_array<float, false>& Data,
                        to_array<float, false>& component) {
  const int nbr_angle = static_cast<int>(m.DWT_TabImaRec.size());
  for (int k = 0; k < nbr_angle; k++) {
    to_array<float, false>& direction = m.DWT_TabImaRec[k];
    const float angle = m.DWT_TabAngle[k];
    if (m.Verbose) std::printf("  ANGLE %d %g", k + 1, angle / 3.14159265358979323846 * 180.);
    component -= direction;
    if (m.UseNormL1 == 1) {
      add_residual(direction, m.Resi);
      m.dwt_proj(direction, m.Lambda, angle);
    } else {
      m.dwt_proj(m.Resi, m.Lambda, angle);
      add_residual(direction, m.Resi);
    }
    mca_positivity(direction, m.DWT_PositivSol);
    component += direction;
    m.make_residual(Data, m.Resi);
    if (m.Verbose) m.info(direction, "    REC ");
  }
  if (m.Verbose) std::printf("\n");
}

// A level that is not a finite number would keep every coefficient or none:
// the run would end as a success with meaningless components. It comes
// from data too large against their noise level for float arithmetic.
float finite_level(const MCA& m, float level, const char* what) {
  if (!(std::fabs(level) <= FLT_MAX))
    fatal_exitf(-1, stdout,
                "Error: the %s is not a finite number (%g): the data's values are too large "
                "against the noise level (%g) for the arithmetic; give a larger noise level with "
                "-g ...\n",
                what, level, m.in_input_units(m.Noise_Ima));
  return level;
}

// Data in units far from the noise level given (calibrated fluxes near
// 1e-18 against the default 0.5) have no coefficient above the last
// threshold: the run would end as a success with every component 0 and not
// a word. Such data may hold no signal, so it is said, not refused. Without
// a first level from the data no iteration runs at all; with one given,
// every coefficient is measured only when every base gives its largest.
void warn_if_nothing_reaches_last_level(const MCA& m, float largest, bool first_from_data) {
  bool all_measured = true;
  for (int b = 0; b < m.NbrBase; b++) all_measured &= mca_base_family(m.TabSelect[b]).init != nullptr;
  if (!(largest < m.LastSoftThreshold) || !(first_from_data || all_measured)) return;
  // With a first level given the iteration runs, and the bases that keep
  // their coarsest scale apart still take it.
  std::fprintf(stderr,
               "Warning: no coefficient reaches the last threshold, %g times the noise level %g: "
               "%s. If the image holds signal, give its noise level with -g, or -g 0 to estimate "
               "it\n",
               m.LastSoftThreshold, m.in_input_units(m.Noise_Ima),
               first_from_data ? "every component is 0" : "no component takes any detail");
}

}  // namespace

float MCA::mca_update(float Coef, float Level, float /*Third*/) const {
  return UseNormL1 == 1 ? soft_threshold(Coef, Level / 2.f) : hard_threshold(Coef, Level);
}

void MCA::reconstruction(to_array<float, false>& Ima) {
  Ima = TabImaRec[0];
  float* out = Ima.buffer();
  const int n = Ima.n_elem();
  // Every pixel sums its components in base order, whichever thread has it.
  for (int b = 1; b < NbrBase; b++) {
    const float* component = TabImaRec[b].buffer();
#pragma omp parallel for simd schedule(static) if (n > ParallelPixels)
    for (int k = 0; k < n; k++) out[k] += component[k];
  }
  if (WriteAll == 1) {
    // A debug image to watch while the run goes on: in place once written.
    OutputsPlacedAtOnce at_once;
    mca_write_result(*this, "xx_res.fits", Ima, nullptr);
  }
}

namespace {

// Whether the residual goes in one pass over the pixels: not with a mask,
// zoom or the debug images of the step-by-step residual.
bool one_pass_applies(const MCA& m) {
  return !m.UseMask && !m.UseZoom && m.WriteAll != 1 && m.NbrBase <= MAX_MCA_BASES;
}

// The residual of pixels [first, first + count) in one pass: Data minus the
// components summed in base order, the same float arithmetic as
// reconstruction followed by the difference. With fed, the residual is also
// added to that component, as the next projection would do first: the
// pixels are then read once for both. A block of pixels at a time, each step
// a loop the compiler can run on vectors; every pixel still sums its
// components in base order. The fed component may be one of the components:
// each pixel of it is read before it is written.
void residual_pixels(const MCA& m, const float* data, float* resi, float* fed, int64_t first,
                     int64_t count) {
  constexpr int Block = 512;
  const int nbr_base = m.NbrBase;
  for (int64_t start = first; start < first + count; start += Block) {
    const int size = static_cast<int>(std::min<int64_t>(Block, first + count - start));
    float sum[Block];
    std::copy_n(m.TabImaRec[0].buffer() + start, size, sum);
    for (int b = 1; b < nbr_base; b++) {
      const float* c = m.TabImaRec[b].buffer() + start;
#pragma omp simd
      for (int k = 0; k < size; k++) sum[k] += c[k];
    }
    const float* d = data + start;
    float* r = resi + start;
    if (fed == nullptr) {
#pragma omp simd
      for (int k = 0; k < size; k++) r[k] = d[k] - sum[k];
    } else {
      float* f = fed + start;
#pragma omp simd
      for (int k = 0; k < size; k++) {
        r[k] = d[k] - sum[k];
        f[k] += r[k];
      }
    }
  }
}

void shape_residual(MCA& m, to_array<float, false>& Residual) {
  if (Residual.nl() != m.Nl || Residual.nc() != m.Nc) Residual.alloc(m.Nl, m.Nc, "resi");
}

// The residual of the whole image in one pass, when it applies; feed as for
// residual_pixels.
bool one_pass_residual(MCA& m, const to_array<float, false>& Data,
                       to_array<float, false>& Residual, to_array<float, false>* feed) {
  if (!one_pass_applies(m)) return false;
  shape_residual(m, Residual);
  const float* data = Data.buffer();
  float* resi = Residual.buffer();
  float* fed = feed == nullptr ? nullptr : feed->buffer();
  const int nl = m.Nl;
  const int64_t nc = m.Nc;
#pragma omp parallel for schedule(static) if (Data.n_elem() > ParallelPixels)
  for (int i = 0; i < nl; i++) residual_pixels(m, data, resi, fed, i * nc, nc);
  return true;
}

// The component that takes the residual after base b of iteration i, if
// any: the next base's, or the first base's when another iteration follows
// (the level is not lowered before the loop test, which reads it). Not with
// a single base shown in verbose mode: it would be shown with the residual
// added.
to_array<float, false>* next_to_take_residual(MCA& m, int b, int i) {
  int next = b + 1;
  if (next == m.NbrBase) {
    if (i + 1 >= m.Nbr_Iter || !(m.LastSoftThreshold < m.Lambda)) return nullptr;
    if (m.NbrBase == 1 && m.Verbose) return nullptr;
    next = 0;
  }
  return m.TabSelect[next] == MCA_DWT ? nullptr : &m.TabImaRec[next];
}

}  // namespace

void MCA::make_residual(const to_array<float, false>& Data, to_array<float, false>& Residual) {
  if (one_pass_residual(*this, Data, Residual, nullptr)) return;
  const int n = Data.n_elem();
  reconstruction(Residual);
  float* resi = Residual.buffer();
  const float* data = Data.buffer();
  if (UseMask) {
    const float* mask = MaskIma.buffer();
    for (int k = 0; k < n; k++) resi[k] = (data[k] - resi[k]) * mask[k];
  } else if (!UseZoom) {
    for (int k = 0; k < n; k++) resi[k] = data[k] - resi[k];
  } else {
    // Super-resolution: each F x F block of the sum must average to its
    // pixel of the low-resolution image; the residual is that difference.
    const int F = ZoomFactor;
    for (int i0 = 0; i0 < Nl; i0 += F)
      for (int j0 = 0; j0 < Nc; j0 += F) {
        double sum = 0.;
        for (int i = i0; i < i0 + F; i++)
          for (int j = j0; j < j0 + F; j++) sum += Residual(i, j, I_MIRROR);
        float value = LowResolIma(i0 / F, j0 / F) - static_cast<float>(sum / (F * F));
        for (int i = i0; i < i0 + F && i < Nl; i++)
          for (int j = j0; j < j0 + F && j < Nc; j++) Residual(i, j) = value;
      }
  }
}

void MCA::decomposition(to_array<float, false>& Data) {
  // The total-variation step: Haar soft thresholding whose level falls by
  // sqrt(2) per scale.
  MR_Regul regul;
  regul.NbrScale = TV_NbrScale2D;
  regul.ThresholdDecay = True;
  if (Data.nl() != Nl || Data.nc() != Nc || Nl == 0)
    fatal_exitf(-1, stdout,
                "Error: MCA class not initialized with this image size %d %d\n"
                "       Expected size is %d %d\n",
                Data.nl(), Data.nc(), Nl, Nc);

  // A first level that is not above the last one cannot start a descent:
  // it is taken from the data. Without a base that measures the data it
  // would be 0 and no iteration would run: the components would stay zero
  // and the run would end as a success.
  const bool first_from_data = !(LastSoftThreshold < FirstSoftThreshold);
  bool measured = false;
  for (int b = 0; b < NbrBase; b++) measured |= mca_base_family(TabSelect[b]).init != nullptr;
  // Transforms that measure nothing take no MOM step either: with -S alone
  // the run would stop at the end of its first iteration.
  const char* descent = T_Decreasing == 2 ? ", and the linear descent with -L" : "";
  if (!measured && first_from_data && FirstSoftThreshold >= 0.f)
    fatal_exitf(-1, stdout,
                "Error: the first threshold (%g) is not above the last one (%g), and none of the "
                "selected transforms gives one from the data: give one with -S, above %g%s ...\n",
                FirstSoftThreshold, LastSoftThreshold, LastSoftThreshold, descent);
  if (!measured && first_from_data)
    fatal_exitf(-1, stdout,
                "Error: none of the selected transforms gives a first threshold from the data: "
                "give it with -S, above the last threshold (%g)%s ...\n",
                LastSoftThreshold, descent);

  // The coarsest a trous scale leaves the data before the separation and
  // returns in the sum written by the program.
  if (RemoveLastScale == 1) {
    bool own_bands = AT_TabBand == nullptr;
    if (own_bands) AT_Trans.alloc(AT_TabBand, Nl, Nc, AT_NbrScale);
    AT_Trans.transform(Data, AT_TabBand, AT_NbrScale);
    LastScale = AT_TabBand[AT_NbrScale - 1];
    info(LastScale, "LAST SCALE");
    Data -= LastScale;
    if (own_bands) AT_Trans.free(AT_TabBand, AT_NbrScale);
  }
  if (Verbose) std::printf(" Gaussian noise estimation =  %g\n", in_input_units(Noise_Ima));

  float max1 = 0.f, max2 = 0.f;
  for (int b = 0; b < NbrBase; b++) {
    const MCABaseFamily& family = mca_base_family(TabSelect[b]);
    if (family.init != nullptr)
      mca_keep_two_max(finite_level(*this, family.init(*this, Data), "largest coefficient"),
                       max1, max2);
  }
  if (Verbose) std::printf(" Maximum SNR of all coeff is %g Second max = %g\n", max1, max2);
  warn_if_nothing_reaches_last_level(*this, max1, first_from_data);
  max1 = mca_first_level(max1, max2);
  if (first_from_data) FirstSoftThreshold = max1;

  finite_level(*this, FirstSoftThreshold, "first threshold");
  float delta = FirstSoftThreshold - LastSoftThreshold;
  LambdaStep = finite_level(
      *this, Nbr_Iter > 1 ? delta / static_cast<float>(Nbr_Iter - 1) : delta, "threshold step");
  Lambda = FirstSoftThreshold;
  if (Verbose)
    std::printf(" FirstThreshold =  %g LastThreshold = %g Step = %g\n", FirstSoftThreshold,
                LastSoftThreshold, LambdaStep);

  Resi = Data;
  bool fed = false;  // the residual is already added to the next component
  for (int i = 0; i < Nbr_Iter && LastSoftThreshold < Lambda; i++) {
    if (i > 0) {
      switch (T_Decreasing) {
        case 0: Lambda = mca_linear_lambda(Lambda, LambdaStep, LastSoftThreshold); break;
        case 1: Lambda = mca_exp_lambda(LastSoftThreshold, delta, i, Nbr_Iter); break;
        case 2:
          Lambda = mca_mom_lambda(Lambda, FirstSoftThreshold, LastSoftThreshold, i, Nbr_Iter,
                                  LambdaStep);
          break;
        default: break;
      }
    }
    if (Verbose) std::printf("\nIteration %d Lambda = %g\n", i + 1, Lambda);

    for (int b = 0; b < NbrBase; b++) {
      to_array<float, false>& component = TabImaRec[b];
      if (UseCorrel) {
        ImaCorrel.init();
        for (int other = 0; other < NbrBase; other++)
          if (other != b) ImaCorrel += TabImaRec[other];
      }
      const MCABaseFamily& family = mca_base_family(TabSelect[b]);
      const bool tv = TV == 1 && LambdaTV > 0.f && family.takes_tv;
      // The next base to project takes the residual first: it is added to
      // it in the same pass (its component is not read before).
      to_array<float, false>* next = next_to_take_residual(*this, b, i);
      const bool one_pass = one_pass_applies(*this);
      // A projection that makes its component line by line hands each line
      // on to the constraint and the residual while it is in its cache.
      const bool by_lines = one_pass && !tv && family.constrain_lines != nullptr &&
                            family.project != nullptr && TabSelect[b] != MCA_DWT;
      if (by_lines) {
        shape_residual(*this, Resi);
        float* fed_pixels = next == nullptr ? nullptr : next->buffer();
        LinesMade = [&, b, fed_pixels](int first, int end) {
          family.constrain_lines(*this, b, first, end);
          residual_pixels(*this, Data.buffer(), Resi.buffer(), fed_pixels,
                          static_cast<int64_t>(first) * Nc, static_cast<int64_t>(end - first) * Nc);
        };
      }
      if (TabSelect[b] == MCA_DWT) {
        dwt_direction_loop(*this, Data, component);
      } else {
        if (!fed) add_residual(component, Resi);
        if (Verbose) std::printf("%s", family.proj_label);
        if (family.project != nullptr) family.project(*this, component);
        if (tv) regul.im_soft_threshold(component, component, LambdaTV * Noise_Ima, 0.f);
      }
      LinesMade = nullptr;
      if (!by_lines) {
        family.constrain(*this, b);
        if (!one_pass_residual(*this, Data, Resi, next)) make_residual(Data, Resi);
      }
      fed = one_pass && next != nullptr;
      if (Verbose) {
        info(component, "   REC");
        info(Resi, "   Residual");
      }
    }

    if ((i + 1) % 5 == 0 && WriteAll == 1) write_allima("xx", i);

    if (T_Decreasing == 2 && LastSoftThreshold < Lambda) {
      std::printf("   MOM calculation \n");
      max1 = max2 = 0.f;
      for (int b = 0; b < NbrBase; b++) {
        const MCABaseFamily& family = mca_base_family(TabSelect[b]);
        if (family.max == nullptr)
          fatal_exit("Error: MOM is not implemented for this transform ... \n");
        mca_keep_two_max(finite_level(*this, family.max(*this, Resi), "largest coefficient"),
                         max1, max2);
      }
      if (Verbose) std::printf(" Maximum SNR of all coeff is %g Second max = %g\n", max1, max2);
      FirstSoftThreshold = mca_mom_level(max1, max2);
    }
  }
}
