// C library calls of the FITS library that the program answers itself.
//
// The FITS library's network reads install their time-out's SIGALRM handler
// through signal(), answered here, so that the handler shares the signal
// with the run's stop (array/stop_signals.h). Built for strict ISO C, the
// library calls it as __sysv_signal; built in GNU mode, as signal, which the
// linker then sends here as __wrap_signal (--wrap=signal) from every object
// linked into the program, while the shared libraries keep the real one.
// The program's own code, linked so too, therefore never calls signal(): it
// sets its handlers with sigaction.
//
// Nothing in the program calls these by name: the build asks the linker for
// the one the library's archive calls (CMakeLists.txt, qz_cfitsio), so that
// this file comes out of the io library ahead of the archive.
//
// The library's parse of a tile-compressed image's cards, which its header
// reader calls as it meets each such HDU, is sent here the same way
// (--wrap=imcomp_get_compressed_image_par): it keeps the quantize level and
// HCOMPRESS smoothing of the HDU parsed before where the cards do not set
// them, and sets the level for integer pixels too, and each of those
// decodes tiles as other pixels than they hold; of a dithering seed given
// twice, it may keep a stray 0 (io/tile_parameters.h). Mended here, before
// any tile is decoded, these hold in the library's own open of a section
// too.
#include <fitsio.h>

#include "array/stop_signals.h"
#include "io/tile_parameters.h"

extern "C" {

// As the C library declares them. Hidden: a shared library that calls
// signal() itself must never bind to these. GNU's signal() keeps a handler
// and holds its signal while it runs; the library's handler, installed for
// a single alarm and left by a jump, needs neither, so both calls get the
// System V semantics of the answer.
__attribute__((visibility("hidden"))) library_signal_handler __sysv_signal(int signal,
                                                                          library_signal_handler handler) noexcept {
  return install_library_signal_handler(signal, handler);
}

__attribute__((visibility("hidden"))) library_signal_handler __wrap_signal(int signal,
                                                                          library_signal_handler handler) noexcept {
  return install_library_signal_handler(signal, handler);
}

int __real_imcomp_get_compressed_image_par(fitsfile* fptr, int* status);

__attribute__((visibility("hidden"))) int __wrap_imcomp_get_compressed_image_par(fitsfile* fptr, int* status) {
  tile_parse_state_cleared(fptr);
  const int parsed = __real_imcomp_get_compressed_image_par(fptr, status);
  tile_integers_unquantized(fptr);
  tile_dither_seed_of_cards(fptr);
  return parsed;
}

}  // extern "C"
