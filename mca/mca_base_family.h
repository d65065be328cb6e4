// The descriptor behind every MCA base: its texts, the defaults and option
// copies of its parameter fields, and its operations on the MCA. Each family
// of bases defines its descriptors in its own mca_bases_<family>.cc, and one
// table indexed by type_mcabase (mca_bases.cc) lists them, so that a new
// base is one file and one table row instead of a case in every dispatcher.
#pragma once

#include <cstdint>

#include "mca/mca.h"

using McaImage = to_array<float, false>;

struct MCABaseFamily {
  const char* name;        // StringMCABase text
  const char* suffix;      // of the base's output image
  const char* proj_label;  // printed before the projection when verbose

  void (*reset)(MCA&);      // the base's fields to their defaults
  void (*configure)(MCA&);  // the option globals into the base's fields
  void (*alloc)(MCA&);      // transform objects for an Nl x Nc run
  void (*free)(MCA&);
  // Largest coefficient of the image in noise units; null when the base
  // takes no part in the first level (init) or has none for MOM (max).
  float (*init)(MCA&, McaImage& data);
  float (*max)(MCA&, McaImage& resi);
  void (*project)(MCA&, McaImage& component);  // null: nothing to project
  // Constraint on component b after its projection.
  void (*constrain)(MCA&, int b);
  // The same on lines [first, end) of component b alone, for a projection
  // that calls MCA::LinesMade on every line it makes; null for the others.
  void (*constrain_lines)(MCA&, int b, int first, int end);
  // Whether the total-variation step (-G) follows the projection.
  bool takes_tv;
};

// The base's descriptor; a value outside the enumeration stops the process
// with "Error: not implemeted transform ... ".
const MCABaseFamily& mca_base_family(type_mcabase base);

// Shared constraints: negative pixels to 0 when the flag is 1; and the
// centring and clipping to five noise units of the texture-like bases.
void mca_positivity(McaImage& component, int positivity_flag);
void mca_positivity_lines(McaImage& component, int positivity_flag, int first, int end);
void mca_centre_and_clip(McaImage& component, float noise);
// The curvelet bases keep a super-resolved component within the range of
// the zoomed data: pixels above ZoomTop become ZoomTop.
void mca_clip_zoomed(McaImage& component, const MCA& mca);
// With a texture base second in super-resolution, the pair of the first two
// components is kept within the range of the zoomed data, 0 to ZoomTop.
void mca_bound_zoomed_pair(MCA& mca, int b);

// The families' descriptors, listed in the table of mca_bases.cc.
extern const MCABaseFamily AtrouBase;
extern const MCABaseFamily LocalDctBase;
extern const MCABaseFamily PixelBase;
extern const MCABaseFamily WTBase, RidBase, CurBase, WPBase, PCurBase, FCurBase, MCosBase,
    DWTBase, PSBase;

// Magnitude of the largest coefficient of an image.
float mca_max_magnitude(const McaImage& ima);
// The same over a run of n values, with no threads of its own.
float mca_span_max_magnitude(const float* values, int64_t n);
// The same for each of count images, into maxima[0 .. count - 1], all in one
// parallel pass.
void mca_max_magnitudes(const McaImage* images, int count, float* maxima);
// Lines i0 to i0 + nl - 1 and columns j0 to j0 + nc - 1 of an image.
struct McaRect {
  const McaImage* image;
  int i0, j0, nl, nc;
};
// The same for each of count rectangles.
void mca_max_magnitudes(const McaRect* rects, int count, float* maxima);
// A zero band level would divide every normalised coefficient by zero and
// turn the whole separation into NaN. A level measured by the median
// absolute deviation (-M) is 0 when more than half of the band's
// coefficients are equal: stops with a message naming the band.
void mca_check_mad_noise_level(const char* tag, int band, float level);
// The same for a level derived from the noise level of the run, for callers
// that set it themselves (the program never runs with a level of 0).
void mca_check_noise_level(const char* tag, int band, float level);
// The same check for the levels of a noise model the base computes from the
// given noise level: a zero level there comes from a band too small for the
// transform's blocks, not from the data.
void mca_check_model_noise_level(const MCA& mca, const char* transform, int nbr_scale, int band,
                                 float level);

// Largest scale count of a separable wavelet transform of the MCA image
// that still reconstructs it: every split sees more than four samples per
// sample distance, and the decimated splits that follow undecimated ones
// (interleaved sub-signals) keep every sample. The first nbr_undecimated
// splits are undecimated (a negative count: all of them); packets split the
// high-pass halves too.
int mca_largest_split_scales(const MCA& mca, int nbr_undecimated, bool packets);
// The scale count a base runs with: the requested one when the image holds
// it; else an explicit count (-n) is refused and the default one lowered to
// the largest (said with -v). An image that holds fewer than `smallest`
// scales is refused.
int mca_fit_scale_count(const MCA& mca, const char* transform, int requested, int largest,
                        int smallest = 2);

// The largest power of two of at most side (0 for none).
int mca_largest_power_of_2(int side);
// Refuses a DCT block side given with -B that is not a power of two from 2
// to largest (of any size when largest is 0), with the limit in the
// message; nl x nc is the image.
void mca_check_cos_block_size(int block, int largest, int nl, int nc);

// The isotropic power-spectrum constraint (mca_isotropic.cc) on component b
// when CosIsotrop is set.
void mca_isotropic_constraint(MCA& mca, int b);
