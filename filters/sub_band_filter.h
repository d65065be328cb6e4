// SubBandFilter: the bi-orthogonal two-channel filter bank built from one
// FilterAnaSynt pair, with decimated, undecimated and noise-variance steps.
#pragma once

#include "array/to_array.h"
#include "filters/filter_ana_synt.h"
#include "filters/sub_band_1d.h"

class SubBandFilter : public SubBand1D {
 public:
  int ReconsFactor;          // synthesis factor: 1 for L2, 2 for L1
  type_sb_filter TypeFilter;
  float* H0;                 // analysis low-pass (owned)
  float* G0;                 // analysis high-pass (owned)
  float* H1;                 // synthesis low-pass (owned)
  float* G1;                 // synthesis high-pass (owned)
  int Size_H0, Size_H1, Size_G0, Size_G1;
  // Offset of the first tap relative to the output sample: -(Size/2).
  int Start_H0, Start_H1, Start_G0, Start_G1;
  sb_type_norm TypeNorm;

  explicit SubBandFilter(const FilterAnaSynt& F);
  SubBandFilter(const FilterAnaSynt& F, sb_type_norm Norm);
  explicit SubBandFilter(type_sb_filter T);
  SubBandFilter(type_sb_filter T, sb_type_norm Norm);
  explicit SubBandFilter(const char* FileName);
  SubBandFilter(const char* FileName, sb_type_norm Norm);
  // Bank from its two analysis filters, taken as L1-normalised; prints the
  // four filters on standard output.
  SubBandFilter(const float* FH0, int N0, const float* FG0, int N1, sb_type_norm Norm);
  SubBandFilter(const SubBandFilter& other);
  SubBandFilter& operator=(const SubBandFilter& other);
  ~SubBandFilter() override;

  void init(const FilterAnaSynt& F, sb_type_norm Norm);
  void reset_param();

  using SubBand1D::recons;
  using SubBand1D::transform;
  void transform(int N, float* Signal, float* Low, float* High) override;
  void recons(int N, float* Low, float* High, float* Signal) override;
  void noise_transform(int N, float* Signal, float* Low, float* High) override;
  void transform(int N, float* Signal, float* Low, float* High, int Step) override;
  void recons(int N, float* Low, float* High, float* Signal, int Step) override;

  // Decimated step on arrays: Low is resized to (N+1)/2 values; High must
  // already hold at least N/2.
  void transform(to_array<float, true>& Signal, to_array<float, true>& High,
                 to_array<float, true>* Low);
  // Decimated synthesis into Signal, whose length (set by the caller) is N.
  void recons(to_array<float, true>& Signal, to_array<float, true>& High,
              to_array<float, true>& Low);

 private:
  void free_filters();
  void copy_from(const SubBandFilter& other);
  void make_reversed();
  void transform_one(int N, const float* Signal, float* Low, float* High) const;
  void recons_one(int N, const float* Low, const float* High, float* Signal, float* Work) const;
  void upsampled_conv(int N, const float* Band, int Phase, const float* F, int SizeF, int StartF,
                      float* Out) const;

  // Analysis filters in reversed order, so that the convolution runs as a
  // plain dot product with the same sum order.
  std::vector<float> H0_rev_;
  std::vector<float> G0_rev_;
};
