// The one way a FITS name reaches the library. Its own syntax of extended
// names (prefixes, HDU selectors, sections, filters, raw arrays) makes it
// open and decode what a plain name would never hand it: every name is taken
// apart here as the library takes it apart, and what the checks of the
// files cannot follow is refused before the library sees the name.
#pragma once

#include <fitsio.h>

#include <cstddef>
#include <string>
#include <vector>

// A FITS name as the library reads it.
struct fits_name_parts {
  std::string prefix;     // the library's "file://" (implied when absent), "compress://", ...
  std::string root;       // the file's path, without prefix or extended syntax
  std::string copy;       // "name(copy.fits)": the file the library copies the input to
  std::string extension;  // the HDU the name selects ("name[1]")
  bool filtered = false;  // the name asks for a section or a filter
  // The filters' texts as the library parses them: an image section or a
  // row filter ("[1:8,1:8]", "[#row > 2]"), binning, a column filter, a
  // pixel filter, a compression of the library's output; and whether the
  // HDU selector filters too ("[1; #row > 2]").
  std::string rows, bins, columns, pixels, compress;
  bool extension_filters = false;
  bool standard_input = false;
  // Where the root ends in the name, npos when it does not stand there as
  // the library returned it.
  std::size_t after_root = std::string::npos;
};
// False when the library cannot parse the name. Only "-" (with its
// extension and selector, "-.fits[1]") is the standard input: a name the
// library would read from there ("stdin_obs1.fits") or as an IRAF image
// ("x.imh[1]") is parsed as the file it names.
bool fits_name_parts_of(const std::string& file, fits_name_parts& parts);
// Where the '+' stands by which the library selects an HDU after the root
// ("x.fits+1", "x+2[1:8,1:8]"; "x.fits+" the primary one), npos where it
// reads none: a '+' inside the root ("x+1.gz"), or one followed by other
// text or by more digits than it takes ("x.fits+1a", "x.fits+123456").
std::size_t fits_hdu_plus_at(const std::string& file);
// The file the library's local drivers open for a root, as they read a
// leading "~": "~/x.fits" under the folder HOME names (the root as it
// stands when HOME is unset), "~user/x.fits" and "~user" under that user's
// home folder. False for a user this machine does not know ("~" alone and
// "~.fits" among them), on which the library follows a null pointer.
bool fits_local_path(const std::string& root, std::string& path);
// The prefixes under which the library reads compressed data only.
bool fits_prefix_wants_compressed(const std::string& prefix);

// Refuses, with a message naming what is refused and why (status -1), a
// name the library would read around the checks: one too long for its
// buffers, one by which it would write a file as it opens the input
// ("in.fits(out.fits)"; a copy into memory, "(mem://...)", makes none), a
// filter other than an image section (pixel, row and column filters,
// binning, a compression of the output, a filter in the HDU selector) on
// any file, a prefix that names no local file, memory, compressed file or
// network place (shmem://, root://, ...), a section on a file opened for an
// update, a raw array (`f.dat[i512,512:2880]`) whose form the checks do
// not read, and a section whose blanks leave it unsure or that the
// library's parser does not take for one for its blanks ("[5:4 4]",
// "x.fits[40 :11,5:44]", "x.fits[1] [1:8,1:8]"). False for a name its parser rejects ("in.fits[1"), which the
// library's open would fail on too: it is not to be handed on, and the
// caller reports it as that failed open.
// Network names without filters pass: they are read elsewhere.
bool fits_gate_name(const std::string& file, int iomode);

// Opens a raw array's name for reading ("f.dat[i512,512:2880]"): the file is
// opened here, recorded as read (io/image_input_file.h), sized against the
// array, refused when it is no regular file or too short for the array,
// and the library reads that very file. A file that does not open fails
// the open as the library's would (fits_fail_as_no_file), and so does an
// open for an update (READONLY_FILE), which the library refuses a raw
// array. False, having done nothing, for any other name.
bool fits_open_raw_array(fitsfile** fptr, const std::string& file, int iomode, int* status);

// The local file a raw array's name reads ("f.dat" of "f.dat[i512,512]"),
// where its `~` leads to; false for any other name.
bool fits_raw_array_path(const std::string& file, std::string& path);

// Refuses (status -1), naming `file`, a name `handed` to the library that
// is too long for its parser's buffers: past them, it would take the name
// apart otherwise than the checks did. The name typed, or the one built
// from it for the library (the file's place put in for its path).
void fits_check_name_length(const std::string& handed, const std::string& file);

// "NAXIS = 4: 512 x 512 x 1 x 1".
std::string fits_axes_text(const std::vector<long long>& axes);

// One axis of an image section as the library cuts it: the input's pixel
// that becomes the section's first (0 for "-*", the axis's last, whose
// number the text does not give), and the step from one pixel of the
// section to the next on the input, negative where the axis is reversed
// ("40:11" -1, "-*:2" -2).
struct fits_section_axis {
  long long first = 1, step = 1;
};
// The axes of an image section, in order, its blanks left out ("40:11 ,5:44"
// is "40:11,5:44"); none when text is no section.
std::vector<fits_section_axis> fits_section_axes(const std::string& text);
// An image section without its blanks, as it is read and handed to the
// library; any other text as it is.
std::string fits_section_without_blanks(const std::string& text);
// The section `text` as the library is handed it, so that it cuts the same
// pixels from a tile-compressed image as from a plain one. Measured: on a
// tile-compressed image, the library begins a first axis reversed in steps
// ("40:11:3", "-*:5") at its last pixel's end of the steps, first - ((first
// - last) mod step), where it begins a plain image's at first; the second
// axis and every other form it cuts alike. That item is written with the
// last pixel the steps reach ("40:13:3"), or as its one pixel ("40:40")
// when the steps reach no other; "-*" reads `first_axis_length`, which 0
// leaves unknown. The library reads blanks in a section in some places and
// not in others (one before a comma leaves the next axis whole, one before
// a colon drops a step), so a section is handed without them. Any other
// text as it is.
std::string fits_section_cut_alike(const std::string& text, long long first_axis_length);
// `rest`, what follows a name's root (its HDU selector and section), with
// the section `rows` (fits_name_parts::rows, the last of its brackets,
// which the parser hands back as typed) written as `handed`; as it is where
// either is empty or the section is not found.
std::string fits_section_handed_as(std::string rest, const std::string& rows, const std::string& handed);
// Refuses (status -1) a section of the current HDU of fptr, the one the
// library takes it of, when it is a table, or its image has more axes than
// the library's sections take, or the section asks with a number past the
// second axis for a plane of a cube ("[*,*,1]") or for an axis the image
// lacks ("[40:11,5:44,1]").
void fits_refuse_section_axes(fitsfile* fptr, const std::string& file);
