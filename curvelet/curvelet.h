// Curvelet: the block-ridgelet curvelet transform on undecimated B3-spline
// scales. Each a trous detail scale is cut into square blocks (larger for
// the coarser scales) and ridgelet-transformed by its own Ridgelet; the last
// band is the smooth residual. The MCA's default dictionary pairs it with
// the a trous wavelets. Also its band noise models and its ".cur" file.
#pragma once

#include <fitsio.h>

#include <functional>
#include <memory>
#include <vector>

#include "array/base_types.h"
#include "array/to_array.h"
#include "filters/sub_band_1d.h"
#include "io/image_names.h"
#include "multires/atrous_2d_wt.h"
#include "numerics/ima_prob.h"
#include "radon/ridgelet.h"

enum type_curvelet_block {
  BL_CONST = 0,  // "Constant block size"
  BL_UP = 1,     // doubled at each resolution
  BL_UP2 = 2,    // doubled at each two resolutions (the default)
  BL_DOWN = 3,   // divided by 2 at each resolution
  BL_DOWN2 = 4   // divided by 2 at each two resolutions
};
const char* StringBlockType(type_curvelet_block Type);
// "Error: the curvelet class is not initialized ... ", status -1.
[[noreturn]] void curvelet_not_initialized();

// Entries of the block-size table (one per detail scale at most).
constexpr int CUR_TAB_BLOCK_SIZE = 10;
// Dimensions of the noise-norm tables: 2D scales x ridgelet 1D scales.
constexpr int CUR_NORM_NBR_2D = 10;
constexpr int CUR_NORM_NBR_1D = 20;

class Curvelet {
 public:
  SubBand1D* SB1D = nullptr;
  int Nl = 0, Nc = 0;
  int NlTrans = 0, NcTrans = 0;
  int BlockSize;
  std::unique_ptr<Ridgelet[]> TabRidgelet;
  Bool Initialized;
  int NbrRidgelet;
  to_array<float, true> TabNorm;  // (s1d, s2d)
  std::unique_ptr<CImaProb[]> TabCImaProb;
  to_array<float, true> TabMaxLevel;
  to_array<float, true> TabMinLevel;
  to_array<float, true> TabSigma;
  to_array<float, true> TabNSigma;
  Bool VarNorm;
  Bool MSVST;
  type_format FormatIn;
  type_curvelet_block TypeBlock;
  type_ridgelet_WTtrans RidTrans;
  Bool BlockOverlap;
  Bool ColTrans;
  Bool AutoScale1D;
  Bool Verbose;
  Bool StatInfo;
  type_border Border;
  Bool WPFirstScale;
  int NbrScale2D;
  int NbrScale1D;
  to_array<int, true> TabBlockSize;
  Bool OddBlockSize;
  Bool MadNormBlock;

  Curvelet();
  ~Curvelet();
  Curvelet(const Curvelet&) = delete;
  Curvelet& operator=(const Curvelet&) = delete;

  void reset(SubBand1D* SB);
  void tab_block_size_init(int BS);
  // The block table as alloc(…, BS, …) builds it, for the file reader to
  // check before it allocates.
  void block_table_for_alloc(int BS);
  void ridgelet_init(Ridgelet& R);
  void alloc(int Nl, int Nc, int BS, Bool WeightBeforeTrans);
  void set_param(int Nl, int Nc);
  void set_param_from_trans(int NlTrans, int NcTrans);

  int nbr_band() const;
  void get_scale_number(int b, int& s2d, int& s1d) const;
  Ridgelet* get_ridgelet(int s) { return &TabRidgelet[s]; }
  // Band (s2d, s1d) inside the ridgelet image of s2d; the smooth band
  // (s2d = NbrScale2D - 1) is the whole Nl x Nc image.
  int ipos(int s2d, int s1d) const { return smooth(s2d) ? 0 : TabRidgelet[s2d].ipos(s1d); }
  int jpos(int s2d, int s1d) const { return smooth(s2d) ? 0 : TabRidgelet[s2d].jpos(s1d); }
  int size_nl(int s2d, int s1d) const {
    return smooth(s2d) ? Nl : TabRidgelet[s2d].size_scale_nl(s1d);
  }
  int size_nc(int s2d, int s1d) const {
    return smooth(s2d) ? Nc : TabRidgelet[s2d].size_scale_nc(s1d);
  }
  float& sigma_noise(int b) { return TabSigma(b); }
  float& nsigma(int b) { return TabNSigma(b); }
  float& min_level(int b) { return TabMinLevel(b); }
  float& max_level(int b) { return TabMaxLevel(b); }

  // Array layout: one image per 2D scale, created here when TabBand is null
  // (the caller owns it and releases it with delete[]).
  void transform(to_array<float, false>& Ima, to_array<float, false>*& TabBand);
  // The same with each row of blocks of the ridgelet of scale s visited
  // before it is stored (see Ridgelet::RowVisit); with store false the
  // ridgelet images are not written (they only take their shapes).
  using RowVisit = std::function<void(int s, int bi, to_array<float, false>& Row)>;
  void transform(to_array<float, false>& Ima, to_array<float, false>*& TabBand,
                 const RowVisit& visit, bool store);
  // The transform with visit for recons_as_transformed and nothing else:
  // no row is stored (the ridgelet images only take their shapes); each
  // block with work is reconstructed from its row as soon as the visit has
  // seen it, while the row is in the cache, and kept for
  // recons_as_transformed to add up.
  void transform_for_recons(to_array<float, false>& Ima, to_array<float, false>*& TabBand,
                            const RowVisit& visit);
  void recons(to_array<float, false>* TabBand, to_array<float, false>& Ima);
  // recons of the bands the last band-array transform stored, their detail
  // scales unchanged since (the smooth band may differ): the all-zero
  // blocks that transform saw are skipped without reading them again.
  void recons_as_transformed(to_array<float, false>* TabBand, to_array<float, false>& Ima);
  // Cube layout: plane s holds the ridgelet image of scale s from its
  // origin, the last plane the smooth residual.
  void transform(to_array<float, false>& Ima, to_array<float, true>& Trans);
  void recons(to_array<float, true>& Trans, to_array<float, false>& Ima, Bool Unused = False);
  void get_band(to_array<float, true>& Trans, int s2d, int s1d, to_array<float, true>& Band);
  void get_band(to_array<float, true>& Trans, int b, to_array<float, true>& Band);
  void get_band_no_border(to_array<float, true>& Trans, int s2d, int s1d,
                          to_array<float, true>& Band);
  void put_band(to_array<float, true>& Trans, int s2d, int s1d, to_array<float, true>& Band);
  void put_band(to_array<float, true>& Trans, int b, to_array<float, true>& Band);

  // Norms and noise models (curvelet_noise.cc).
  float norm_band(int s2d, int s1d);
  void set_noise_model_gaussian(float NSigma, float Sigma);
  void set_noise_model_gaussian(to_array<float, true>& TabNSig, float Sigma);
  void set_noise_model_gaussian_in_band(int b, float NSigma, float Sigma);
  void set_noise_model_using_mad(to_array<float, false>*& TabBand, float NSigma);
  void set_noise_level(to_array<float, false>& NoiseIma, float NSigma, Bool UseMad);
  double prob_noise(float Val, int b);
  void get_fdr_detect_level(to_array<float, false>*& TabBand, float NSigma, Bool Threshold);
  void get_norm_coeff(int N, int s, int NbrScale1D, to_array<float, true>& Tab);
  void filtering(to_array<float, false>& Ima, to_array<float, false>& Result, float NSigma,
                 float Noise);
  void print_info_noise();

  // The ".cur" file (curvelet_file.cc).
  void mr_io_fill_header(fitsfile* Fptr, int& Status);
  void write(const char* Name, to_array<float, true>& Trans);
  void read(const char* Name, to_array<float, true>& Trans);

 private:
  // Work storage kept between calls: the MCA transforms and reconstructs
  // every iteration.
  ATROUS_2D_WT Smoothing;
  to_array<float, false>* AtrousBands = nullptr;  // NbrScale2D bands of Nl x Nc
  int AtrousBandCount = 0;
  to_array<float, false> RidBand;    // one ridgelet image (cube forms)
  to_array<float, false> RecScale;   // one reconstructed scale
  to_array<float, false> SmoothIma;  // running smoothing of the stabilised split
  int RidgeletCount = 0;             // entries of TabRidgelet
  // The band-array transform and reconstruction run the blocks of all
  // detail scales in one parallel region: one reconstructed image per
  // scale, and the work units handed out to the threads.
  std::vector<to_array<float, false>> RecScales;
  struct BlockUnit {
    int scale, bi, bj;
  };
  std::vector<int> ScaleOrder;           // the costliest rows of blocks first
  std::vector<BlockUnit> RowUnits;       // rows of blocks in that order
  std::vector<BlockUnit> ClassUnits[4];  // blocks with work, per parity class
  // Per scale and image line, whether a block with work covers the line:
  // the others stay zero and are neither cleared nor added.
  std::vector<unsigned char> LineTouched;
  // Per scale, the all-zero marks of the blocks of the ridgelet images of
  // MarkedBands, taken from the rows as they were stored (or, when the
  // blocks were made instead, whether each was made).
  std::vector<std::vector<unsigned char>> StoredMarks;
  const to_array<float, false>* MarkedBands = nullptr;
  // Whether the transform of MarkedBands reconstructed its blocks instead of
  // storing its rows: then, per scale, block (bi, bj) of side B is at
  // ((bi * rid_block_nc() + bj) * B * B) of MadeBlocks[s], and its mark
  // tells whether it was made. Pages of blocks never made are never touched.
  bool BlocksMade = false;
  std::vector<std::unique_ptr<float[]>> MadeBlocks;
  std::vector<size_t> MadeBlocksSize;
  float* made_block(int s, int bi, int bj);

  bool smooth(int s2d) const { return s2d >= NbrRidgelet; }

  void release_atrous_bands();
  // Whether the scales may share one region: messages come scale by scale.
  bool scales_together() const;
  // Threads every ridgelet has a worker for.
  int shared_team_size() const;
  void order_row_units();
  void list_class_units();
  // Which rows of blocks a transform stores.
  enum class RowStore { none, all, made_blocks };
  void transform_bands(to_array<float, false>& Ima, to_array<float, false>*& TabBand,
                       const RowVisit& visit, RowStore store);
  void transform_scales_together(to_array<float, false>* TabBand, const RowVisit& visit,
                                 RowStore store);
  void recons_scales_together(to_array<float, false>* TabBand, to_array<float, false>& Ima,
                              bool marked);
  void check_smooth_band(const to_array<float, false>* TabBand) const;
  // NlTrans x NcTrans: the largest ridgelet image of the scales.
  void set_plane_size();
  void check_transform_args(const to_array<float, false>& Ima) const;
  // The a trous split of Ima into AtrousBands (details, then the smooth
  // residual), with the stabilisation when MSVST is on.
  void atrous_split(to_array<float, false>& Ima);
  void fill_tab_norm();
  // Noise response of the bands that the tables leave at zero, measured on
  // the transform of seeded unit noise.
  void measure_missing_norms();
  float table_norm(int s2d, int s1d) const;
};
