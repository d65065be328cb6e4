// The one way the system fails: print a message and end the process.
// Every fatal path goes through here so that no error ends with status 0.
// A failure may be found on any thread, also inside a parallel region while
// the other threads of the team still work; the process then ends without
// the exit handlers and static destructors that would free the buffers those
// threads are using, running only the clean-ups given to at_process_end.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

// Prints `message` (as given, no newline added) on `stream`, flushes the
// standard streams and ends the process with `status`. Only the first
// failure of the process is reported: another thread failing meanwhile waits
// for the process to end, and the ending thread failing again (in a clean-up
// or a destructor at exit) prints nothing and ends at once with the first
// failure's status.
[[noreturn]] void fatal_exit(const std::string& message, int status = -1,
                             std::FILE* stream = stdout);

// printf-style form of fatal_exit.
[[noreturn]] void fatal_exitf(int status, std::FILE* stream, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// A fatal error whose report has several parts, possibly on both streams
// (a system error through perror, then the message): `print` runs only for
// the first failure of the process, then the process ends as in fatal_exit.
[[noreturn]] void fatal_report(int status, const std::function<void()>& print);

// Registers a clean-up to run at the end of the process, whether it ends by
// exit or by a fatal error on any thread. Like an exit handler, but it may
// run while other threads still work: it must only undo what it owns on disk
// (remove files), and take no lock that a thread may hold when it fails.
void at_process_end(void (*cleanup)());

// LLVM's OpenMP runtime registers each process in a file of /dev/shm named
// after its process id, and removes it only from an exit-time destructor of
// its own. An ending that skips that destructor (quick_exit, _exit) calls
// this first, or such files pile up. Removes this process's files only;
// async-signal-safe, so that a handler may call it.
void remove_openmp_registration();
