// Run at configure time: whether CFITSIO's archive is the version of the
// headers the program is compiled against. io/tile_parameters.cc writes the
// library's own structure fields where those headers lay them out, so an
// archive of another version would have its memory written at the wrong
// places. The archive reports its version as major + minor / 100 (and its
// micro version below that); major and minor are compared.
//
// The archive's network driver calls libcurl, which the program answers
// itself (io/curl_on_demand.cc): the probe links as the program does.
#include <fitsio.h>

#include <cmath>
#include <cstdio>

#include "io/curl_on_demand.cc"

int main() {
  float archive = 0;
  ffvers(&archive);
  const long archive_release = std::lround(std::floor(archive * 100.0 + 0.5));
  const long headers_release = CFITSIO_MAJOR * 100L + CFITSIO_MINOR;
  std::printf("archive %ld.%ld, headers %d.%d.%d", archive_release / 100, archive_release % 100, CFITSIO_MAJOR,
              CFITSIO_MINOR, CFITSIO_MICRO);
  return archive_release == headers_release ? 0 : 1;
}
