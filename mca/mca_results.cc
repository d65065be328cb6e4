// The result files of a run: one image per selected base, the residual, and
// the snapshots of the debug mode, all in the input's units, as are the
// images the run shows. Names are built from the stem of the given name,
// whatever its length; only an image extension leaves the stem, so results
// named "o_0.25" and "o_0.1" keep apart.
#include <string>
#include <vector>

#include "array/array_ops.h"
#include "array/fatal.h"
#include "io/fits_header.h"
#include "io/io_dispatch.h"
#include "io/image_names.h"
#include "io/output_file.h"
#include "mca/mca.h"
#include "mca/mca_input.h"

namespace {

const char* suffix_or_fail(type_mcabase base) {
  const char* suffix = mca_base_suffix(base);
  if (suffix == nullptr) fatal_exit("Error: not implemeted transform ... \n");
  return suffix;
}

}  // namespace

std::vector<std::string> mca_result_names(const MCA& mca, const char* Name) {
  const std::string prefix = io_result_stem(Name);
  std::vector<std::string> names;
  for (int b = 0; b < mca.NbrBase; b++) names.push_back(prefix + suffix_or_fail(mca.TabSelect[b]));
  names.push_back(prefix + "_resi");
  return names;
}

void mca_write_result(const MCA& mca, const char* name, to_array<float, false>& ima,
                      fitsstruct* header) {
  if (mca.ResultScale == 1.f) {
    io_write_ima_float(name, ima, header, False);
    return;
  }
  to_array<float, false> in_input_units = ima;
  scale_pixels(in_input_units, mca.ResultScale);
  io_write_ima_float(name, in_input_units, header, False);
}

void MCA::info(const to_array<float, false>& ima, const char* label) {
  INFO(ima, label, ResultScale);
}

void MCA::write_allima(const char* Name, fitsstruct& Header) {
  refuse_non_finite_results(*this, Name);
  const std::vector<std::string> names = mca_result_names(*this, Name);
  for (int b = 0; b < NbrBase; b++) {
    // The multi-direction base writes each direction's part before their sum.
    if (TabSelect[b] == MCA_DWT)
      for (int k = 0; k < DWT_NbrAngle; k++)
        mca_write_result(*this, (names[b] + "_" + std::to_string(k + 1)).c_str(),
                         DWT_TabImaRec[k], &Header);
    mca_write_result(*this, names[b].c_str(), TabImaRec[b], &Header);
  }
  mca_write_result(*this, names[NbrBase].c_str(), Resi, &Header);
}

void MCA::write_allima(const char* Name, int Iter) {
  // Snapshots are watched while the run goes on: each is in place once written.
  OutputsPlacedAtOnce at_once;
  const std::string prefix = io_result_stem(Name);
  const std::string number = "_" + std::to_string(Iter + 1);
  for (int b = 0; b < NbrBase; b++) {
    std::string name = prefix + suffix_or_fail(TabSelect[b]) + number;
    mca_write_result(*this, name.c_str(), TabImaRec[b], nullptr);
  }
  mca_write_result(*this, (prefix + "_resi" + number).c_str(), Resi, nullptr);
}
