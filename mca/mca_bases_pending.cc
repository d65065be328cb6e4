// The bases whose transforms this build does not carry yet. Their parameter
// fields take their defaults and the options all the same (the program fills
// them whatever is selected); selecting one of them stops the run before
// anything is read. When a base's transform lands, its row moves to a file
// of its own with its operations.
#include "mca/mca_base_family.h"
#include "mca/mca_options.h"

namespace {

constexpr MCABaseFamily pending(const char* name, const char* suffix, const char* label,
                                void (*reset)(MCA&), void (*configure)(MCA&),
                                bool takes_tv = false) {
  return {name,    suffix,  label,   false,   reset,   configure,
          nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, takes_tv};
}

void reset_pcur(MCA& m) {
  m.PCur_BlockSize = 16;
  m.PCur_BlockOverlap = 0;
  m.PCur_PositivSol = m.PositivSol;
  m.PCur_NbrScale = 4;
  m.PCur_KillLastScale = 0;
}
void configure_pcur(MCA& m) {
  m.PCur_BlockOverlap = BlockOverlap;
  m.PCur_PositivSol = PositivSol;
  m.PCur_NbrScale = NbrScale2D;
  m.PCur_KillLastScale = KillLastScale;
}

}  // namespace

const MCABaseFamily PCurBase = pending("Curvelet transform 05 (Pyramidal Construction)", "_pcur",
                                       "Pyr. Curvelet proj ", reset_pcur, configure_pcur, true);
