// File-name side of the image formats: the format and pixel-type codes, the
// run's format (fixed by the first image name handled) and the pixel type of
// the last image read, the stem from which output names are built, and the
// names that stand for the standard streams.
#pragma once

#include <string>

enum type_format : int {
  F_UNKNOWN = 0,
  F_DISP = 1,
  F_MIDAS = 2,  // recognised so that it can be refused
  F_FITS = 3,
  F_GIF = 4,
  F_PGM = 5,
  F_JPEG = 6
};

// Pixel type of a stored image; the comments give the disp file-name tag.
enum type_data : int {
  T_BYTE = 0,         // b
  T_SHORT = 1,        // s
  T_INT = 2,          // i
  T_FLOAT = 3,        // f
  T_DOUBLE = 4,       // d
  T_COMPLEX_F = 5,    // cf
  T_COMPLEX_D = 6,    // cd
  T_UNKNOWN = 7
};

// Format of every image file of the run; 0 until the first name is handled.
extern type_format Format_Imag;
// Pixel type of the last image read through a typed branch.
extern type_data TypeInputData;

// io_name_format of the name, also stored in Format_Imag.
type_format io_which_format(const char* name);
// io_which_format with FITS in place of 0; stored in Format_Imag.
type_format io_detect_format(const char* name);
void io_set_format(type_format format);
// From a format word such as "fits" or "gif"; no match leaves 0.
void io_set_format(const char* word);
type_format which_format();
type_data which_data_type();

// The file's own name: the part after the last '/'. Format patterns,
// extensions, disp tags and stems are looked for here only, so that a
// folder such as "j.doe" or "run_i_2" never decides how a file is read.
const char* io_file_part(const char* name);
// 1 when the file's own name contains pattern (case-sensitive).
int io_file_part_has(const char* name, const char* pattern);
// The format a name's extensions name, 0 when none does: read from the
// end of the file's own name (the FITS library's HDU number "+1" and
// trailing [..] and (..) groups of its syntax aside), the first extension
// that names a format decides and any other (".gz", ".bz2", ".old",
// ".dat") is passed over, in any case: "master.dark.fits" and
// "pgmdata.fits" are FITS, "x.jpg.old" JPEG, "m51_f_4_4.d" disp,
// "f.dat[i512,512:2880]" and "m51" none. The extensions that name a
// format: ".d" disp, ".bdf" MIDAS, ".gif", ".pgm", ".jpg", and ".fits",
// ".fit", ".fts", ".mr", ".rad", ".rid", ".cur", ".bet" FITS. A name none
// of whose extensions names a format is FITS when its file's own name
// holds ".fits", ".fit" or ".fts" ("x.fits~", "x.fits_old", "x.fitsx").
type_format io_name_format(const char* name);
// The name a GIF, PGM or JPEG file is opened under: as typed when its
// format (io_name_format) is the one extension (".gif") names ("CAM.GIF",
// "a.gif.old"); else the name followed by extension.
std::string io_completed_name(const char* name, const char* extension);
// 1 when the name names no file to write: its file's own name is empty
// ("", "sub/") or a folder's ("." and ".."). The writers would otherwise
// add their extension and make a hidden ".fits" or "sub/..fits".
int io_names_no_file(const char* name);

// Writes the stem of src into dst, which must hold strlen(src) + 1 bytes
// (the stem is never longer than the name).
void io_strcpy_prefix(char* dst, const char* src);

// The stem from which a program's result names are built: the name less an
// extension at its end that names a FITS, GIF, PGM or JPEG image, as
// io_name_format reads it (".fits", ".mr", ".GIF"; a FITS one possibly
// followed by ".gz" or ".Z"), or a disp name's type and size such as
// "_f_512_512.d", whatever the run's format. Any other dot belongs to the stem, so that
// "o_0.25" and "o_0.1" never share result files. A name that is nothing but
// an extension is its own stem.
std::string io_result_stem(const char* name);

// 1 when the name ("-", "-b", "-.fits", ...) stands for the standard input
// or output, else 0.
int std_inout(const char* name);
