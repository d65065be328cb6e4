// The FITS side shared by the Radon (".rad"), ridgelet (".rid") and curvelet
// (".cur") files: a primary array of 32-bit floats whose integer keywords
// each class writes and checks itself. Writing replaces an older file and
// leaves no partial one; reading checks the array before any memory is
// claimed for it.
#pragma once

#include <fitsio.h>

#include <functional>
#include <string>

#include "array/to_array.h"

// The name with the suffix appended unless it already ends with it.
std::string name_with_suffix(const char* Name, const char* Suffix);

// Ends the process on a FITS library error, with its message stack.
void check_fits(int status);

// The integer keyword key of an open file. A missing or unreadable one
// names the keyword and the file before the library's report, and ends the
// process with the library's status.
long read_int_keyword(fitsfile* fptr, const char* key, const std::string& file);

// "Error: bad <kind> file header: <what> (<file>)", status -1.
[[noreturn]] void bad_coefficient_file(const char* kind, const std::string& what,
                                       const std::string& file);

// Writes Ima under file with the keywords the callback adds.
void write_float_image_file(const std::string& file, to_array<float, false>& Ima,
                            const std::function<void(fitsfile*, int&)>& keywords);
// The same for an array of naxis axes, naxes[0] varying fastest.
void write_float_array_file(const std::string& file, const float* data, int naxis,
                            const long* naxes,
                            const std::function<void(fitsfile*, int&)>& keywords);

// Opens file and checks its array: two axes, sizes whose product fits an
// int, data the file really holds. naxes gets columns then lines.
fitsfile* open_float_image_file(const std::string& file, const char* kind, long naxes[2]);
// The same for an array of exactly naxis (1 to 3) axes.
fitsfile* open_float_array_file(const std::string& file, const char* kind, int naxis,
                                long* naxes);

// Reads the naxes[1] x naxes[0] array into Ima and closes the file.
void read_float_image_data(fitsfile* fptr, const long naxes[2], to_array<float, false>& Ima);
// Reads count floats from the first into data and closes the file.
void read_float_array_data(fitsfile* fptr, long long count, float* data);
