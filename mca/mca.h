// The MCA object: one morphological component analysis of one image. It holds
// the selected bases, one component per base, the residual, the parameters of
// the iteration and of every base, and the transform object of every base.
// The program entry fills the public fields, then calls alloc, decomposition
// and write_allima.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "array/base_types.h"
#include "array/to_array.h"
#include "curvelet/curvelet.h"
#include "curvelet/pyr_curvelet.h"
#include "multires/atrous_2d_wt.h"
#include "multires/line_col.h"
#include "multires/mdct.h"
#include "numerics/local_dct2d.h"
#include "radon/ridgelet.h"

class fitsstruct;
class FCUR;
class FilterAnaSynt;
class SubBandFilter;
class HALF_DECIMATED_2D_WT;
class WPACKETS_2D;
class WPTransf_2D;

// The bases of the MCA; option -t n selects value n-1 (bases 9 to 11 only
// from code that fills TabSelect directly).
enum type_mcabase {
  MCA_ATROU = 0,  // "A trous algorithm"
  MCA_WT = 1,     // "bi-orthogonal WT with 7/9 filters"
  MCA_RID = 2,    // "Ridgelet transform"
  MCA_CUR = 3,    // "Curvelet transform 02"
  MCA_COS = 4,    // "Local Discrete Cosinus Transform"
  MCA_WP = 5,     // "Wavelet Packet basis"
  MCA_PCUR = 6,   // "Curvelet transform 05 (Pyramidal Construction)"
  MCA_FCUR = 7,   // "Curvelet transform 04 (Fast Transform)"
  MCA_MCOS = 8,   // "Multiscale Local Discrete Cosinus Transform"
  MCA_PIXEL = 9,  // "Pixel basis"
  MCA_DWT = 10,   // "Multi-Direction WT"
  MCA_PS = 11     // "FFT2D-WT1D-PowSpectrum"
};
constexpr int NBR_MCA_BASES = 12;
// Components an MCA holds at most (TabSelect, TabImaRec).
constexpr int MAX_MCA_BASES = 8;

// The descriptor of every base (texts, defaults, operations) is in
// mca_base_family.h; these are the public faces of its texts.
const char* StringMCABase(type_mcabase base);
// Suffix of the base's output image ("_atrou", "_cur", ...); null outside 0..11.
const char* mca_base_suffix(type_mcabase base);

class MCA;
// Names of the result images write_allima(Name, Header) writes: one per
// selected base, then the residual.
std::vector<std::string> mca_result_names(const MCA& mca, const char* Name);
// Writes an image of the separation in the input's units (see ResultScale).
void mca_write_result(const MCA& mca, const char* name, to_array<float, false>& ima,
                      fitsstruct* header);

class MCA {
 public:
  // Sizes and iteration state.
  int Nl, Nc;
  int RidNl, RidNc;
  float Lambda;      // current threshold, in noise units
  float LambdaStep;  // threshold step of the linear and MOM schedules

  // Bi-orthogonal wavelet base objects (created by alloc, released by free).
  HALF_DECIMATED_2D_WT* WT_Trans;
  int WT_NbrBand;
  FilterAnaSynt* WT_Filter;
  SubBandFilter* WT_SB1D;
  Bool* WT_TabDec;                           // per scale: false undecimated
  to_array<float, false>* WT_TabBandCorrel;  // bands of the correlation image

  // Local DCT base objects: the data's transform and the correlation image's.
  LOCAL_DCT2D LDCT;
  LOCAL_DCT2D LDCT_Correl;

  // A trous base objects.
  ATROUS_2D_WT AT_Trans;
  to_array<float, false>* AT_TabBandCorrel;  // bands of the correlation image

  to_array<float, false> ImaCorrel;    // sum of the other components
  float Pix_Noise;                     // noise level of the pixel basis
  int WriteAll;                        // debug images during the run
  int UseZoom;                         // super-resolution mode
  int ZoomFactor;
  // Top of the range of a super-resolved image: 255 for 8-bit data; the
  // program lifts it for data in other units, which have no such range.
  float ZoomTop;
  // The factor, a power of two, that takes the images of the separation
  // back to the input's units: the program separates data whose noise level
  // is far from 1 scaled near it (1 otherwise).
  float ResultScale;
  // A value in data units (a noise level, a pixel) in the input's units, for
  // what the run prints.
  float in_input_units(float value) const { return value * ResultScale; }
  // The statistics line of an image of the separation (INFO), in the
  // input's units.
  void info(const to_array<float, false>& ima, const char* label);
  to_array<float, false> LowResolIma;  // the input before zoom
  int TV_NbrScale2D;
  int T_Decreasing;                    // 0 linear, 1 exponential, 2 MOM
  type_mcabase TabSelect[MAX_MCA_BASES];
  int NbrBase;
  to_array<float, false> Resi;
  to_array<float, false> TabImaRec[MAX_MCA_BASES];  // component b of base TabSelect[b]
  // Set by the iteration while a base whose projection makes its component
  // line by line projects: what follows the projection (constraint and
  // residual), for lines [first, end) of the component, for the projection
  // to run on those lines as soon as they are final, in the thread that made
  // them, which still has them in its cache.
  std::function<void(int first, int end)> LinesMade;
  int PositivSol;
  type_border CurBord;
  int Nbr_Iter;
  float Noise_Ima;
  int Rid_VarianceStab;
  int Verbose;
  float FirstSoftThreshold;  // noise units
  float LastSoftThreshold;
  int TV;
  float LambdaTV;
  int UseNormL1;             // soft thresholding at half the level
  int UseCorrel;
  float CorrelConstraint;

  // A trous base (0).
  to_array<float, false>* AT_TabBand;
  int AT_NbrScale;
  int AT_KillLastScale;
  int AT_PositivSol;
  to_array<float, true> AT_TabNoise;  // noise level of each band

  // Ridgelet base (2): the transform object and the coefficients of the
  // component and of the correlation image.
  Ridgelet Rid;
  to_array<float, false> Rid_Trans;
  to_array<float, false> Rid_TransCorrel;
  int Rid_BlockSize;  // <= 0: one block covering the image
  int Rid_FirstDetectScale, Rid_PositivSol;

  // Parameters of the bases whose transforms arrive with their subsystems;
  // the program entry fills them whatever is selected.
  int Cur_BlockSize, Cur_BlockOverlap, Cur_PositivSol, Cur_NbrScale, Cur_KillLastScale;
  // Curvelet 02 base (3, mca_bases_cur.cc): the transform object, the bands
  // of the last image transformed and of the correlation image (each array
  // made by its first transform, one image per 2D scale), and the noise
  // level of every band.
  Curvelet Cur;
  to_array<float, false>* Cur_TabBand = nullptr;
  to_array<float, false>* Cur_TabBandCorrel = nullptr;
  to_array<float, true> Cur_TabNoise;
  float cur_init(to_array<float, false>& Data, Bool UseMad);
  float cur_max(to_array<float, false>& Resi);
  void cur_proj(to_array<float, false>& Ima, float Lambda);
  int FCur_NbrDir, FCur_PositivSol, FCur_NbrScale, FCur_KillLastScale;
  // Fast curvelet base (7): the data's transform, the correlation image's,
  // and the noise level of every band but the coarsest scale's.
  FCUR* FCur_Trans = nullptr;
  FCUR* FCur_Correl = nullptr;
  to_array<float, true> FCur_TabNoise;
  int PCur_BlockSize, PCur_BlockOverlap, PCur_PositivSol, PCur_NbrScale, PCur_KillLastScale;
  // Pyramidal curvelet base (6, mca_bases_pcur.cc): the data's transform,
  // the correlation image's, the noise level of every band but the last,
  // and the base's operations.
  PyrCurvelet PCur;
  PyrCurvelet PCur_Correl;
  to_array<float, true> PCur_TabNoise;
  float pcur_init(to_array<float, false>& Data, Bool UseMad);
  float pcur_max(to_array<float, false>& Resi);
  void pcur_proj(to_array<float, false>& Ima, float Lambda);
  // Bi-orthogonal wavelet base (1).
  int WT_NbrUndecimatedScale, WT_NbrScale, WT_PositivSol;
  to_array<float, false>* WT_TabBand;
  to_array<float, true> WT_TabNoise;  // noise level of each band
  int LDCT_BlockSize, LDCT_BlockOverlap;
  float COS_Sensibility, COS_Min;
  int COS_WeightFirst, CosIsotrop;
  // Multiscale local DCT base (8).
  MDCT MDCT_Trans;
  int MDCT_PositivSol, MDCT_BlockSize, MDCT_BlockOverlap, MDCT_NbrScale;
  int DWT_NbrAngle, DWT_NbrScale, DWT_NbrScaleCol, DWT_PositivSol;
  // Multi-direction wavelet base (10): one line-column transform turned to
  // each direction over its own bank, one component per direction (their
  // sum is the base's component), the angles in radians, and the
  // coefficients of the direction being projected.
  LineCol DWT_LineCol;
  FilterAnaSynt* DWT_Filter = nullptr;
  SubBandFilter* DWT_SB1D = nullptr;
  std::vector<to_array<float, false>> DWT_TabImaRec;
  std::vector<float> DWT_TabAngle;
  to_array<float, false> DWT_Trans;
  int UseMad;           // band noise levels from MAD estimates
  int RemoveLastScale;  // remove the coarsest a trous scale first
  to_array<float, false> LastScale;
  int UseMask;
  to_array<float, false> MaskIma;  // 1 valid, 0.5 valid with a missing diagonal neighbour, 0 missing
  int WP_NbrScale, WP_NbrUndecimatedScale, WP_PositivSol, WP_KillLastBand, WP_FilterType;
  // Wavelet-packet base (5): the data's transform and the correlation
  // image's, over one bank; the coefficient stores of their last
  // transforms; the noise level of every band.
  WPACKETS_2D* WP_Trans = nullptr;
  WPACKETS_2D* WP_Correl = nullptr;
  FilterAnaSynt* WP_Filter = nullptr;
  SubBandFilter* WP_SB1D = nullptr;
  WPTransf_2D* WP_Coef = nullptr;
  WPTransf_2D* WP_CoefCorrel = nullptr;
  to_array<float, true> WP_TabNoise;

  MCA();
  ~MCA();
  MCA(const MCA&) = delete;
  MCA& operator=(const MCA&) = delete;

  void reset();
  // Sizes everything for an Nl x Nc decomposition; TabIma (NbrBase images of
  // the caller) are sized and zeroed.
  void alloc(int Nl, int Nc, to_array<float, false>* TabIma);
  void free();

  // The thresholding iteration (mca_iteration.cc).
  void decomposition(to_array<float, false>& Data);
  void make_residual(const to_array<float, false>& Data, to_array<float, false>& Resi);
  void reconstruction(to_array<float, false>& Ima);
  float mca_update(float Coef, float Level, float Third) const;

  // Result files (mca_results.cc).
  void write_allima(const char* Name, fitsstruct& Header);
  void write_allima(const char* Name, int Iter);

  // A trous base (mca_bases_wavelet.cc).
  float atrou_init(to_array<float, false>& Data, Bool UseMad);
  float atrou_max(to_array<float, false>& Resi);
  void atrou_proj(to_array<float, false>& Ima, float Lambda);
  // Bi-orthogonal wavelet base (mca_bases_wt.cc).
  float wt_init(to_array<float, false>& Data, Bool UseMad);
  float wt_max(to_array<float, false>& Resi);
  void wt_proj(to_array<float, false>& Ima, float Lambda);
  // Pixel basis (mca_bases_wavelet.cc).
  float pixel_init(to_array<float, false>& Data, Bool UseMad);
  float pixel_max(to_array<float, false>& Resi);
  void pixel_proj(to_array<float, false>& Ima, float Lambda);
  // Ridgelet base (mca_bases_rid.cc): no first level and no MOM maximum.
  void rid_proj(to_array<float, false>& Ima, float Lambda);
  // Local DCT base (mca_bases_dct.cc): one noise level for every coefficient.
  float cos_init(to_array<float, false>& Data);
  float cos_max(to_array<float, false>& Resi);
  void cos_proj(to_array<float, false>& Ima, float Lambda);
  // Multi-direction wavelet base (mca_bases_dwt.cc): no first level and no
  // MOM maximum; Angle in radians.
  void dwt_proj(to_array<float, false>& Ima, float Lambda, float Angle);
  // Wavelet-packet base (mca_bases_wp.cc).
  float wp_init(to_array<float, false>& Data, Bool UseMad);
  float wp_max(to_array<float, false>& Resi);
  void wp_proj(to_array<float, false>& Ima, float Lambda);
  // Multiscale local DCT base (mca_bases_mcos.cc): a projection only.
  void mcos_proj(to_array<float, false>& Ima, float Lambda);
  // Fast curvelet base (mca_bases_fcur.cc).
  float fcur_init(to_array<float, false>& Data, Bool UseMad);
  float fcur_max(to_array<float, false>& Resi);
  void fcur_proj(to_array<float, false>& Ima, float Lambda);

 private:
  void check_selection() const;
};
