// FITS files and their pixel data: file names and streams, conversion of the
// stored BITPIX values to and from float and int images through BSCALE and
// BZERO, big-endian data with 2880-byte padding, and the file-level reads and
// writes of 2D images. Float images are read through CFITSIO; every write
// goes through our own header and data writer.
#pragma once

#include <fitsio.h>

#include <cstdio>
#include <string>

#include "array/base_types.h"
#include "array/to_array.h"
#include "io/fits_header.h"

// 0-based HDU read by fits_read_float; 0 is the primary array.
extern int FITS_HDU_Number;

// A new malloc'ed name (free it with free): the name itself for a standard
// stream or when the name reads as FITS (io_name_format: "x.Fits",
// "x.fits.gz", "x.jpg.fits+1", "x.fits~"), else the name followed by ".fits".
char* fitsname(const char* name);

// Streams of a FITS name ("-" and friends are the standard streams); an
// open failure ends the process. An output opened here is a new file that
// takes its place at fits_close_out (io/output_file.h), so that no partial
// file remains; it must be closed there.
std::FILE* fits_file_des_in(const char* name);
std::FILE* fits_file_des_out(const char* name);
// Closes an output stream of fits_file_des_out (flushes the standard
// output) and reports a failed close as a write error naming the file.
void fits_close_out(std::FILE* stream, const char* name);

// Pixel data, the stream at the first data byte; n pixels; the name is for
// messages. Reading: physical = stored * bscale + bzero. Writing: stored =
// (value - bzero) / bscale, rounded and saturated to the BITPIX's range,
// followed by the zero padding up to a whole block counted from the first
// data byte; the caller's buffer is left unchanged.
void readdataf(std::FILE* stream, const char* name, int bitpix, int n, float* out, float bscale,
               float bzero);
void readdatai(std::FILE* stream, const char* name, int bitpix, int n, int* out, float bscale,
               float bzero);
void readdataf(fitsstruct* rec, float* out);
void readdatai(fitsstruct* rec, int* out);
void writedataf(std::FILE* stream, const char* name, int bitpix, int n, const float* in,
                float bscale, float bzero);
void writedatai(std::FILE* stream, const char* name, int bitpix, int n, const int* in,
                float bscale, float bzero);
void writedataf(fitsstruct* rec, const float* in);
void writedatai(fitsstruct* rec, const int* in);

// Reverses the byte order of n items of size_flags (1, 2, 4 or 8) bytes
// where host and file (big-endian) order differ.
void swapbytes(void* p, int size_flags, int n);

// 2D images. The Header passed to a writer must describe the image (bitpix,
// npix and sizes); the dispatcher sets the sizes before each write.
void fits_read_float(const char* name, to_array<float, false>& Ima, fitsstruct* Header);
void fits_write_float(const char* name, to_array<float, false>& Ima, fitsstruct* Header);
void fits_read_int(const char* name, to_array<int, false>& Ima, fitsstruct* Header, Bool NoBscale);
void fits_write_int(const char* name, to_array<int, false>& Ima, fitsstruct* Header);
void fits_read_header(const char* name, fitsstruct* Header);
void fits_write_header(const char* name, fitsstruct* Header);

// Fills Header from the header of the current HDU of a file opened with
// CFITSIO, with no temporary file; Header's filename becomes file_name. A
// tile-compressed image gives its own header, not its table's. A header
// that cannot be read stops the run with the library's reason.
void fits_read_header_cards(fitsfile* fptr, const char* file_name, fitsstruct* Header);
// The file a FITS input name reads: the name completed as fitsname
// completes it, or as typed when it selects an HDU and only the name typed
// finds a file ("x.fz[1]"); a copy into memory, "(mem://)", left out.
std::string fits_input_name(const char* name);
// "(file: reason)" for a failed fits_open_input of `file`, the name the
// user typed being `typed`: an HDU the file does not hold, or a file cut
// short before it, the system's reason where one applies, else the
// library's text for its status. `opened` is the file as the failed open
// left it open (the standard input or a named pipe, read into memory, whose
// selected HDU was not found), or null.
std::string fits_open_failure(const char* typed, const std::string& file, int status, fitsfile* opened);
// What to do about that failure, to follow it ("; ..."), or "": the file
// is empty; an HDU selector is missing its ']' ("in.fits[1"); or one
// follows a name that the FITS extension completes, which a selector
// keeps from being added ("s[1]" for s.fits).
std::string fits_open_remedy(const char* typed, const std::string& file);
// The library's reason for its failed call on fptr (null when there is no
// file): the text of the status, and the messages the call left on the
// library's error stack where they say more. The stack is emptied.
std::string fits_library_reason(fitsfile* fptr, int status);
// Stops with "Error: cannot read in file (name: reason)" after a failed
// read of fptr, with the library's status as the exit status.
[[noreturn]] void fits_refuse_read(fitsfile* fptr, const char* name, int status);
// Reads the first n pixels of the current image into out, as ffgpv reads
// them (undefined ones as NaN when `undefined_as_nan`), but with the
// image's BSCALE, BZERO and BLANK applied to the tiles of a compressed
// integer image that the library reads unscaled (those kept uncompressed,
// as NOCOMPRESS keeps them all); refuses, naming the file, a
// floating-point image whose uncompressed tiles stand under a scaling, and
// such tiles under their column's own scaling. The library's status. The
// library caches decoded tiles whatever the scaling asked: for such an
// image, this is to be the only read of pixels on fptr.
int fits_read_pixels(fitsfile* fptr, const char* name, LONGLONG n, bool undefined_as_nan, float* out, int* status);
int fits_read_pixels(fitsfile* fptr, const char* name, LONGLONG n, bool undefined_as_nan, double* out,
                     int* status);
// Stops, naming the file, when the current HDU's data as its header
// announces them are not all in the file (checked before allocating).
void fits_check_data_held(fitsfile* fptr, const char* name);

// ffopen of file, once the name has passed fits_gate_name
// (io/fits_name_gate.h): a name the library's parser rejects fails with
// its status, URL_PARSE_ERROR, unopened. The file is opened here, never by
// the library from the name: a raw array's by fits_open_raw_array, a
// local file by fits_open_local (io/compressed_input.h), which records it
// as read, reads the standard input and a compressed file into memory as
// far as their FITS headers describe, and refuses a name that would make
// the library write a file; a network file by fits_open_network
// (io/network_input.h).
// Every read through the library opens its file here and closes it with
// fits_close_input.
int fits_open_input(fitsfile** fptr, const std::string& file, int iomode, int* status);
// ffclos of a file fits_open_input opened, releasing the memory it was read
// into or the descriptor it was read through.
int fits_close_input(fitsfile* fptr, int* status);
// Bytes of the open file as the library holds them: inflated for a
// compressed file.
long long fits_file_bytes(fitsfile* fptr);
