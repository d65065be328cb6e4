// The Fourier-space Meyer types of the dispatch: separable windows (type 8)
// and radial windows (type 25) over a MEYER_WT that the container owns. The
// bands are the real parts of the inverse FFTs of the object's planes, so
// they take the planes' sizes: round(N / 2^s), which for some odd sides
// differs from the pyramid's repeated (n + 1) / 2 (9 gives 9, 5, 2 where the
// pyramid gives 9, 5, 3); laid out as the pyramid, such a band would not
// hold its plane.
#include <vector>

#include "multires/meyer_wt.h"
#include "multires/mr_dispatch.h"
#include "multires/multiresol.h"

namespace {

using Image = to_array<float, false>;

void meyer_alloc(MultiResol& mr) {
  mr.MeyerWT = new MEYER_WT();
  mr.MeyerWT->init(mr.NbrScale, mr.Nl, mr.Nc, False,
                   mr.Type_Transform == TO_PYR_MEYER_ISOTROP ? True : False, False);
  std::vector<int> nl(mr.NbrScale), nc(mr.NbrScale);
  for (int s = 0; s < mr.NbrScale; s++) {
    nl[s] = mr.MeyerWT->nls(s);
    nc[s] = mr.MeyerWT->ncs(s);
  }
  mr.NbrUndecScale = 0;
  mr.lay_out_bands(nl, nc, "scale_%d");
}

void meyer_release(MultiResol& mr) {
  delete mr.MeyerWT;
  mr.MeyerWT = nullptr;
}

void meyer_transform(Image& ima, MultiResol& mr, Bool, type_border, Bool) {
  mr.MeyerWT->transform(ima, mr.TabBand, False);
}

void meyer_recons(MultiResol& mr, Image& ima, type_border, Bool) {
  mr.MeyerWT->recons(mr.TabBand, ima, True);
}

}  // namespace

const MRTypeOps MeyerOps = {meyer_transform, meyer_recons, nullptr, meyer_alloc, meyer_release};
