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

void reset_cur(MCA& m) {
  m.Cur_BlockSize = 16;
  m.Cur_BlockOverlap = 0;
  m.Cur_PositivSol = m.PositivSol;
  m.Cur_NbrScale = 4;
  m.Cur_KillLastScale = 0;
}
void configure_cur(MCA& m) {
  m.Cur_BlockOverlap = BlockOverlap;
  m.Cur_PositivSol = PositivSol;
  m.Cur_NbrScale = NbrScale2D;
  m.Cur_KillLastScale = KillLastScale;
}

}  // namespace

const MCABaseFamily CurBase =
    pending("Curvelet transform 02", "_cur", "Curvelet proj ", reset_cur, configure_cur, true);
