// The block ridgelet transform: the image is cut into square, optionally
// half-overlapping blocks, each block is Radon-transformed and a 1D wavelet
// transform runs along every projection. All blocks' coefficients share one
// ridgelet image laid out scale by scale (coarsest scale at column 0). The
// MCA's ridgelet base and the curvelet transforms are built on it.
#pragma once

#include "multires/mr_regul.h"

#include <functional>
#include <memory>
#include <vector>

#include <fitsio.h>

#include "array/base_types.h"
#include "array/to_array.h"
#include "filters/sub_band_1d.h"
#include "io/image_names.h"
#include "radon/radon.h"

enum type_ridgelet_WTtrans {
  RID_FINITE_UNDEF = 0,
  RID_OWT = 1,       // linogram Radon + bi-orthogonal WT
  RID_PYR_FFT = 2,   // linogram Radon + FFT-based pyramidal WT (the default)
  RID_PYR_DIRECT = 3,  // linogram Radon + pyramidal WT in direct space
  RID_FINITE = 4,    // finite Radon + bi-orthogonal WT
  RID_SS_PYR_FFT = 5,  // slant stack + FFT-based pyramidal WT
  RID_SS_OWT = 6,    // slant stack + bi-orthogonal WT
  RID_SS_PYR = 7,    // slant stack + pyramidal WT in direct space
  RID_UWT = 8,       // undecimated bi-orthogonal WT (denoising only)
  RID_UWT_FFT = 9    // undecimated FFT-based WT (denoising only)
};
constexpr int NBR_RIDGELET_TRANSFORMS = 9;

const char* StringRidTransform(type_ridgelet_WTtrans Type);
// 1 pyramidal, 2 undecimated, 3 bi-orthogonal, 4 finite, 0 unknown.
int rid_class(type_ridgelet_WTtrans Type);
// Variants 5, 6 and 7: slant-stack projections, 2B samples for a block of
// side B, normalised by the transform of a block of ones.
bool rid_slant_stack(type_ridgelet_WTtrans Type);
// max_scale_number (multires/mr_regul.h) gives the default number of 1D
// scales of a block: the same rule as for an image side.

// Whether NbrScale 1D scales of variant Type fit a ridgelet block of side B:
// every band keeps at least one coefficient and the bands together take no
// more columns than the block has. The pyramidal layouts repeat bands of
// one coefficient once the halving reaches 1, so past some count they run
// over the block. Counts of 1 or less (no 1D transform) always fit.
bool rid_scales_fit(type_ridgelet_WTtrans Type, int NbrScale, int B);
// The largest count that fits a block of side B (1 when none does).
int rid_max_scale_number(type_ridgelet_WTtrans Type, int B);

// What alloc(Nl, Nc, B) builds, computed without allocating anything, so
// that a file's keywords can be checked against its array first.
struct RidgeletGeometry {
  Bool BlockOverlap;
  int BlockSize, BlockImaSize, OverlapSize;
  int NbrBi, NbrBj;
  int NbrScale1D;
  int Nlb, Ncb;
  long RidNl, RidNc;
};

// One-axis overlap weight of coordinate k in block b of NbrB blocks whose
// origins are Step apart and which start Overlap pixels early; the even-side
// and the odd-side (prime blocks) forms.
float lap_weight(int Step, int Overlap, int k, int b, int NbrB);
float frt_lap_weight(int Step, int Overlap, int k, int b, int NbrB);

// Noise norms per 1D scale of the FFT-based pyramidal ridgelet transform,
// finest first.
extern const float TabNormRid_PyrDiffResol[10];
constexpr int NBR_TAB_NORM_RID = 10;

struct RidgeletWorker;

class Ridgelet {
 public:
  SubBand1D* SB1D;
  int RidClass;
  Bool FourierRadon;
  int Nl = 0, Nc = 0;
  int BlockImaSize = 0;
  int NbrBi = 0, NbrBj = 0;
  int BlockSize = 0;
  int RidNl = 0, RidNc = 0;
  int Nlb = 0, Ncb = 0;
  int OverlapSize;
  to_array<double, true> TabAngle;
  to_array<int, true> TabPos;
  to_array<int, true> TabSize;
  to_array<float, true> TabNorm;
  Bool UpdateTabNorm;
  to_array<float, false> CstBlockRadon;
  Bool Allocated;
  Radon RadonTrans;
  Bool AutoScale1D;
  int NbrScale1D;
  Bool SplitLowFreq;
  type_ridgelet_WTtrans RidTrans;
  Bool BlockOverlap;
  Bool Verbose;
  Bool StatInfo;
  Bool VarianceStab;
  int FirstDetectScale;
  Bool KillLastScale;
  Bool ColTrans;
  Bool WPFirstScale;
  Bool WeightBeforeTrans;
  Bool MadThreshold;
  Bool MadPerScale;
  int NbrIter;
  float RegulParam;
  float KillFluctu;
  type_format FormatIn;
  Bool VarNorm;
  std::vector<to_array<float, false>> TabImaBlockSigma;

  Ridgelet();
  explicit Ridgelet(SubBand1D& SB);
  ~Ridgelet();
  Ridgelet(const Ridgelet&) = delete;
  Ridgelet& operator=(const Ridgelet&) = delete;

  void reset(SubBand1D* SB);
  void alloc(int Nl, int Nc, int B);
  // The geometry alloc(Nl, Nc, B) would give with the current variant,
  // overlap and 1D scale settings.
  RidgeletGeometry geometry(int Nl, int Nc, int B) const;
  void set_block_param_from_transform(int RNl, int RNc, int B);
  int set_tab_pos(int NbrScale, int B);
  void set_tab_angle();
  void radon_transform_one_cst_block();

  int block_size() const { return BlockSize; }
  int rid_nl() const { return RidNl; }
  int rid_nc() const { return RidNc; }
  int rid_block_nl() const { return NbrBi; }
  int rid_block_nc() const { return NbrBj; }
  int rid_block_nbr() const { return NbrBi * NbrBj; }
  int rid_one_block_nl() const { return Nlb; }
  int rid_size(int s) const { return TabSize(s); }
  int rid_pos(int s) const { return TabPos(s); }
  float rid_norm(int s) const { return TabNorm(s); }
  int size_scale_nl(int) const { return RidNl; }
  int size_scale_nc(int s) const { return TabSize(s) * NbrBj; }
  int ipos(int) const { return 0; }
  int jpos(int s) const { return TabPos(s) * NbrBj; }
  int ipos(int, int bi) const { return Nlb * bi; }
  int jpos(int s, int bj) const { return jpos(s) + TabSize(s) * bj; }

  // Blocks (ridgelet_blocks.cc).
  float get_weight(int bi, int bj, int i, int j) const;
  void get_block_ima(int bi, int bj, to_array<float, false>& Ima, to_array<float, false>& Block);
  void put_block_ima(int bi, int bj, to_array<float, false>& Ima, to_array<float, false>& Block);
  void add_block_ima(int bi, int bj, to_array<float, false>& Ima, to_array<float, false>& Block);
  void put_block_trans(int bi, int bj, to_array<float, false>& Trans,
                       to_array<float, false>& Block);
  void get_block_trans(int bi, int bj, to_array<float, false>& Trans,
                       to_array<float, false>& Block);
  void block_transform(to_array<float, false>& Ima, to_array<float, false>& Trans);
  // A look at each row of blocks of a transform before it is stored: bi and
  // the row's Nlb lines laid out as in the ridgelet image (the scale bands'
  // columns hold the coefficients; a line may run on beyond the image's
  // width, so the row is indexed through its own shape). What it changes in
  // the row is what is stored. Rows are made side by side: it may run on any
  // thread, on one row at a time per thread.
  using RowVisit = std::function<void(int bi, to_array<float, false>& Row)>;
  // block_transform with each row visited; with store false nothing is
  // written into Trans (it only takes the ridgelet image's shape), for a
  // caller that needs no more than what it takes from the rows.
  void block_transform(to_array<float, false>& Ima, to_array<float, false>& Trans,
                       const RowVisit& visit, bool store);
  void block_recons(to_array<float, false>& Trans, to_array<float, false>& Ima);

  // The steps of block_transform and block_recons, for a caller that runs
  // the blocks of several ridgelets in one parallel region of its own (the
  // curvelet's scales). The begin_ steps run outside the region; the others
  // on any of its threads, each passing its thread number, which must stay
  // below worker_count(), and never on a row or block another thread holds.
  int worker_count() const { return static_cast<int>(Workers.size()); }
  // Shapes Trans as the ridgelet image.
  void begin_block_transform(to_array<float, false>& Trans);
  // Row bi of blocks made in the thread's row buffer, laid out as a RowVisit
  // receives it; valid until the thread's next row.
  to_array<float, false>& transform_block_row(int thread, int bi, to_array<float, false>& Ima);
  void store_block_row(int bi, const to_array<float, false>& Row, to_array<float, false>& Trans);
  // The fatal errors of recons for a ridgelet image of the wrong shape.
  void check_ridgelet_image(const to_array<float, false>& Trans) const;
  // Marks[bj] nonzero when block bj of a row holds a nonzero coefficient
  // (one whose square is not zero, as a nonzero block energy would tell),
  // from the row's Nlb lines laid out as in the ridgelet image.
  // Row's lines are Pitch values apart.
  void mark_block_row(const float* Row, size_t Pitch, unsigned char* Marks) const;
  // Shapes Ima without clearing it: the blocks add into it, so the caller
  // zeroes it before the first of them. Marks, when given, are the
  // mark_block_row marks of all rows of Trans as it is; without them every
  // block counts as holding work until scan_block_row has marked its row.
  void begin_block_recons(to_array<float, false>& Trans, to_array<float, false>& Ima,
                          const unsigned char* Marks);
  // Whether scan_block_row may run (with 1D scales and no marks given).
  bool recons_scans() const { return Recons.scan; }
  void scan_block_row(int bi, to_array<float, false>& Trans);
  bool block_has_work(int bi, int bj) const {
    return Recons.nonzero[static_cast<size_t>(bi) * NbrBj + bj] != 0;
  }
  // Blocks of one parity class never overlap: the blocks (bi, pj + 2k) of a
  // row, or one block, add into Ima while other threads add the rest of its
  // class. The classes must follow one another in the order block_recons
  // gives them, which fixes the order of the sums. One block is read from
  // Trans in place, which takes the shape check_ridgelet_image asks for.
  void recons_class_row(int thread, int bi, int pj, to_array<float, false>& Trans,
                        to_array<float, false>& Ima);
  void recons_block_in_place(int thread, int bi, int bj, to_array<float, false>& Trans,
                             to_array<float, false>& Ima);
  // For a caller that reconstructs the blocks of a row while the row is in
  // the cache, and adds them up later: block (bi, bj) of Row (a row as
  // transform_block_row makes it) reconstructed into Block, BlockSize lines
  // of BlockSize values; false, and Block untouched, when all its
  // coefficients are zero (it adds nothing). Then the block added into Ima
  // as block_recons adds it, under the same rule on the parity classes.
  bool recons_block_of_row(int thread, int bi, int bj, to_array<float, false>& Row,
                           float* Block);
  void add_made_block(int thread, int bi, int bj, float* Block, to_array<float, false>& Ima);
  void transform(to_array<float, false>& Ima, to_array<float, false>& Trans, int B);
  void transform(to_array<float, false>& Ima, to_array<float, false>& Trans);
  void transform(to_array<float, false>& Ima, to_array<float, false>& Trans,
                 const RowVisit& visit, bool store);
  void recons(to_array<float, false>& Trans, to_array<float, false>& Ima);
  void recons(to_array<float, false>& Trans, to_array<float, false>& Ima, int B);
  void recons(to_array<float, false>& Trans, to_array<float, false>& Ima, int B, int Nl, int Nc);

  // One block (ridgelet_block.cc).
  void transform_one_block(to_array<float, false>& Block, to_array<float, false>& Out);
  void recons_one_block(to_array<float, false>& In, to_array<float, false>& Out);
  // Regularised inverse of one block: the known (non-zero) coefficients of
  // Trans are imposed NbrIter times, each reconstruction made positive and
  // smoothed by total variation at RegulParam x Lambda (ridgelet_denoise.cc).
  void iter_recons(to_array<float, false>& Trans, to_array<float, false>& Ima, float Lambda);
  void variance_stab(to_array<float, false>& Ima);
  void inv_variance_stab(to_array<float, false>& Ima);

  // Coefficient access (ridgelet_access.cc).
  void get_scale(to_array<float, false>& Trans, to_array<float, false>& Band, int s);
  void put_scale(to_array<float, false>& Trans, to_array<float, false>& Band, int s);
  float get_coef(to_array<float, false>& Trans, int i, int j, int s, int bi, int bj);
  void put_coef(to_array<float, false>& Trans, int i, int j, float Val, int s, int bi, int bj);
  float get_angle_direction(int Dir, Bool InDegree = False);
  int get_num_direction(float Angle, Bool InDegree = False);
  void get_scale_direction(to_array<float, false>& Trans, to_array<float, false>& Band, int s,
                           int Dir);
  void get_scale_direction(to_array<float, false>& Trans, to_array<float, false>& Band, int s,
                           float Angle);
  void info_stat(to_array<float, false>& Trans);
  void get_scale_without_bord(to_array<float, false>& Trans, int s, to_array<float, false>& Band);
  void get_blockvect(to_array<float, false>& Trans, int s, int Posi, int Posj,
                     to_array<float, true>& Vect);
  void get_anglevect(to_array<float, false>& Trans, int s, int Posi, to_array<float, true>& Vect);
  void put_anglevect(to_array<float, false>& Trans, int s, int Posi, to_array<float, true>& Vect);
  void mad_normalize_per_angle(to_array<float, false>& Trans);
  void get_imablocksigma(to_array<float, false>& Trans, int s, to_array<float, false>& ImaSigma,
                         Bool UseStd);
  void init_tab_sigma_block(to_array<float, false>& Trans, Bool UseStd);
  void normalize_block(to_array<float, false>& Trans, Bool Reverse);
  void mad_normalize_per_block(to_array<float, false>& Trans, Bool UseStd);

  // Noise norms and thresholding (ridgelet_noise.cc).
  void set_tab_norm(int NbrScale);
  void set_tab_norm_with_tab(int NbrScale, to_array<float, true>& Tab);
  void ksig_threshold(to_array<float, false>& RidBlock, float Noise, float NSigma,
                      to_array<float, true>* TabSigma = nullptr);
  void thresholding(to_array<float, false>& RidIma, float Noise, float NSigma);
  void init_scale(to_array<float, false>& RidIma, int s);
  void normalize_coef(to_array<float, false>& RidBlock, Bool Mult, float Noise);
  void kill_fluctu(to_array<float, false>& Block, float Noise, float NSigma, int N = 0);
  void mad_threshold(to_array<float, false>& RidBlock, float NSigma);
  void set_tab_norm_from_simu(to_array<float, false>& NoiseIma, int NbrScale);

  // Block denoising (ridgelet_denoise.cc).
  void filtering(to_array<float, false>& Ima, float Noise, float NSigma, int B,
                 to_array<float, true>* TabSigma = nullptr);
  void filtering_one_block(to_array<float, false>& Block, float Noise, float NSigma,
                           to_array<float, true>* TabSigma = nullptr);
  void radon_filtering(to_array<float, false>& Ima, float Noise, float NSigma, int B);
  void radon_filtering_one_block(to_array<float, false>& Block, float Noise, float NSigma);
  void undec_wt_filtering(to_array<float, false>& Ima, float Noise, float NSigma, int B);
  void undec_wt_filtering_one_block(to_array<float, false>& Block, float Noise, float NSigma);
  void get_low_and_freq(to_array<float, false>& Ima, to_array<float, false>& Low,
                        to_array<float, false>& High, int B);

  // The ".rid" file (ridgelet_file.cc).
  void write(const char* Name, to_array<float, false>& Trans);
  void read(const char* Name, to_array<float, false>& Trans);
  void mr_io_fill_header(fitsfile* File, int& Status);

 private:
  // Per-thread Radon objects and work arrays, so that blocks run in
  // parallel; built by alloc.
  std::vector<std::unique_ptr<RidgeletWorker>> Workers;
  // Overlap weights per axis: entry [kind][k] for the first, an interior
  // and the last block (kind 0, 1, 2), and for a single block (kind 3).
  std::vector<float> TabWeight[4];
  // What begin_block_recons found about the ridgelet image, and which
  // blocks hold work.
  struct ReconsPlan {
    bool in_place = false, scan = false;
    std::vector<unsigned char> nonzero;
  };
  ReconsPlan Recons;
  to_array<float, false>& recons_row(RidgeletWorker& W, int bi, to_array<float, false>& Trans);
  void recons_block_from_row(RidgeletWorker& W, to_array<float, false>& Row, int bi, int bj,
                             to_array<float, false>& Ima);
  void size_coefficient_block(RidgeletWorker& W);
  // Whether one of n coefficients has a square that is not zero, as a
  // nonzero energy would tell: the test of a block that adds nothing.
  static bool any_nonzero_square(const float* Values, int n);
  void make_weight_table();
  float axis_weight(int k, int b, int NbrB) const;
  void check_block_variant(Bool Forward);
  void transform_block(RidgeletWorker& W, to_array<float, false>& Block,
                       to_array<float, false>& Out);
  void radon_step(RidgeletWorker& W, to_array<float, false>& Block, int& Nr, int& Ncr);
  void one_d_step(RidgeletWorker& W, int Nr, int Ncr, to_array<float, false>& Out);
  // Row holds the Nlb lines of block row bi, laid out as in the ridgelet
  // image (see row_of_blocks).
  void transform_block_at(RidgeletWorker& W, int bi, int bj, to_array<float, false>& Ima,
                          to_array<float, false>& Row, to_array<float, false>& Out);
  // Blocks (bi, bj) and (bi, bj + 1) at once, their Radon spectra through
  // one complex FFT, in the default variant; false (nothing done) when the
  // options or the layout call for one block at a time.
  bool transform_pair_at(RidgeletWorker& W, int bi, int bj, to_array<float, false>& Ima,
                         to_array<float, false>& Row);
  bool recons_block_at(RidgeletWorker& W, int bi, int bj, to_array<float, false>& Row,
                       to_array<float, false>& Coef);
  void spectra_to_block(RidgeletWorker& W, to_array<float, false>& Out);
  // The worker's row buffer sized for a row of blocks, and the columns of
  // the ridgelet image a row of blocks fills.
  to_array<float, false>& row_of_blocks(RidgeletWorker& W);
  // Values beyond the RidNc of each line of a worker's row buffer.
  static constexpr int RowPad = 16;
  int row_columns();
  // The block functions above with the caller's scratch for the mirrored
  // columns and the column weights, so that the block loops allocate nothing.
  void get_block_ima(int bi, int bj, to_array<float, false>& Ima, to_array<float, false>& Block,
                     std::vector<int>& Columns);
  void add_block_ima(int bi, int bj, to_array<float, false>& Ima, to_array<float, false>& Block,
                     std::vector<float>& ColumnWeights);
  void recons_block(RidgeletWorker& W, to_array<float, false>& In, to_array<float, false>& Out);
  void make_workers();
  // The coefficients of the blocks (bi, bj0 + k·step), k < Count, from the
  // ridgelet image into Blocks[k]: a row of blocks at a time, so that the
  // ridgelet image is read line by line rather than block by block.
  void get_block_row_trans(int bi, int bj0, int step, int Count, to_array<float, false>& Trans,
                           to_array<float, false>* const* Blocks);
  template <class Visit>
  void each_angle_coef(to_array<float, false>& Trans, int s, int Posi, Visit visit);
  void radon_recons(Radon& radon, to_array<float, false>& Rad, to_array<float, false>& Out,
                    bool slant_stack_norm);
};
