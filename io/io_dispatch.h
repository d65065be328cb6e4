// Front door of every image file: reads and writes 2D images in the run's
// format, which the first name handled fixes (FITS when the name shows no
// other format). A FITS read fills the header record, a FITS write carries
// it (with its HISTORY, the release banner and the command line) to the
// output.
#pragma once

#include <complex>
#include <string>

#include "array/base_types.h"
#include "array/to_array.h"
#include "io/fits_header.h"
#include "io/image_names.h"

// Header may be null; Ima is sized to the file.
void io_read_ima_float(const char* name, to_array<float, false>& Ima, fitsstruct* Header = nullptr);
// The file io_write_ima_float creates for an nl x nc image written under
// name in the run's format (fixed from the name if still open), with the
// extension or the disp type and size the writer adds; empty when the image
// goes to the standard output. Refused as the writers would refuse them: a
// name that names no file (io_names_no_file), and a disp name ending in ".d"
// that gives no type or another size.
std::string io_float_output_file(const char* name, int nl, int nc);
// NoBscale reads the raw stored values of a FITS file.
void io_read_ima_int(const char* name, to_array<int, false>& Ima, fitsstruct* Header = nullptr,
                     Bool NoBscale = False);
// Rescale stretches min..max onto 0..255 in the byte formats.
void io_write_ima_float(const char* name, to_array<float, false>& Ima, fitsstruct* Header = nullptr,
                        Bool Rescale = False);
void io_write_ima_int(const char* name, to_array<int, false>& Ima, fitsstruct* Header = nullptr);

// Complex images: native in disp, else a pair of real images named
// name + "_re" + extension and name + "_im" + extension.
void io_read_ima_complex_f(const char* name, to_array<std::complex<float>, false>& Ima);
void io_write_ima_complex_f(const char* name, to_array<std::complex<float>, false>& Ima);
void read_datacomplex_f(const char* name, to_array<std::complex<float>, false>& Ima);
