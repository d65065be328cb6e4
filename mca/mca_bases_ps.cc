// The power-spectrum base: no transform and no projection. Its component
// takes only the residual and the constraint of the noise-like bases
// (centring, clipping to five noise units, and with CosIsotrop the isotropic
// spectrum), so that it gathers what none of the other bases keeps.
#include "mca/mca.h"
#include "mca/mca_base_family.h"

namespace {

void nothing(MCA&) {}
void constrain(MCA& m, int b) {
  mca_centre_and_clip(m.TabImaRec[b], m.Noise_Ima);
  mca_isotropic_constraint(m, b);
}

}  // namespace

const MCABaseFamily PSBase = {"FFT2D-WT1D-PowSpectrum", "_ps", "FFT2D-WT1D proj ", nothing, nothing,
                              nothing, nothing, nullptr, nullptr, nullptr, constrain, nullptr,
                              false};
