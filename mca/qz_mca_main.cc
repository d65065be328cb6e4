// qz_mca: separates an image into morphological components, one per selected
// base, and writes the components, the residual and their sum.
#include <csignal>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "array/fatal.h"
#include "array/stop_signals.h"
#include "array/vms.h"
#include "curvelet/fcur_multiresol.h"
#include "io/fits_header.h"
#include "io/image_names.h"
#include "io/io_dispatch.h"
#include "io/standard_output.h"
#include "mca/mca.h"
#include "mca/mca_input.h"
#include "mca/mca_options.h"
#include "mca/mca_run_files.h"
#include "mca/omp_wait_policy.h"
#include "multires/mdct.h"
#include "numerics/noise_estimators.h"

namespace {

void print_parameters() {
  std::printf("\n\nPARAMETERS: \n\n\n");
  std::printf("File Name in = %s\n", Name_Imag_In.c_str());
  std::printf("File Name Out = %s\n", Name_Imag_Out.c_str());
  if (BlockOverlap == 0) std::printf("No overlapping \n");
  if (BlockSize > 0) std::printf("BlockSize = %d\n", BlockSize);
  if (CosBlockSize > 0) std::printf("CosBlockSize = %d\n", CosBlockSize);
  std::printf("NbrScale2D = %d\n", NbrScale2D);
  if (FirstDetectScale > 0) std::printf("FirstDetectScale = %d\n", FirstDetectScale);
  if (FirstSoftThreshold > 0) std::printf("FirstThreshold = %g\n", FirstSoftThreshold);
  std::printf("LastThreshold = %g\n", LastSoftThreshold);
  if (Noise_Ima != NoiseNotGiven) std::printf(" Noise = %g\n", Noise_Ima);
  if (RemoveLastScale == 1) std::printf("Remove last scale \n");
  std::printf("Number of iteration = %d\n", Nbr_Iter);
  const int schedule = run_schedule();
  if (schedule == 0) std::printf("Linear step descent\n");
  else if (schedule == 2) std::printf("MOM step descent\n");
  else std::printf("Exponential step descent\n");
  if (UseNormL1) std::printf("Used L1 norm in threshold\n");
  if (TV == 1) std::printf("TV Regularization: LambdaTV = %g NbrHaarScale = %d\n", LambdaTV, TV_NbrScale2D);
  if (UseZoom == 1) std::printf("Zoom the image \n");
}

// Every image of the run is written with the input's header, but as 32-bit
// floats without scaling: components and residual are real-valued, and in
// the input's integer type they would be rounded so that their sum no longer
// gives the input back. The rest of the header (keywords, coordinates,
// history) is kept.
void as_float_results(fitsstruct& header) {
  header.bitpix = -32;
  header.bytepix = 4;
  header.bscale = 1.;
  header.bzero = 0.;
}

// Every file the run names after the result: the components, the residual
// and their sum.
std::vector<std::string> run_outputs(const MCA& mca) {
  std::vector<std::string> outputs = mca_result_names(mca, Name_Imag_Out.c_str());
  outputs.push_back(Name_Imag_Out);
  return outputs;
}

// Files of fixed names, written whatever the result is called: over the
// input, only another input name or leaving out their option helps.
const char* const MaskImage = "xx_interp.fits";
const char* const MaskRemedy = "rename the input or leave out -H";
const char* const TestModeImage = "xx_rec";
const char* const TestModeRemedy = "rename the input or leave out -X";

// The -w snapshots: "xx" with each result's suffix and the iteration number,
// every fifth iteration, and the running sum. Their names are fixed: over
// the input, only another input name or no -w helps.
const char* const SnapshotPrefix = "xx";
const char* const SnapshotSum = "xx_res.fits";
constexpr int SnapshotEvery = 5;
const char* const SnapshotRemedy = "rename the input or leave out -w";

// The multiscale local DCT of the input, thresholded at three noise units
// and reconstructed into "xx_rec": a check of the transform on real data.
int run_test_mode() {
  to_array<float, false> data;
  io_read_ima_float(Name_Imag_In.c_str(), data, nullptr);
  RunFiles files({}, data.nl(), data.nc());
  files.add_fixed_outputs({TestModeImage}, TestModeRemedy);
  files.refuse_output_over_input();
  files.refuse_unwritable();
  files.arm();
  const int nbr_plan = 5, first_block = 8;
  std::printf("trans %d %d\n", 0, nbr_plan);
  MDCT mdct;
  mdct.Overlap = False;
  mdct.Verbose = True;
  mdct.alloc(data.nl(), data.nc(), nbr_plan, first_block);
  mdct.transform(data);
  mdct.threshold(Noise_Ima, 3.f);
  data.init();
  mdct.recons(data);
  std::printf("end rec\n");
  io_write_ima_float(TestModeImage, data);
  files.commit();
  return 0;
}

// Noise_Ima := the noise level estimated from the data. An image is flat
// when the estimate is lost in the float resolution of its typical values:
// whatever its units, there is no level to measure thresholds in.
void estimate_noise(const to_array<float, false>& data) {
  const char* name = Name_Imag_In.c_str();
  if (UseMask) {
    // Masked pixels are zeros, not noise: they would inflate the estimate.
    long windows = 0;
    Noise_Ima = detect_noise_from_med_of_present(data, &windows);
    if (windows == 0)
      fatal_exitf(-1, stdout,
                  "Error: every 3 x 3 window of the image holds a missing (zero) pixel, so the "
                  "noise cannot be estimated from the present pixels; give the noise level with "
                  "-g ... (%s)\n",
                  name);
  } else {
    Noise_Ima = detect_noise_from_med(data);
  }
  if (Verbose) std::printf(" Estimated Noise = %g\n", Noise_Ima);
  const float typical = typical_magnitude(data);
  if (!noise_negligible(Noise_Ima, typical)) return;
  // A level given with -g would not bring back a noise the floats lost.
  const float step = offset_float_step(data);
  char remedy[160] = "";
  if (step > 0.f)
    std::snprintf(remedy, sizeof remedy,
                  "; the image sits on an offset where the 32-bit floats it is processed in step by %g "
                  "and lose its noise: subtract the offset first",
                  step);
  fatal_exitf(-1, stdout,
              "Error: the estimated noise standard deviation is %g against a median non-zero "
              "pixel magnitude of %g: the image looks noiseless or flat; give the noise level with "
              "-g ... (%s)%s\n",
              Noise_Ima, typical, name, remedy);
}

// Whether the result goes to the standard output. Its name is the last
// argument of any command line that parses, and the input's name, handled
// first, fixes the format whose rule tells a standard stream.
bool result_on_standard_output(int argc, char* argv[]) {
  if (argc < 3) return false;
  const type_format unset = Format_Imag;
  io_detect_format(argv[argc - 2]);
  const bool standard = std_inout(argv[argc - 1]) == 1;
  io_set_format(unset);
  return standard;
}

// GCC's OpenMP runtime is linked into the program and reads its wait policy
// in a constructor without a priority; constructors with one run before all
// of those, so the runtime finds the policy in place.
__attribute__((constructor(101))) void choose_wait_policy() { set_sleeping_threads(); }

}  // namespace

int main(int argc, char* argv[]) {
  // Before any file of the run exists: a stop by signal removes them all.
  catch_stop_signals();
  // A write past a file size limit then fails as any other write, with the
  // system's "File too large", instead of killing the run mid-file.
  signal_catch(SIGXFSZ, SIG_IGN);
  // Before anything is printed: such a result is the image file alone, and
  // every other print goes to the standard error.
  if (result_on_standard_output(argc, argv)) io_standard_output_for_results_only();
  fcur_register_multiresol();
  build_command_line(argc, argv);
  for (int& selected : TabBase) selected = 0;
  filtinit(argc, argv);

  if (TestMode == 1) return run_test_mode();
  if (Verbose) print_parameters();
  if (NbrBase == 0) {
    NbrBase = 2;
    TabSelect[0] = MCA_ATROU;
    TabSelect[1] = MCA_CUR;
  }

  MCA mca;
  mca_configure(mca);

  to_array<float, false> data;
  fitsstruct header;
  io_read_ima_float(Name_Imag_In.c_str(), data, &header);
  refuse_non_finite_pixels(data, header, Name_Imag_In);
  refuse_out_of_range_pixels(data, Name_Imag_In);
  if (UseZoom) zoom_input(data, mca.LowResolIma, ZoomFactor, &header, UseMask != 0);
  // Only 8-bit data have a range to keep a super-resolved image in; other
  // data may be in any units.
  const bool byte_pixels = eight_bit_data(header);

  // Nothing is written before this point; from here the input is safe and a
  // failure takes back what the run wrote.
  RunFiles files(run_outputs(mca), data.nl(), data.nc());
  if (UseMask) files.add_fixed_outputs({MaskImage}, MaskRemedy);
  if (WriteAll) {
    files.add_fixed_outputs({SnapshotSum}, SnapshotRemedy);
    files.watch_numbered(mca_result_names(mca, SnapshotPrefix), SnapshotEvery, Nbr_Iter, SnapshotRemedy);
  }
  files.refuse_output_over_input();
  files.refuse_unwritable();
  files.arm();
  header.origin = CommandLine.c_str();
  as_float_results(header);

  if (Noise_Ima == NoiseNotGiven) estimate_noise(data);

  // Data in units far from their noise level are separated near unit noise,
  // provided their values, counted in noise units, fit the arithmetic.
  const float largest = data.maxfabs();
  refuse_noise_below_range(Noise_Ima, largest, data.n_elem(), Name_Imag_In);
  const float to_unit_noise = unit_noise_scale(Noise_Ima, largest, data.n_elem());
  if (to_unit_noise != 1.f) {
    scale_pixels(data, to_unit_noise);
    if (UseZoom) scale_pixels(mca.LowResolIma, to_unit_noise);
    Noise_Ima *= to_unit_noise;
    if (Verbose)
      std::printf(" Pixel values times 2^%d during the separation; every value printed and "
                  "written is in the input's units\n",
                  std::ilogb(to_unit_noise));
  }

  // Noise_Ima may have been estimated or scaled since the first copy.
  mca_configure(mca);
  mca.ResultScale = 1.f / to_unit_noise;
  if (byte_pixels) mca.ZoomTop *= to_unit_noise;
  else mca.ZoomTop = std::numeric_limits<float>::infinity();
  mca.alloc(data.nl(), data.nc(), nullptr);

  if (UseMask) {
    float missing = make_mask(data, mca.MaskIma, UseZoom != 0);
    if (!UseZoom) {
      if (Verbose) std::printf("Number of missing data = %g\n", missing);
      first_guess_interpol(data, static_cast<int>(missing));
      mca_write_result(mca, MaskImage, data, &header);
    }
  }

  mca.decomposition(data);
  mca.write_allima(Name_Imag_Out.c_str(), header);

  data.init();
  mca.reconstruction(data);
  if (mca.RemoveLastScale == 1) data += mca.LastScale;
  mca_write_result(mca, Name_Imag_Out.c_str(), data, &header);
  files.commit();
  return 0;
}
