// Dispatch row of the fast curvelet type: the container owns an FCUR built
// from the finest scale, with one band per curvelet band, scale by scale and
// within a scale band by band, and the tables that map a band back to its
// scale and its index within the scale.
#include "curvelet/fcur_multiresol.h"

#include <vector>

#include "curvelet/fcur.h"
#include "multires/mr_dispatch.h"
#include "multires/multiresol.h"

namespace {

using Image = to_array<float, false>;

void fcur_alloc(MultiResol& mr) {
  FCUR* fcur = new FCUR();
  mr.FCurTrans = fcur;
  fcur->alloc_from_fine(mr.NbrScale, mr.Nl, mr.Nc, mr.FCurNbrDir, mr.FCurExtend, mr.FCurIsotrop,
                        mr.FCurReal);
  const int nbr_scale = fcur->nbr_scale();
  const int nbr_band = fcur->nbr_tot_band();
  mr.TabNbrBandPerResol.resize(mr.NbrScale);
  mr.TabBandScale.resize(nbr_band);
  mr.TabBandDir.resize(nbr_band);
  mr.TabScaleFirstBand.resize(nbr_scale);
  std::vector<int> nl, nc;
  for (int s = 0; s < nbr_scale; s++) {
    if (s < mr.NbrScale) mr.TabNbrBandPerResol(s) = fcur->nbr_band(s);
    mr.TabScaleFirstBand(s) = static_cast<int>(nl.size());
    for (int b = 0; b < fcur->nbr_band(s); b++) {
      mr.TabBandScale(static_cast<int>(nl.size())) = s;
      mr.TabBandDir(static_cast<int>(nl.size())) = b;
      nl.push_back(fcur->size_band_nl(s, b));
      nc.push_back(fcur->size_band_nc(s, b));
    }
  }
  if (mr.NbrUndecScale < 0 || mr.NbrUndecScale > mr.NbrScale) mr.NbrUndecScale = mr.NbrScale;
  mr.lay_out_bands(nl, nc, "band_%d");
}

void fcur_release(MultiResol& mr) {
  delete mr.FCurTrans;
  mr.FCurTrans = nullptr;
}

void fcur_transform(Image& ima, MultiResol& mr, Bool, type_border, Bool) {
  FCUR& fcur = *mr.FCurTrans;
  fcur.cur_trans(ima);
  int band = 0;
  for (int s = 0; s < fcur.nbr_scale(); s++)
    for (int b = 0; b < fcur.nbr_band(s); b++) fcur.get_band(s, b, mr.TabBand[band++]);
}

void fcur_recons(MultiResol& mr, Image& ima, type_border, Bool) {
  FCUR& fcur = *mr.FCurTrans;
  int band = 0;
  for (int s = 0; s < fcur.nbr_scale(); s++)
    for (int b = 0; b < fcur.nbr_band(s); b++) fcur.put_band(s, b, mr.TabBand[band++]);
  fcur.cur_recons(ima);
}

const MRTypeOps FCurOps = {fcur_transform, fcur_recons, nullptr, fcur_alloc, fcur_release};

}  // namespace

void fcur_register_multiresol() { mr_register_type(TC_FCT, &FCurOps); }
