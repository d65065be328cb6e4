/* A library's C code built in GNU mode, which calls signal() by that name
   (a strict ISO C build calls __sysv_signal): its read times itself out as
   the FITS library's network reads do, so that a test links it as the build
   links such a FITS library and sees where its SIGALRM handler goes. */
#define _DEFAULT_SOURCE
#include <setjmp.h>
#include <signal.h>
#include <unistd.h>

#ifndef __USE_MISC
#error "signal() would be called as __sysv_signal"
#endif

static jmp_buf read_abandoned;

static void time_out(int signal_number) {
  (void)signal_number;
  longjmp(read_abandoned, 1);
}

/* A read that `wait` stands for, under the library's own alarm: 1 when its
   SIGALRM handler abandoned it, 0 when `wait` returned. */
int signal_calling_library_read(void (*wait)(void)) {
  if (setjmp(read_abandoned) != 0) {
    signal(SIGALRM, SIG_DFL);
    return 1;
  }
  signal(SIGALRM, time_out);
  alarm(60);
  wait();
  alarm(0);
  signal(SIGALRM, SIG_DFL);
  return 0;
}
