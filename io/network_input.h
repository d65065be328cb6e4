// Files named by a network address ("http://host/f.fits[1]"). The FITS
// library would fetch such a file itself and parse its HDUs at once, before
// any check could see them: a file on a web server is a file from anyone.
// They are fetched here instead, and read as the standard input is
// (io/compressed_input.h): into memory as far as their FITS headers
// describe, the transfer ended there, so that their bytes go through the
// checks a local file's go through and the library reads those very bytes.
#pragma once

#include <fitsio.h>

#include <string>

// True when the library's parser gives the name a prefix by which the
// library fetches it over the network: http://, https://, ftp:// or
// ftps://, alone or as their mem, file or compress forms (httpmem://,
// ftpcompress:// ...), in lower case. The parser keeps a prefix as written,
// and the library has a driver only for these names: measured, it sends no
// request for HTTP://, Https:// or ftpMEM://, and fails their open with
// status 124 (no matching driver), as it does for FILE://. The name gate
// refuses a prefix in capitals so (io/fits_name_gate.h).
bool fits_name_is_network(const std::string& file);
// The same for a prefix the parser gave.
bool fits_prefix_is_network(const std::string& prefix);

// Opens a network name for reading: fetches the file the library would
// fetch (the name's root, or first its .gz and .Z siblings where the library
// tries them), then reads it as fits_open_fetched does. The library's time
// limit (fits_net_timeout) bounds the wait for a connection and any stall:
// a transfer during which less than a byte a second comes for that long
// ends; one that keeps coming has no limit as a whole. Returns false, having
// done nothing, for any other name. A host that does not answer, no such
// file on the server and an open for writing leave *status at the library's
// FILE_NOT_OPENED, as the library's own open of the name does, with nothing
// open. Refused, ending the run: libcurl that cannot be loaded; a transfer
// that fails otherwise (a server's error, a transfer broken or stalled),
// with the server's status and libcurl's message, when no file tried is
// read; headers that describe more than this machine's memory, as the
// standard input's are.
bool fits_open_network(fitsfile** fptr, const std::string& file, int iomode, int* status);
