// C library calls of the FITS library that the program answers itself.
//
// The FITS library's network reads install their time-out's SIGALRM handler
// through signal(), which its C code, built for strict ISO C, calls as
// __sysv_signal: answered here, so that the handler shares the signal with
// the run's stop (array/stop_signals.h). The program's own C++ code calls
// signal() by its own name and is not concerned.
//
// Nothing in the program calls these by name: the build asks the linker for
// them (CMakeLists.txt, qz_cfitsio), so that this file comes out of the io
// library ahead of the FITS library's archive, and checks that the archive
// still makes the calls answered here.
#include "array/stop_signals.h"

extern "C" {

// As the C library declares it. Hidden: a shared library that calls
// signal() itself must never bind to this.
__attribute__((visibility("hidden"))) library_signal_handler __sysv_signal(int signal,
                                                                          library_signal_handler handler) noexcept {
  return install_library_signal_handler(signal, handler);
}

}  // extern "C"
