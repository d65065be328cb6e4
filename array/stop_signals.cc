// Stops by signal. The handler may run on any thread while the others go on
// registering and forgetting paths, so everything it reads is lock-free and
// never freed: the registered paths are nodes of a list that only grows,
// each published whole by an atomic pointer and afterwards changed only
// through its state, which a handler claims before it reads the path. A
// forgotten node is reused by a later registration only once free again.
// The holds and the pending signal share one atomic word, so that a signal
// that arrives while the last hold ends is acted on exactly once.
#include "array/stop_signals.h"

#include <signal.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>

#include "array/fatal.h"
#include "array/vms.h"

namespace {

// Those of a user (Ctrl-C, kill, a hang-up, a closed pipe) and those of a
// batch system or a shell's limits (warnings by SIGUSR1 or SIGUSR2, a time
// limit by SIGALRM or SIGXCPU). SIGPROF and SIGVTALRM belong to profilers.
constexpr int StopSignals[] = {SIGINT,  SIGTERM, SIGHUP,  SIGQUIT, SIGPIPE,
                               SIGUSR1, SIGUSR2, SIGALRM, SIGXCPU};

// ---- Registered paths ----

// A node's life: Free -> Writing (one registering thread owns it) -> Live
// -> Free again when forgotten, or -> Removing once a stop has claimed it,
// which is final: the process is ending, and nobody writes the path again.
// A claimed folder is Emptied, to be removed after the files.
enum NodeState : int { Free, Writing, Live, Removing, Emptied };

struct PathNode {
  std::atomic<int> state{Writing};
  std::size_t capacity = 0;  // fixed when the node is made
  char* path = nullptr;
  PathNode* next = nullptr;  // set before the node is published, then constant
};

std::atomic<PathNode*> Paths{nullptr};

// The smallest room a new node gets, so that a node freed by one path fits
// the next: a run's swap files and staged results have names of like length.
constexpr std::size_t MinimumRoom = 256;

// Writes path into a node it takes over or makes, and publishes it Live.
PathNode* claim_node(const char* path) {
  const std::size_t length = std::strlen(path);
  for (PathNode* node = Paths.load(); node != nullptr; node = node->next) {
    int expected = Free;
    if (node->capacity > length && node->state.compare_exchange_strong(expected, Writing)) {
      std::memcpy(node->path, path, length + 1);
      node->state.store(Live);
      return node;
    }
  }
  PathNode* node = new (std::nothrow) PathNode;
  if (node == nullptr) memory_abort();
  node->capacity = length + 1 > MinimumRoom ? length + 1 : MinimumRoom;
  node->path = new (std::nothrow) char[node->capacity];
  if (node->path == nullptr) memory_abort();
  std::memcpy(node->path, path, length + 1);
  node->state.store(Live);
  PathNode* head = Paths.load();
  do node->next = head;
  while (!Paths.compare_exchange_weak(head, node));
  return node;
}

// Async-signal-safe: atomics, unlink and rmdir only. A folder goes after
// the files, whatever the order they were registered in, and only when it
// is empty then: a private folder of the run holds only the run's files.
void remove_registered_paths() {
  for (PathNode* node = Paths.load(); node != nullptr; node = node->next) {
    int expected = Live;
    if (node->state.compare_exchange_strong(expected, Removing) && unlink(node->path) != 0 &&
        errno != ENOENT)
      node->state.store(Emptied);  // a folder (EISDIR, or EPERM elsewhere than Linux)
  }
  for (PathNode* node = Paths.load(); node != nullptr; node = node->next)
    if (node->state.load() == Emptied) rmdir(node->path);
}

// ---- Holds and the pending signal ----

// One word: the number of live holds in the low 32 bits, the signal waiting
// for them to end in the next 8, and a flag once a stop is under way.
constexpr std::uint64_t HoldMask = 0xffffffffu;
constexpr int SignalShift = 32;
constexpr std::uint64_t SignalMask = std::uint64_t(0xff) << SignalShift;
constexpr std::uint64_t Stopping = std::uint64_t(1) << 40;

std::atomic<std::uint64_t> StopState{0};

std::uint64_t holds(std::uint64_t state) { return state & HoldMask; }
int pending_signal(std::uint64_t state) { return static_cast<int>((state & SignalMask) >> SignalShift); }
std::uint64_t with_signal(int signal) { return std::uint64_t(signal) << SignalShift; }

void block_stop_signals(sigset_t* previous) {
  sigset_t stops;
  sigemptyset(&stops);
  for (int signal : StopSignals) sigaddset(&stops, signal);
  pthread_sigmask(SIG_BLOCK, &stops, previous);
}

// The process is ending by another thread's stop: wait for it, never going
// back to work that the stop may have removed the files of.
[[noreturn]] void wait_for_the_end() {
  for (;;) pause();
}

// Runs once per process, with every stop signal blocked on this thread, so
// that a second one neither interrupts it nor is lost: it stays pending, or
// waits in another thread's handler, until the process ends by the first.
[[noreturn]] void stop_by(int signal) {
  remove_registered_paths();
  remove_openmp_registration();
  struct sigaction fallback;
  std::memset(&fallback, 0, sizeof fallback);
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  sigaction(signal, &fallback, nullptr);
  sigset_t just_this;
  sigemptyset(&just_this);
  sigaddset(&just_this, signal);
  raise(signal);
  pthread_sigmask(SIG_UNBLOCK, &just_this, nullptr);
  // Only a signal that the default action ignores could return here; none
  // of the stop signals is one.
  _exit(128 + signal);
}

void on_stop_signal(int signal) {
  const int saved_errno = errno;
  std::uint64_t state = StopState.load();
  for (;;) {
    if (state & Stopping) wait_for_the_end();
    if (holds(state) == 0) {
      if (StopState.compare_exchange_weak(state, Stopping | with_signal(signal))) stop_by(signal);
    } else if (pending_signal(state) != 0) {
      break;  // the first signal waiting is the one the process ends by
    } else if (StopState.compare_exchange_weak(state, state | with_signal(signal))) {
      break;
    }
  }
  errno = saved_errno;
}

// The signals whose handler catch_stop_signals installed, one bit each,
// and those the process was started with ignored.
std::atomic<std::uint64_t> Caught{0};
std::atomic<std::uint64_t> Ignored{0};

struct sigaction stop_action() {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = on_stop_signal;
  sigemptyset(&action.sa_mask);
  for (int signal : StopSignals) sigaddset(&action.sa_mask, signal);
  // A held signal returns into the program: its reads and writes go on.
  action.sa_flags = SA_RESTART;
  return action;
}

// The SIGALRM handler a library installed while the stop's was in place.
std::atomic<library_signal_handler> LibraryAlarm{nullptr};

bool alarm_caught() { return (Caught.load() & (std::uint64_t(1) << SIGALRM)) != 0; }

// An alarm() that expires is sent by the kernel; kill(), raise() and
// sigqueue() send from a process.
void on_shared_alarm(int signal, siginfo_t* info, void* context) {
  const library_signal_handler library = LibraryAlarm.load();
  if (info == nullptr || info->si_code != SI_KERNEL || library == nullptr) return on_stop_signal(signal);
  // The library's handler runs as it would have: once, and with the
  // signals let through that were before, since it leaves by a jump. Its
  // once is followed by the stop's handler, not the default action: the
  // rest of the library's open is still part of the run.
  const struct sigaction stop = stop_action();
  sigaction(signal, &stop, nullptr);
  pthread_sigmask(SIG_SETMASK, &static_cast<ucontext_t*>(context)->uc_sigmask, nullptr);
  library(signal);
}

}  // namespace

library_signal_handler install_library_signal_handler(int signal, library_signal_handler handler) {
  struct sigaction action, previous;
  std::memset(&action, 0, sizeof action);
  std::memset(&previous, 0, sizeof previous);
  const library_signal_handler shared = LibraryAlarm.load();
  const bool own_handler = handler != SIG_DFL && handler != SIG_IGN && handler != SIG_ERR;
  const bool ignored = signal < 64 && (Ignored.load() & (std::uint64_t(1) << signal)) != 0;
  if (signal == SIGALRM && own_handler && alarm_caught()) {
    LibraryAlarm.store(handler);
    action = stop_action();
    action.sa_flags |= SA_SIGINFO;
    action.sa_sigaction = on_shared_alarm;
  } else if (signal == SIGALRM && handler == SIG_DFL && alarm_caught()) {
    // The library's handler done with, by which its reads end: the
    // signal stops the run again at once, as before the read.
    LibraryAlarm.store(nullptr);
    action = stop_action();
  } else if (handler == SIG_DFL && ignored) {
    // A signal the run was started with ignored stays so.
    action.sa_handler = SIG_IGN;
    sigemptyset(&action.sa_mask);
  } else {
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND | SA_NODEFER;
  }
  if (sigaction(signal, &action, &previous) != 0) return SIG_ERR;
  // The handlers of the stop stand for the action the library would have
  // left itself: its own handler while it is shared, else the default.
  if ((previous.sa_flags & SA_SIGINFO) != 0 && previous.sa_sigaction == on_shared_alarm) return shared;
  return previous.sa_handler == on_stop_signal ? SIG_DFL : previous.sa_handler;
}

void catch_stop_signals() {
  const struct sigaction action = stop_action();
  for (int signal : StopSignals) {
    struct sigaction current;
    if (sigaction(signal, nullptr, &current) != 0) continue;
    if (current.sa_handler == SIG_IGN) {
      Ignored.fetch_or(std::uint64_t(1) << signal);
      continue;
    }
    if (sigaction(signal, &action, nullptr) == 0) Caught.fetch_or(std::uint64_t(1) << signal);
  }
}

void restore_stop_signals() {
  const std::uint64_t caught = Caught.load();
  if (caught == 0) return;
  // A stop under way has put its signal back to the default action, by
  // which it ends the process: that one is not to be replaced.
  const StopSignalsHeld hold;
  const struct sigaction action = stop_action();
  for (int signal : StopSignals) {
    struct sigaction current;
    if ((caught & (std::uint64_t(1) << signal)) == 0 || sigaction(signal, nullptr, &current) != 0) continue;
    if (current.sa_handler != on_stop_signal) sigaction(signal, &action, nullptr);
  }
}

bool stop_under_way() { return (StopState.load() & Stopping) != 0; }

long stop_removes(const char* path) { return reinterpret_cast<long>(claim_node(path)); }

void stop_forget(long handle) {
  if (handle == 0) return;
  int expected = Live;
  // Fails only when a stop has claimed the path: it removes it either way.
  reinterpret_cast<PathNode*>(handle)->state.compare_exchange_strong(expected, Free);
}

StopSignalsHeld::StopSignalsHeld() {
  std::uint64_t state = StopState.load();
  for (;;) {
    if (state & Stopping) wait_for_the_end();
    if (StopState.compare_exchange_weak(state, state + 1)) return;
  }
}

StopSignalsHeld::~StopSignalsHeld() {
  std::uint64_t state = StopState.load();
  for (;;) {
    if (holds(state) == 1 && pending_signal(state) != 0) {
      // The stop runs here, on this thread, as it would in the handler:
      // with the stop signals blocked from before it is under way.
      sigset_t previous;
      block_stop_signals(&previous);
      const int signal = pending_signal(state);
      if (StopState.compare_exchange_strong(state, Stopping | with_signal(signal))) stop_by(signal);
      pthread_sigmask(SIG_SETMASK, &previous, nullptr);
      continue;
    }
    if (StopState.compare_exchange_weak(state, state - 1)) return;
  }
}
