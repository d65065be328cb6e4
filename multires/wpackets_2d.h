// Two-dimensional wavelet packets over a one-dimensional filter bank applied
// separably: every block splits into horizontal, vertical and diagonal
// details and a smooth band. The first NbrUndec levels are undecimated (the
// sub-bands keep the block's size, each in a storage image of its own); the
// others are decimated, their half-size sub-bands side by side in their
// parent's storage image. In packet mode every sub-band splits again; in
// wavelet mode only the smooth band does. It is the MCA's wavelet-packet
// base.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "array/base_types.h"
#include "array/to_array.h"
#include "filters/sub_band_1d.h"
#include "multires/wp_transf_2d.h"

class WPACKETS_2D {
 public:
  WPTransf_2D* TabTrans;  // the coefficient store, owned
  SubBand1D* SB1D;        // borrowed; its sample distance is set by the decimated steps
  int Nl = 0, Nc = 0;
  int NbrPlan = 0;  // scales: NbrPlan - 1 split levels
  int NbrUndec = 0;
  int CurScale = -1;  // level of the block being processed, -1 outside a recursion
  int SizeTransf = 0;  // 4^NbrUndec storage images
  std::vector<std::map<InfoBlock, InfoTrans, CmpInfoBlock>> BlockInfo;  // per level, its splits
  Bool WP = True;
  to_array<int, true> TabBlockNum;  // per level, the counter numbering the children
  Bool Verbose = False;
  // The two-argument threshold uses it; until the three-argument one sets
  // it, it is unit noise, so that its level is NSigma itself.
  float NoiseLevel = 1.f;
  Bool InfoBandSet = False;

  explicit WPACKETS_2D(SubBand1D& SB1D);
  ~WPACKETS_2D();
  WPACKETS_2D(const WPACKETS_2D&) = delete;
  WPACKETS_2D& operator=(const WPACKETS_2D&) = delete;

  void alloc(int Nl, int Nc, int NbrPlan, int NbrUndec);
  void free();
  void init_struct();
  void init_infos();
  void transform(to_array<float, false>& Image, WPTransf_2D*& Trans);
  // Consumes the store: it ends holding partial reconstructions.
  void recons(WPTransf_2D*& Trans, to_array<float, false>& Image);
  void set_WP(Bool Flag) { WP = Flag; }
  void set_verbose(Bool Flag) { Verbose = Flag; }
  Bool is_scale_undecimated(int s) const { return s < NbrUndec ? True : False; }
  InfoTrans get_info_block(int s, InfoBlock B) const { return BlockInfo[s].at(B); }
  int get_block_number(int s) const { return static_cast<int>(BlockInfo[s].size()); }
  void threshold(WPTransf_2D* Trans, float NSigma);
  void threshold(WPTransf_2D* Trans, float Noise, float NSigma);
  void write_transf(std::string& Name);
  void trace() const;
  void trace_info_block(InfoTrans const& T, int s) const;
  void trace_all_blocks() const;

 private:
  void wpRecursifAlloc(to_array<float, false>& Block, int Key, int Num);
  void wpRecursifAnalysis(to_array<float, false>& Block, Pt const& Pos, int Key, int Num);
  void wpRecursifUndecimated(to_array<float, false>& Block, int Key, int Num);
  void wpRecursifDecimated(to_array<float, false>& Block, Pt const& Pos, int Key, int Num);
  void save_res_undec(to_array<float, false> const* Bands, int Key);
  void save_res_dec(to_array<float, false> const* Bands, Pt const& Pos, int Key);
  void set_info(InfoBlock B, std::vector<InfoBlock>& Children);
  void set_info_band();
  void wp_Recons(WPTransf_2D*& Trans, int Scale, InfoTrans const& T, int Step);
  void wp_threshold(WPTransf_2D* Trans, float NSigma);
  void ortho_threshold(WPTransf_2D* Trans, float NSigma);
  void check_size(const to_array<float, false>& Image, const char* where) const;
  int delta(int s) const;
};
