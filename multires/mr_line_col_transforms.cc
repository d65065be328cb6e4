// The line-column type of the dispatch (16): an undecimated transform of the
// lines with NbrScaleY scales, then of the columns with NbrScaleX scales, so
// that band (y, x) holds line scale y and column scale x, every band the
// image's size. The container owns the LineCol and the L2-normalised,
// periodic filter bank built over its FilterBank for it.
#include <cstdio>
#include <vector>

#include "array/fatal.h"
#include "filters/sub_band_filter.h"
#include "multires/line_col.h"
#include "multires/mr_dispatch.h"
#include "multires/multiresol.h"

namespace {

using Image = to_array<float, false>;

// A LineCol never owns its bank: this one carries it, so that releasing the
// transform releases the bank with it.
struct LineColWithBank : LineCol {
  SubBandFilter bank;
  explicit LineColWithBank(const FilterAnaSynt& filter) : bank(filter, NORM_L2) {
    bank.Bord = I_PERIOD;
    alloc(bank, False);
  }
};

void line_col_alloc(MultiResol& mr) {
  if (mr.NbrScaleY < 2) mr.NbrScaleY = get_nbr_scale(mr.Nc);
  if (mr.NbrScaleX < 2) mr.NbrScaleX = get_nbr_scale(mr.Nl);
  mr.NbrScale = mr.NbrScaleY;
  mr.NbrBandPerResol = mr.NbrScaleX;
  const int nbr_band = mr.NbrScaleY * mr.NbrScaleX;
  mr.TabNbrBandPerResol.alloc(nbr_band);
  mr.TabNbrBandPerResol.init(mr.NbrBandPerResol);
  if (mr.FilterBank == nullptr) fatal_exit("Error: filter bank is not defined ... \n");
  mr.LineColTrans = new LineColWithBank(*mr.FilterBank);
  if (mr.Verbose)
    std::printf("NbrScale in Y = %d, NbrScale in X = %d\n", mr.NbrScaleY, mr.NbrScaleX);
  mr.NbrUndecScale = mr.NbrScale;
  mr.lay_out_bands(std::vector<int>(nbr_band, mr.Nl), std::vector<int>(nbr_band, mr.Nc),
                   "band_%d");
}

void line_col_release(MultiResol& mr) {
  delete static_cast<LineColWithBank*>(mr.LineColTrans);
  mr.LineColTrans = nullptr;
}

void line_col_transform(Image& ima, MultiResol& mr, Bool, type_border, Bool) {
  mr.LineColTrans->undec_transform(ima, mr.TabBand, mr.NbrScaleY, mr.NbrScaleX);
}

void line_col_recons(MultiResol& mr, Image& ima, type_border, Bool) {
  if (ima.nl() != mr.Nl || ima.nc() != mr.Nc || ima.naxis() != 2) ima.alloc(mr.Nl, mr.Nc);
  mr.LineColTrans->undec_recons(mr.TabBand, ima, mr.NbrScaleY, mr.NbrScaleX);
}

}  // namespace

const MRTypeOps LineColOps = {line_col_transform, line_col_recons, nullptr, line_col_alloc,
                              line_col_release};
