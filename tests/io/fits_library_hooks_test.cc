// The FITS library's signal(), answered by the program: while the run's stop
// has SIGALRM caught, a SIGALRM that a process sends during a network read
// stops the run instead of passing for the library's time-out. Nothing here
// calls the answer by name: this program gets it as qz_mca does, from the
// build's link options, or not at all; and, for a library built in GNU mode
// (io/signal_calling_library.c), from the options by which the build links
// such a FITS library.
#include <fitsio.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "array/stop_signals.h"
#include "support/forked_child.h"

namespace {

// A loopback HTTP server that answers one request with the start of a file
// and nothing more: whatever the client reads next, it waits for until the
// library's time-out.
class StalledHttp {
 public:
  StalledHttp() {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener_ >= 0 && bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        listen(listener_, 1) == 0 && getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) == 0)
      port_ = ntohs(address.sin_port);
  }
  ~StalledHttp() { hang_up(); }
  StalledHttp(const StalledHttp&) = delete;
  StalledHttp& operator=(const StalledHttp&) = delete;
  int port() const { return port_; }

  // Whether a request came within `seconds` and was answered so.
  bool answer(int seconds) {
    pollfd waiting{listener_, POLLIN, 0};
    if (poll(&waiting, 1, seconds * 1000) != 1) return false;
    client_ = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client_ < 0) return false;
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos) {
      pollfd readable{client_, POLLIN, 0};
      if (poll(&readable, 1, seconds * 1000) != 1) return false;
      const ssize_t got = recv(client_, buffer, sizeof buffer, 0);
      if (got <= 0) return false;
      request.append(buffer, static_cast<std::size_t>(got));
    }
    const std::string reply = "HTTP/1.0 200 OK\r\nContent-Length: 2880\r\n\r\n" + std::string(80, ' ');
    return send(client_, reply.data(), reply.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(reply.size());
  }

  // Ends every connection, so that the client's read returns.
  void hang_up() {
    if (client_ >= 0) close(client_);
    if (listener_ >= 0) close(listener_);
    client_ = listener_ = -1;
  }

 private:
  int listener_ = -1;
  int client_ = -1;
  int port_ = 0;
};

// Whether the process pid, once given data, sleeps again within `seconds`:
// seen asleep at polls 50 ms apart, it waits in its read for the rest.
bool asleep(pid_t pid, int seconds) {
  constexpr int PollMilliseconds = 50, Polls = 3;
  const std::string stat = "/proc/" + std::to_string(pid) + "/stat";
  int seen = 0;
  for (int k = 0; k < seconds * 1000 / PollMilliseconds && seen < Polls; k++) {
    usleep(PollMilliseconds * 1000);
    std::ifstream in(stat);
    std::string line;
    std::getline(in, line);
    // The state follows the command's name, which is in parentheses.
    const std::size_t name_end = line.rfind(')');
    const bool sleeping = name_end != std::string::npos && line.compare(name_end, 3, ") S") == 0;
    seen = sleeping ? seen + 1 : 0;
  }
  return seen == Polls;
}

constexpr int FailedOpen = 3;

TEST(FitsLibraryHooks, ASentAlarmDuringANetworkReadStopsTheRunWhileTheStopHasItCaught) {
  // The build warned that this library's alarm could not be shared.
  if (!QZ_FITS_LIBRARY_SIGNAL_ANSWERED) GTEST_SKIP() << "the FITS library calls no signal() the build answers";
  // Left to the library, the signal is its time-out: the open fails and the
  // child goes on. That case also shows that the signal came while the
  // library's handler was in place.
  const struct {
    const char* name;
    bool caught;
  } cases[] = {{"stop signals caught", true}, {"left to the library", false}};
  for (const auto& c : cases) {
    StalledHttp server;
    ASSERT_GT(server.port(), 0) << "no port on the loopback interface";
    const std::string url = "http://127.0.0.1:" + std::to_string(server.port()) + "/in.fits";
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      server.hang_up();  // the server's end, left to the parent
      if (c.caught) catch_stop_signals();
      fitsfile* file = nullptr;
      int status = 0;
      fits_open_file(&file, url.c_str(), READONLY, &status);
      _exit(status == 0 ? 0 : FailedOpen);
    }
    const bool waiting = server.answer(60) && asleep(child, 60);
    kill(child, SIGALRM);
    // The thread checker's runtime holds a signal that comes during a read
    // until the read returns.
    server.hang_up();
    int status = -1;
    EXPECT_EQ(test_support::reap_child(child, &status), child) << c.name;
    ASSERT_TRUE(waiting) << c.name;
    if (c.caught) {
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM) << c.name << ": status " << status;
    } else {
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == FailedOpen) << c.name << ": status " << status;
    }
  }
}

extern "C" int signal_calling_library_read(void (*wait)());

void send_alarm() { kill(getpid(), SIGALRM); }
void let_the_alarm_expire() {
  const itimerval soon{{0, 0}, {0, 20000}};
  setitimer(ITIMER_REAL, &soon, nullptr);
  for (;;) pause();
}

constexpr int TimedOut = 4;

TEST(FitsLibraryHooks, ALibraryThatCallsSignalByThatNameSharesTheAlarmWithTheStop) {
  // Without the answer, the sent signal would be the library's time-out;
  // left to the library, it is, which shows that it came while the
  // library's handler was in place.
  const struct {
    const char* name;
    bool caught;
    void (*wait)();
    bool stops;
  } cases[] = {{"sent while the stop has it caught", true, send_alarm, true},
               {"its own alarm while the stop has it caught", true, let_the_alarm_expire, false},
               {"sent, left to the library", false, send_alarm, false}};
  for (const auto& c : cases) {
    const auto expected = [&](int status) {
      return c.stops ? WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM
                     : WIFEXITED(status) && WEXITSTATUS(status) == TimedOut;
    };
    EXPECT_EXIT(
        {
          if (c.caught) catch_stop_signals();
          _exit(signal_calling_library_read(c.wait) == 1 ? TimedOut : 0);
        },
        expected, "")
        << c.name;
  }
}

}  // namespace
