// Stops by signal. A run that its user stops (Ctrl-C, kill, a hang-up, a
// reader that closed its pipe, a batch system's warning or time limit)
// removes the files it made and not yet put in place (new results, swap
// files) and then ends by that same signal, so that the shell sees the stop
// (status 128 + its number). While a run puts its results in place the stop
// waits, so that they are seen all old or all new. Only SIGKILL, a crash or
// a signal not caught here can leave a file of the run behind.
#pragma once

// Installs the handlers of SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE,
// SIGUSR1, SIGUSR2, SIGALRM and SIGXCPU. A signal the process was started
// with ignored (nohup, a shell's background job) stays ignored. Called once
// by the program, before any file is made; a library never installs them on
// its own.
void catch_stop_signals();

// Puts the stop handler back on every signal catch_stop_signals caught
// whose handler has since been changed: the FITS library's network reads
// time themselves out with SIGALRM and leave it at its default action, by
// which a later SIGALRM would end the run and leave its files. Nothing when
// catch_stop_signals was never called.
void restore_stop_signals();

// Installs `handler` for `signal` as signal() does for a library's C code
// (System V semantics: once, not held while it runs) and returns the
// previous one. The FITS library times its network reads out so: a SIGALRM
// handler of its own that abandons the read, with alarm() armed, and would
// take a SIGALRM sent to the process meanwhile (a batch system's time
// limit) for its time-out. While catch_stop_signals has SIGALRM caught, the
// library's handler gets only what an alarm() sends as it expires, once; a
// SIGALRM sent by a process stops the run as at any other moment, and the
// default action the library asks for when it is done is the stop's
// handler again. A signal the process was started with ignored stays
// ignored when the library asks for the default action. The handlers of
// the stop are returned as the action they stand for.
using library_signal_handler = void (*)(int);
library_signal_handler install_library_signal_handler(int signal, library_signal_handler handler);

// Paths that a stop removes. A path is registered before its file is made
// and forgotten once the file is in place or removed; the handler unlinks
// every path still registered with async-signal-safe calls only (a folder
// is removed after the files, when it is empty then). Both calls
// are thread-safe and may run while a handler runs on another thread.
// Returns the handle that forgets it.
long stop_removes(const char* path);
void stop_forget(long handle);

// Whether a stop by signal is under way on some thread. The process then
// ends by that signal as soon as the stop has removed the files, and a
// failure found meanwhile (a write to a file the stop removed) is the
// stop's doing: fatal errors wait for the end instead of reporting it.
bool stop_under_way();

// While one of these lives, on any thread, a stop signal waits: it takes
// effect when the last one ends. Cheap enough to hold around the creation
// and registration of a single file.
class StopSignalsHeld {
 public:
  StopSignalsHeld();
  ~StopSignalsHeld();
  StopSignalsHeld(const StopSignalsHeld&) = delete;
  StopSignalsHeld& operator=(const StopSignalsHeld&) = delete;
};
