// The Feauveau wavelet transform on the quincunx lattice (type 14), the
// same filters without decimation (type 15), and the one-image layout of
// the Mallat and Feauveau families with its index maps (also used by the
// lifting and G transforms, types 28 and 30).
#pragma once

#include "array/to_array.h"
#include "multires/mr_types.h"

class MultiResol;

// The filter masks, row-major with the centre in the middle: 7 x 7 and
// their 45-degree turns onto the quincunx lattice, 13 x 13.
extern const float (&Filtre_U)[49];
extern const float (&Filtre_V)[49];
extern const float (&Filtre_Diag_U)[169];
extern const float (&Filtre_Diag_V)[169];

// Value at (i, j) of x filtered by a Size x Size mask, neighbours mirrored
// against nl x nc, zero taps skipped, summed in single precision.
double convolve_filter(const to_array<float, false>& x, int i, int j, const float* f, int size,
                       int nl, int nc);
// Whole-image form with holes of 2^s, mirrored reads.
void convolve_filter(const to_array<float, false>& x, to_array<float, false>& y, const float* f,
                     int size, int s);

void tr_feauveau_one_scale(const to_array<float, false>& x, to_array<float, false>& y, int nl,
                           int nc);
void transform_feauveau(const to_array<float, false>& Ima, to_array<float, false>& Y,
                        int NbrStep);
void rec_feauveau_one_scale(const to_array<float, false>& y, to_array<float, false>& z, int nl,
                            int nc);
void recons_feauveau(const to_array<float, false>& Y, to_array<float, false>& Z, int NbrStep);
void transform_feauveau_trou(to_array<float, false>& Ima, MultiResol& MR);

// Image position of pixel (i, j) of the band of scale s and kind d.
void ind_orthog_transf(int s, int i, int j, details d, int Nl, int Nc, int& I, int& J);
void ind_orthog_quinc(int s, int i, int j, details d, int Nl, int Nc, int& I, int& J);
// Band position of the k-th coefficient of the Mallat one-image order.
void pos_orthog_transf(int k, int& s, int& i, int& j, details& d, int Nl, int Nc, int NbrScale);
// Bands of scale s0 on to one image of the object's size halved s0 times,
// and back (the image must then have that size).
void ortho_trans_to_ima(MultiResol& MR, to_array<float, false>& Ima, int s0);
void ima_to_ortho_trans(MultiResol& MR, to_array<float, false>& Ima, int s0);
