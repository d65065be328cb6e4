// The coefficient store of the 2D wavelet packets: a few storage images of
// the input's size, the bands of decimated levels side by side inside them,
// and a band table that turns a band number into a storage image and a
// rectangle, so that callers read and threshold any band by (band, line,
// column) without knowing the layout. Also the block records with which the
// packets describe their tree.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "array/base_types.h"
#include "array/to_array.h"

// One block of the decomposition tree.
struct InfoBlock {
  int id = 0;    // key of the storage image holding the block
  int num = 0;   // serial number among the blocks of its level (0: the image)
  int depi = 0;  // top-left corner in the storage image
  int depj = 0;
  int nl = 0;
  int nc = 0;
};

// A split block and its four sub-bands: horizontal, vertical and diagonal
// details, then the smooth band.
struct InfoTrans {
  InfoBlock parent;
  std::vector<InfoBlock> children;
};

// Blocks of one level in creation order: two blocks with the same number are
// the same key, so a map keeps the first one inserted.
struct CmpInfoBlock {
  bool operator()(const InfoBlock& a, const InfoBlock& b) const { return a.num < b.num; }
};

// A (line, column) position in a storage image.
struct Pt {
  int i = 0;
  int j = 0;
};

class WPTransf_2D {
 public:
  std::map<int, to_array<float, false>*> TabIma;  // storage images, owned by WPACKETS_2D
  to_array<int, true> TabNl, TabNc, Depi, Depj, IndTabIma;
  int NbrBand = -1;  // -1 until the band table is built

  int nbr_band() const { return NbrBand; }
  int size_band_nl(int b) const { return TabNl(b); }
  int size_band_nc(int b) const { return TabNc(b); }
  float& operator()(int b, int i, int j) const;
  void get_band(int b, to_array<float, false>& Band) const;
  void put_band(int b, to_array<float, false>& Band);
  void info_band(int b) const;
  void info(std::string Name, Bool Flag) const;

 private:
  void test_band(int b) const;
  to_array<float, false>& image_of(int b) const { return *TabIma.at(IndTabIma(b)); }
};
