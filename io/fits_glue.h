// FITS files through the FITS library (CFITSIO) for the transform classes
// and tools: float, int and double arrays of one to three axes, rectangular
// blocks of an existing image, celestial coordinates and the library's error
// report. Every library call is checked; a failure ends the process.
#pragma once

#include "array/base_types.h"
#include "array/to_array.h"
#include "io/fits_header.h"

// A BITPIX -32 primary image of Dat's axes (NAXIS1 = nx, ...). With a
// Header, the Header's cards, BITPIX and sizes are written (npix must be
// Dat's element count); a null Header builds a plain one.
void fits_write_fltarr(const char* name, to_array<float, true>& Dat);
void fits_write_fltarr(const char* name, to_array<float, true>& Dat, fitsstruct* Header);
// Reads the primary image, or the first extension when the primary array is
// empty; Header (when given) receives the header.
void fits_read_fltarr(const char* name, to_array<float, true>& Dat);
void fits_read_fltarr(const char* name, to_array<float, true>& Dat, fitsstruct* Header);
// Float values rounded to the nearest integer, halves away from zero.
void fits_read_intarr(const char* name, to_array<int, true>& Dat);
void fits_write_intarr(const char* name, to_array<int, true>& Dat);
void fits_read_dblarr(const char* name, to_array<double, true>& Dat);
// A BITPIX -64 primary image; an existing file is replaced.
void fits_write_dblarr(const char* name, to_array<double, true>& Dat);

// The block of Dat's size whose first pixel is line Indi, column Indj
// (0-based) of an existing image; Dat must be allocated. NoBscale transfers
// the raw stored values.
void fits_read_block(const char* name, to_array<float, true>& Dat, int Indi, int Indj, Bool NoBscale = False);
void fits_read_block(const char* name, to_array<int, true>& Dat, int Indi, int Indj, Bool NoBscale = False);
void fits_read_block(const char* name, to_array<float, false>& Dat, int Indi, int Indj, Bool NoBscale = False);
void fits_read_block(const char* name, to_array<int, false>& Dat, int Indi, int Indj, Bool NoBscale = False);
void fits_write_block(const char* name, to_array<float, true>& Dat, int Indi, int Indj, Bool NoBscale = False);
void fits_write_block(const char* name, to_array<int, true>& Dat, int Indi, int Indj, Bool NoBscale = False);
void fits_write_block(const char* name, to_array<float, false>& Dat, int Indi, int Indj, Bool NoBscale = False);
void fits_write_block(const char* name, to_array<int, false>& Dat, int Indi, int Indj, Bool NoBscale = False);

// An empty record of a BITPIX -32 Nl x Nc image.
void init_fits_struct(fitsstruct* Header, int Nl, int Nc);

// World-coordinate keys of a FITS file into Header; the result is the
// library's status of that read (0 when the keys were found).
int cfitstio_read_celestial_coord(const char* name, fitsstruct* Header);
// World (degrees) to 0-based pixel and back; results are library statuses.
int adxy(fitsstruct* Header, double ra, double dec, double* x, double* y);
int xyad(fitsstruct* Header, double x, double y, double* ra, double* dec);
// Right ascension as hours, minutes, seconds and declination as degrees,
// arcminutes, arcseconds; a declination between -1 and 0 degrees carries
// its sign on the first non-zero field.
void radec(double ra, double dec, int& h, int& m, double& s, int& d, int& dm, double& ds);

// The library's status text and message stack on the standard error, then
// exit with the status (-1 for a status the shell would see as 0).
[[noreturn]] void FitsPrintError(int status);
