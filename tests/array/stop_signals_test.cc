// Stops by signal, each in a child that the signal ends: the child dies by
// that very signal after the files registered with it are gone, and only
// those; a signal held by a StopSignalsHeld takes effect at the end of the
// last one; a signal ignored at the start stays ignored; a second signal
// during the stop neither repeats it nor returns into the program; and a
// thread that keeps registering and forgetting files while the signal
// arrives leaves none of them behind; a thread whose file the stop took away
// fails quietly and the process still ends by the signal; a handler a
// library reset is put back, and a library's own alarm handler gets only
// its own alarm.
#include "array/stop_signals.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <csetjmp>

#include <atomic>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "array/fatal.h"
#include "array/vms.h"

namespace {

namespace fs = std::filesystem;

const struct {
  int signal;
  const char* name;
} StopSignalTable[] = {{SIGINT, "SIGINT"},
                       {SIGTERM, "SIGTERM"},
                       {SIGHUP, "SIGHUP"},
                       {SIGQUIT, "SIGQUIT"},
                       {SIGPIPE, "SIGPIPE"},
                       {SIGUSR1, "SIGUSR1"},
                       {SIGUSR2, "SIGUSR2"},
                       {SIGALRM, "SIGALRM"},
                       {SIGXCPU, "SIGXCPU"}};

// The child's start: the stop signals as a shell leaves them to a job in the
// foreground (or `ignored` ignored, as nohup leaves SIGHUP), no core file
// for SIGQUIT, and then the handlers.
void start_child(int ignored = 0) {
  const rlimit no_core{0, 0};
  setrlimit(RLIMIT_CORE, &no_core);
  sigset_t stops;
  sigemptyset(&stops);
  for (const auto& s : StopSignalTable) {
    sigaddset(&stops, s.signal);
    signal_catch(s.signal, s.signal == ignored ? SIG_IGN : SIG_DFL);
  }
  pthread_sigmask(SIG_UNBLOCK, &stops, nullptr);
  catch_stop_signals();
}

void make_file(const std::string& path) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
  if (fd < 0) _exit(3);  // the parent sees the child end by no signal
  close(fd);
}

// Registered, then made, as the program's own files are.
long make_registered(const std::string& path) {
  const StopSignalsHeld held;
  const long handle = stop_removes(path.c_str());
  make_file(path);
  return handle;
}

class StopSignals : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = ::testing::TempDir() + "qz_stop_XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string path(const std::string& name) const { return dir_ + "/" + name; }
  bool exists(const std::string& name) const { return access(path(name).c_str(), F_OK) == 0; }
  // Empties the folder between the cases of a table.
  void clear() {
    for (const auto& entry : fs::directory_iterator(dir_)) fs::remove_all(entry.path());
  }
  std::vector<std::string> names() const {
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(dir_))
      found.push_back(entry.path().filename().string());
    return found;
  }
  // In a child: registers `files` files, then stops by SIGTERM on this
  // thread while `threads` others run `act` as soon as they see the first
  // of the files go, the stop still removing the rest.
  void stop_while_threads_see_files_go(int files, int threads, const std::function<void()>& act) {
    start_child();
    for (int k = 0; k < files; k++) make_registered(path("f" + std::to_string(k)));
    std::vector<std::thread> watchers;
    for (int t = 0; t < threads; t++)
      watchers.emplace_back([&] {
        while (exists("f0") && exists("f" + std::to_string(files - 1))) std::this_thread::yield();
        act();
      });
    raise(SIGTERM);
    for (auto& t : watchers) t.join();
    _exit(0);
  }
  std::string dir_;
};

}  // namespace

TEST_F(StopSignals, EachEndsTheProcessByItselfAfterRemovingTheRegisteredFilesOnly) {
  // A path longer than any node made so far: a forgotten node too small to
  // hold it must not take it, cut.
  const std::string deep = std::string(200, 'd');
  for (const auto& s : StopSignalTable) {
    ASSERT_EQ(mkdir(path(deep).c_str(), 0700), 0);
    const std::string long_name = deep + "/" + std::string(200, 'e');
    EXPECT_EXIT(
        {
          start_child();
          make_registered(path("first"));
          stop_forget(make_registered(path("forgotten")));
          make_registered(path(long_name));
          make_registered(path("last"));
          make_file(path("unregistered"));
          raise(s.signal);
          make_file(path("returned"));
          _exit(0);
        },
        ::testing::KilledBySignal(s.signal), "")
        << s.name;
    EXPECT_FALSE(exists("first")) << s.name;
    EXPECT_FALSE(exists(long_name)) << s.name;
    EXPECT_FALSE(exists("last")) << s.name;
    EXPECT_TRUE(exists("forgotten")) << s.name;
    EXPECT_TRUE(exists("unregistered")) << s.name;
    EXPECT_FALSE(exists("returned")) << s.name;
    clear();
  }
}

TEST_F(StopSignals, AFolderGoesAfterTheFilesInItAndOnlyWhenEmptyThen) {
  // Each folder registered after the file in it, so that it comes first to
  // a stop that takes the paths in any order.
  EXPECT_EXIT(
      {
        start_child();
        for (const char* folder : {"private", "shared"}) {
          const StopSignalsHeld held;
          stop_removes(path(std::string(folder) + "/staged").c_str());
          stop_removes(path(folder).c_str());
          mkdir(path(folder).c_str(), 0700);
          make_file(path(std::string(folder) + "/staged"));
        }
        make_file(path("shared/unregistered"));
        raise(SIGTERM);
      },
      ::testing::KilledBySignal(SIGTERM), "");
  EXPECT_EQ(names(), std::vector<std::string>{"shared"});
  EXPECT_TRUE(exists("shared/unregistered"));
  EXPECT_FALSE(exists("shared/staged"));
}

TEST_F(StopSignals, IgnoredAtTheStartStaysIgnoredWhileTheOthersStop) {
  for (const auto& s : StopSignalTable) {
    const int other = s.signal == SIGTERM ? SIGINT : SIGTERM;
    EXPECT_EXIT(
        {
          start_child(s.signal);
          make_registered(path("registered"));
          raise(s.signal);
          make_file(path("went_on"));
          raise(other);
          _exit(0);
        },
        ::testing::KilledBySignal(other), "")
        << s.name;
    EXPECT_TRUE(exists("went_on")) << s.name;
    EXPECT_FALSE(exists("registered")) << s.name;
    clear();
  }
}

// A library that resets a caught signal to its default action (the FITS
// library's network reads leave SIGALRM so) has it caught again by
// restore_stop_signals, while a signal ignored at the start stays ignored;
// a process that never caught them keeps its own dispositions.
TEST_F(StopSignals, RestoredAfterALibraryResetsThemWhileIgnoredOnesStayIgnored) {
  for (const auto& s : StopSignalTable) {
    const int ignored = s.signal == SIGHUP ? SIGINT : SIGHUP;
    EXPECT_EXIT(
        {
          start_child(ignored);
          make_registered(path("registered"));
          signal_catch(s.signal, SIG_DFL);
          restore_stop_signals();
          raise(ignored);
          make_file(path("went_on"));
          raise(s.signal);
          _exit(0);
        },
        ::testing::KilledBySignal(s.signal), "")
        << s.name;
    EXPECT_TRUE(exists("went_on")) << s.name;
    EXPECT_FALSE(exists("registered")) << s.name;
    clear();
  }
  EXPECT_EXIT(
      {
        signal_catch(SIGALRM, SIG_IGN);
        restore_stop_signals();
        raise(SIGALRM);
        _exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

namespace {

// Ways to raise a signal while stops are held. Each makes "in_hold" after
// the signal and while still held, and "after_hold" once it is no longer.
struct HeldCase {
  const char* name;
  std::function<void(const std::function<std::string(const char*)>&)> run;
  int dies_by;
};

}  // namespace

TEST_F(StopSignals, AHeldSignalTakesEffectWhenTheLastHoldEnds) {
  const HeldCase cases[] = {
      {"one hold",
       [](const auto& at) {
         {
           const StopSignalsHeld held;
           raise(SIGTERM);
           make_file(at("in_hold"));
         }
         make_file(at("after_hold"));
       },
       SIGTERM},
      {"nested holds",
       [](const auto& at) {
         {
           const StopSignalsHeld outer;
           {
             const StopSignalsHeld inner;
             raise(SIGTERM);
           }
           make_file(at("in_hold"));
         }
         make_file(at("after_hold"));
       },
       SIGTERM},
      {"two signals held: the first one ends the process",
       [](const auto& at) {
         {
           const StopSignalsHeld held;
           raise(SIGHUP);
           raise(SIGINT);
           make_file(at("in_hold"));
         }
         make_file(at("after_hold"));
       },
       SIGHUP},
      {"held on another thread",
       [](const auto& at) {
         std::atomic<int> step{0};
         std::thread holder([&] {
           {
             const StopSignalsHeld held;
             step = 1;
             while (step != 2) std::this_thread::yield();
             make_file(at("in_hold"));
           }
           make_file(at("after_hold"));
         });
         while (step != 1) std::this_thread::yield();
         // Delivered to this thread, which holds nothing.
         raise(SIGTERM);
         step = 2;
         holder.join();
       },
       SIGTERM},
      {"a second signal while the stop runs at the end of the hold",
       [](const auto& at) {
         // The stop run by the hold's end must block the stop signals
         // first: a second one taken by its thread meanwhile would wait
         // there for the end of a stop that it has interrupted. Such a
         // hang ends the child with status 99.
         std::thread([] {
           sleep(20);
           _exit(99);
         }).detach();
         constexpr int Files = 2000;
         for (int k = 0; k < Files; k++) make_registered(at(("f" + std::to_string(k)).c_str()));
         const std::string first = at("f0"), last = at(("f" + std::to_string(Files - 1)).c_str());
         const pthread_t holder = pthread_self();
         {
           const StopSignalsHeld held;
           raise(SIGTERM);
           make_file(at("in_hold"));
           std::thread([=] {
             while (access(first.c_str(), F_OK) == 0 && access(last.c_str(), F_OK) == 0)
               std::this_thread::yield();
             pthread_kill(holder, SIGINT);
           }).detach();
         }
         make_file(at("after_hold"));
       },
       SIGTERM},
  };
  for (const auto& c : cases) {
    EXPECT_EXIT(
        {
          start_child();
          make_registered(path("registered"));
          c.run([&](const char* name) { return path(name); });
          _exit(0);
        },
        ::testing::KilledBySignal(c.dies_by), "")
        << c.name;
    EXPECT_TRUE(exists("in_hold")) << c.name;
    EXPECT_FALSE(exists("after_hold")) << c.name;
    EXPECT_FALSE(exists("registered")) << c.name;
    clear();
  }
}

TEST_F(StopSignals, ASecondSignalDuringTheStopNeitherRepeatsItNorReturns) {
  // Enough files that the stop lasts while other threads, which see the
  // first of them go, raise a second signal each on itself: a stop of
  // theirs would race the first to end the process by its own signal, and
  // win some of the rounds.
  constexpr int Files = 2000, Seconds = 4, Rounds = 5;
  for (int round = 0; round < Rounds; round++) {
    EXPECT_EXIT(
        stop_while_threads_see_files_go(Files, Seconds, [&] {
          raise(SIGINT);
          make_file(path("returned"));
        }),
        ::testing::KilledBySignal(SIGTERM), "") << "round " << round;
    EXPECT_EQ(names(), std::vector<std::string>{}) << "round " << round;
    clear();
  }
}

TEST_F(StopSignals, FilesRegisteredAndForgottenOnAnotherThreadDuringTheStopAreAllGone) {
  // A thread keeps registering and making files, removing and forgetting
  // most of them (so that their nodes are taken again) and keeping every
  // seventh, while the signal arrives on the main thread or on itself.
  const struct {
    bool to_worker;
    const char* name;
  } cases[] = {{false, "signal on the main thread"}, {true, "signal on the registering thread"}};
  for (const auto& c : cases) {
    EXPECT_EXIT(
        {
          start_child();
          make_file(path("unregistered"));
          std::atomic<long> rounds{0};
          std::thread worker([&] {
            for (long k = 0;; k++) {
              const std::string name = path("w" + std::to_string(k));
              const long handle = make_registered(name);
              if (k % 7 != 0) {
                unlink(name.c_str());
                stop_forget(handle);
              }
              rounds = k;
            }
          });
          while (rounds < 2000) std::this_thread::yield();
          if (c.to_worker) pthread_kill(worker.native_handle(), SIGTERM);
          else raise(SIGTERM);
          worker.join();
          _exit(0);
        },
        ::testing::KilledBySignal(SIGTERM), "")
        << c.name;
    EXPECT_EQ(names(), std::vector<std::string>{"unregistered"}) << c.name;
    clear();
  }
}

TEST_F(StopSignals, AFailureCausedByTheStopIsNeitherReportedNorTheEnd) {
  // Threads writing files of the run find them gone while the stop is still
  // removing the others, and fail as a write would. Ending the process by
  // that failure would beat the stop to it: a status of 1 instead of the
  // signal, a message about a file the user never lost, and the rest of
  // the files left behind.
  constexpr int Files = 300, Writers = 4, Rounds = 5;
  for (int round = 0; round < Rounds; round++) {
    EXPECT_EXIT(
        stop_while_threads_see_files_go(Files, Writers, [&] {
          // The report leaves a file, which the stop would not remove.
          fatal_report(1, [&] { make_file(path("reported")); });
        }),
        ::testing::KilledBySignal(SIGTERM), "")
        << "round " << round;
    EXPECT_EQ(names(), std::vector<std::string>{}) << "round " << round;
    clear();
  }
}

namespace {

// A network library's time-out, as the FITS library's: its SIGALRM handler
// abandons the read by a jump back to where it was armed.
jmp_buf LibraryRead;
void library_time_out(int) { longjmp(LibraryRead, 1); }

// In a child: a library's read during which `send` sends SIGALRM; the child
// makes `timed_out` once the library's handler has jumped back, and then
// raises SIGINT. `unheld` lets SIGINT through first, for a handler that no
// stop handler wraps: the thread checker's runtime holds every signal while
// a handler runs, and a jump out of it leaves them held.
[[noreturn]] void library_read(void (*send)(), const std::string& timed_out, bool unheld = false) {
  if (setjmp(LibraryRead) == 0) {
    install_library_signal_handler(SIGALRM, library_time_out);
    send();
    for (;;) pause();
  }
  install_library_signal_handler(SIGALRM, SIG_DFL);
  restore_stop_signals();
  make_file(timed_out);
  if (unheld) {
    sigset_t interrupt;
    sigemptyset(&interrupt);
    sigaddset(&interrupt, SIGINT);
    sigprocmask(SIG_UNBLOCK, &interrupt, nullptr);
  }
  raise(SIGINT);
  _exit(0);
}

void expire_soon() {
  const itimerval soon{{0, 0}, {0, 20000}};
  setitimer(ITIMER_REAL, &soon, nullptr);
}
void send_by_kill() { kill(getpid(), SIGALRM); }
void send_by_raise() { raise(SIGALRM); }

}  // namespace

// The rest of a library's open, after its own alarm has fired and after it
// asks for the default action, is part of the run: a SIGALRM sent then
// stops it and removes its files. A SIGALRM the run was started with
// ignored is ignored again once the library is done with it.
namespace {

// In a child: the library's own alarm fires, then, after it asks for the
// default action when `asks_default`, a process sends SIGALRM.
[[noreturn]] void sent_after_time_out(bool asks_default) {
  if (setjmp(LibraryRead) == 0) {
    install_library_signal_handler(SIGALRM, library_time_out);
    expire_soon();
    for (;;) pause();
  }
  if (asks_default && install_library_signal_handler(SIGALRM, SIG_DFL) != SIG_DFL) _exit(4);
  kill(getpid(), SIGALRM);
  _exit(0);
}

}  // namespace

TEST_F(StopSignals, AfterALibrarysTimeOutASentAlarmStillStops) {
  for (const bool asks_default : {false, true}) {
    EXPECT_EXIT(
        {
          start_child();
          make_registered(path("registered"));
          sent_after_time_out(asks_default);
        },
        ::testing::KilledBySignal(SIGALRM), "")
        << (asks_default ? "after the default action" : "after its alarm");
    EXPECT_FALSE(exists("registered"));
    clear();
  }
  EXPECT_EXIT(
      {
        start_child(SIGALRM);
        EXPECT_EQ(install_library_signal_handler(SIGALRM, library_time_out), SIG_IGN);
        EXPECT_EQ(install_library_signal_handler(SIGALRM, SIG_DFL), library_time_out);
        raise(SIGALRM);
        _exit(3);
      },
      ::testing::ExitedWithCode(3), "");
}

TEST_F(StopSignals, ALibrarysAlarmHandlerGetsItsOwnAlarmOnlyWhileASentOneStops) {
  // The alarm that expires is the library's to handle; the program goes on
  // after it and still stops by a later signal, which the library's jump
  // must not leave held. A SIGALRM sent by a process (a batch system's time
  // limit, by kill or raise) stops the run instead of passing for the
  // library's time-out.
  const struct {
    const char* name;
    void (*send)();
    int dies_by;
  } cases[] = {{"its own alarm, then SIGINT", expire_soon, SIGINT},
               {"kill", send_by_kill, SIGALRM},
               {"raise", send_by_raise, SIGALRM}};
  for (const auto& c : cases) {
    EXPECT_EXIT(
        {
          start_child();
          make_registered(path("registered"));
          library_read(c.send, path("timed_out"));
        },
        ::testing::KilledBySignal(c.dies_by), "")
        << c.name;
    EXPECT_EQ(exists("timed_out"), c.dies_by == SIGINT) << c.name;
    EXPECT_FALSE(exists("registered")) << c.name;
    clear();
  }
  // Without the stop's handlers, the library's takes every SIGALRM, as
  // signal() would give it: the child goes on to end by SIGINT.
  EXPECT_EXIT(
      {
        signal_catch(SIGALRM, SIG_DFL);
        signal_catch(SIGINT, SIG_DFL);
        library_read(send_by_kill, path("timed_out"), true);
      },
      ::testing::KilledBySignal(SIGINT), "");
  EXPECT_TRUE(exists("timed_out"));
}
