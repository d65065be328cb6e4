// Building blocks for rebuilding an undecimated diadic wavelet transform
// (two bands per scale: band 2s along lines, band 2s+1 along columns, band
// 2S-2 the smooth image) from the values at its maxima: counting and
// locating the maxima of each scale, a transform holding only those values,
// resetting an estimate to them, and the projection that fills the
// coefficients between two successive maxima of a line or a column.
//
// The targets come either from a MultiResol of the diadic layout or from an
// array of band images indexed like its bands. Counts are (scale, index)
// tables of S-1 x Nl (lines) and S-1 x Nc (columns) that the counting
// routines only increment. Position tables hold S-1 x Nl (lines) and
// S-1 x Nc (columns) pointers; entry s * Nl + i lists the columns of the
// maxima on line i of scale s, entry s * Nc + j the rows on column j. They
// are created by init_coord_max and belong to the caller.
#pragma once

#include "array/base_types.h"
#include "array/to_array.h"

class MultiResol;

using MaxCount = to_array<int, true>;
using MaxPositions = to_array<int, true>*;

// Marker of a coefficient that holds no maximum.
constexpr float kNoMaxValue = -10000.f;

// A maximum is a value outside [-1e-07, 1e-07]. Prints the running totals
// per scale when Verbose is 1.
void search_number_max(to_array<float, false>* TabMax, MaxCount& NbrMaxLine, MaxCount& NbrMaxCol,
                       int NbrScale, Bool Verbose);
// The same, always printing.
void search_number_max(int NbrScale, to_array<float, false>* TabMax, MaxCount& NbrMaxLine,
                       MaxCount& NbrMaxCol);
// A maximum is a value greater than the no-maximum marker.
void search_max(to_array<float, false>* TabMax, MaxCount& NbrMaxLine, MaxCount& NbrMaxCol,
                int NbrScale);

void init_coord_max(to_array<float, false>* TabMax, int Nl, int Nc, MaxCount& NbrMaxLine,
                    MaxPositions* TabPosLine, MaxCount& NbrMaxCol, MaxPositions* TabPosCol,
                    int NbrScale);

// Output = the marker everywhere but at the maxima, which take the source's
// values, and the source's smooth band.
void init_multiresol_out(int Nl, int Nc, int NbrScale, MaxCount& NbrMaxLine,
                         MaxPositions* TabPosLine, MaxCount& NbrMaxCol, MaxPositions* TabPosCol,
                         MultiResol& Source, MultiResol& Out);

// The estimate takes the targets' values at every maximum.
void init_max(int NbrScale, int Nl, int Nc, MaxCount& NbrMaxLine, MaxPositions* TabPosLine,
              MaxCount& NbrMaxCol, MaxPositions* TabPosCol, MultiResol& Target,
              MultiResol& Estimate);
void init_max(int NbrScale, int Nl, int Nc, MaxCount& NbrMaxLine, MaxPositions* TabPosLine,
              MaxCount& NbrMaxCol, MaxPositions* TabPosCol, to_array<float, false>* Target,
              MultiResol& Estimate);

// The estimate's smooth band takes the target's.
void init_last_scale(int NbrScale, int Nl, int Nc, MultiResol& Target, MultiResol& Estimate);
void init_last_scale(int NbrScale, int Nl, int Nc, to_array<float, false>* Target,
                     MultiResol& Estimate);

// Projection between successive maxima of every line and column of scales
// 0, 2, 4, ...
void interpolate(MaxCount& NbrMaxLine, MaxPositions* TabPosLine, MaxCount& NbrMaxCol,
                 MaxPositions* TabPosCol, MultiResol& Target, MultiResol& Estimate);
void interpolate(int NbrScale, MaxCount& NbrMaxLine, MaxPositions* TabPosLine,
                 MaxCount& NbrMaxCol, MaxPositions* TabPosCol, to_array<float, false>* Target,
                 MultiResol& Estimate);

// Adds to the estimate of band b, strictly between positions x0 and x1 of
// line i (j = -1) or column j (i = -1), the combination of exp(f t) and
// exp(-f t), f = 2^-(b/2+1), that matches the target minus the estimate at
// both ends.
void Ortho_Proj_Operator(int b, int i, int j, int x0, int x1, MultiResol& Target,
                         MultiResol& Estimate);
void Ortho_Proj_Operator(int b, int i, int j, int x0, int x1, to_array<float, false>* Target,
                         MultiResol& Estimate);
