// Distortions read off tables that sit in other HDUs of the image's file, as
// HST's calibrated ACS and WFC3 images carry them in each [SCI,n]: CPDISn
// (and CQDISn) whose DPn (DQn) records name a WCSDVARR extension by its
// EXTVER, and D2IMDISn whose D2IMn records name a D2IMARR extension. The
// cards alone describe nothing: a result carries the tables they name, or its
// coordinates cannot be built. The tables describe the input's pixel grid,
// which a section or a zoom moves; those runs are refused.
#pragma once

#include <fitsio.h>

#include <cstdio>
#include <string>

#include "io/fits_header.h"

// Refuses (status -1) a section (`file` names one) of an image whose cards
// (`cards`, 80 columns each, no END) hold a lookup-table distortion; nothing
// for any other name or image.
void fits_refuse_section_of_lookup_tables(const std::string& cards, const std::string& file);

// The HDUs of fptr's file that the current HDU's cards (`rec`'s, as read)
// name as distortion tables, each once, in the file's order, as stored:
// header and data in whole blocks, EXTNAME and EXTVER with them, the final
// padding of the file's last HDU written where it is missing. Empty when
// the cards name none; a table a whole file does not hold is left out, as
// the input lacks it too. Refuses (status -1), naming `file`, a table the
// file holds cut short (a header without its END, data the file does not
// hold whole), or one a file cut short before it may have held.
std::string fits_read_lookup_tables(fitsfile* fptr, const fitsstruct& rec, const std::string& file);

// Writes rec's tables after an image written whole to `stream`, the
// standard output's included: its header names them there too.
void fits_write_lookup_tables(const fitsstruct& rec, std::FILE* stream, const char* name);

// Refuses (status -1) to zoom by `factor` an image whose cards hold a
// lookup-table distortion.
void fits_refuse_zoom_of_lookup_tables(const fitsstruct& rec, int factor);
