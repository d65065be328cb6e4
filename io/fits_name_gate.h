// The one way a FITS name reaches the library. Its own syntax of extended
// names (prefixes, HDU selectors, sections, filters, raw arrays) makes it
// open and decode what a plain name would never hand it: every name is taken
// apart here as the library takes it apart, and what the checks of the
// files cannot follow is refused before the library sees the name.
#pragma once

#include <fitsio.h>

#include <string>
#include <vector>

struct fits_name_parts;

// Refuses, with a message naming what is refused and why (status -1), a
// name the library would read around the checks: one too long for its
// buffers, one by which it would write a file (fits_refuse_copy_syntax), a
// prefix that names no local file, memory, compressed file or network place
// (shmem://, root://, ...), a section or filter on a file opened for an
// update, and a raw array (`f.dat[i512,512:2880]`) whose form the checks do
// not read. False for a name its parser rejects ("in.fits[1"), which the
// library's open would fail on too: it is not to be handed on, and the
// caller reports it as that failed open.
// Network names pass: they are read elsewhere.
bool fits_gate_name(const std::string& file, int iomode);

// Opens a raw array's name for reading ("f.dat[i512,512:2880]"): the file is
// opened here, recorded as read (io/image_input_file.h), sized against the
// array, refused when it is no regular file or too short for the array,
// and the library reads that very file. False, having done nothing, for
// any other name and for a file that does not open, which the library then
// reports as it opens the name.
bool fits_open_raw_array(fitsfile** fptr, const std::string& file, int iomode, int* status);

// Refuses (status -1), naming `file`, a name `handed` to the library that
// is too long for its parser's buffers: past them, it would take the name
// apart otherwise than the checks did. The name typed, or the one built
// from it for the library (the file's place put in for its path).
void fits_check_name_length(const std::string& handed, const std::string& file);

// The filters a name asks for, sorted by what the checks can follow: an
// image section only ("[1:8,1:8]", "[*,*]", "[-*:2,*]"), whose tiles can be
// checked before the library decodes them; a pixel filter; anything else
// (row and column filters, binning, a compression of the output, a filter
// in the HDU selector). `what` names the first of those for a message.
struct fits_name_filters {
  bool section = false, pixels = false, other = false;
  std::string what;
};
fits_name_filters fits_filters_of(const fits_name_parts& parts);
// True when text is an image section as the library writes one.
bool fits_is_image_section(const std::string& text);
// One axis of an image section as the library cuts it: the input's pixel
// that becomes the section's first (0 for "-*", the axis's last, whose
// number the text does not give), and the step from one pixel of the
// section to the next on the input, negative where the axis is reversed
// ("40:11" -1, "-*:2" -2).
struct fits_section_axis {
  long long first = 1, step = 1;
};
// The axes of an image section, in order; none when text is no section.
std::vector<fits_section_axis> fits_section_axes(const std::string& text);

// Refuses (status -1) a name whose filters the checks cannot follow, on a
// file holding a tile-compressed image: the library would apply them as it
// opens the file, to HDUs it parses and tiles it decodes unchecked.
void fits_refuse_filters_on_compressed(const fits_name_filters& filters, const std::string& file);
// Refuses (status -1) a pixel filter on the current HDU of fptr when it
// holds no image.
void fits_refuse_pixels_without_image(fitsfile* fptr, const std::string& file);
// Refuses (status -1) a section of the current HDU of fptr, the one the
// library takes it of, when its image has more axes than the library's
// sections take.
void fits_refuse_section_axes(fitsfile* fptr, const std::string& file);
