// qz_mca stopped by its user while it works, with swap files and staged
// results on disk: killed, hung up on, warned or timed out by a batch system, or
// writing to a reader that has gone, it ends by that signal (as the shell must
// see it), leaves none of its own files behind, and the earlier results of the
// same names are untouched.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "array/vms.h"
#include "support/forked_child.h"
#include "support/loopback_http.h"
#include "support/qz_mca_program.h"
#include "support/test_images.h"

namespace {

namespace fs = std::filesystem;

// Results of the run below, each already there with text that is no image.
const char* const Results[] = {"result.fits", "result_atrou.fits", "result_cur.fits",
                               "result_resi.fits"};
const char* const Before = "the result of an earlier run\n";

// Long enough to be stopped: a thousand iterations of two bases on swap
// memory past 1 MB of RAM. -w writes debug images all along, each staged
// beside its place while it is written.
const std::vector<std::string> LongRun = {"-t", "1", "-t", "4", "-w", "-Z", "1:swap", "in.fits",
                                          "result.fits"};

// The bounded waits for the run to reach a state; never reached in a
// correct run but for a machine stalled for minutes.
constexpr int PollsPerSecond = 100;
constexpr int WaitSeconds = 120;

bool own_file(const std::string& name) {
  return name.find(".qz_mca-") != std::string::npos || name.rfind("vmswap_", 0) == 0;
}

class QzMcaSignal : public QzMcaProgram {
 protected:
  void SetUp() override {
    QzMcaProgram::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_EQ(mkdir(path("swap").c_str(), 0700), 0);
    write_fits(path("in.fits"), FitsImage(striped_bump_image(256, 5)));
    for (const char* name : Results) std::ofstream(path(name)) << Before;
  }

  // Starts the program in the test's folder with the stop signals as a
  // shell leaves them to a job in the foreground, its standard output to
  // `out` (a descriptor) or to a file, its standard error to a file.
  pid_t start(const std::vector<std::string>& args, int out = -1) {
    const std::string log = path("program_output.txt");
    const pid_t child = fork();
    if (child != 0) return child;
    const int file = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (chdir(dir_.c_str()) != 0 || file < 0) _exit(127);
    dup2(out >= 0 ? out : file, STDOUT_FILENO);
    dup2(file, STDERR_FILENO);
    // No core file for SIGXCPU.
    const rlimit no_core{0, 0};
    setrlimit(RLIMIT_CORE, &no_core);
    sigset_t stops;
    sigemptyset(&stops);
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGUSR1, SIGUSR2, SIGALRM, SIGXCPU}) {
      signal_catch(s, SIG_DFL);
      sigaddset(&stops, s);
    }
    sigprocmask(SIG_UNBLOCK, &stops, nullptr);
    std::vector<char*> argv = {const_cast<char*>(program_.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(program_.c_str(), argv.data());
    _exit(127);
  }

  // The program's own files in its folder and its swap folder.
  std::vector<std::string> own_files() const {
    std::vector<std::string> found;
    for (const std::string& dir : {dir_, path("swap")})
      for (const auto& entry : fs::directory_iterator(dir))
        if (own_file(entry.path().filename().string())) found.push_back(entry.path().string());
    return found;
  }

  bool present(const std::string& part) const {
    for (const std::string& name : own_files())
      if (name.find(part) != std::string::npos) return true;
    return false;
  }

  // Whether a file of the run whose name holds `part` appeared while the
  // program `child` ran.
  bool appeared(pid_t child, const std::string& part) const {
    for (int k = 0; k < WaitSeconds * PollsPerSecond; k++) {
      if (present(part)) return true;
      siginfo_t ended{};
      // Asked without reaping it, so that end_of still finds its status.
      if (waitid(P_PID, child, &ended, WEXITED | WNOHANG | WNOWAIT) != 0 || ended.si_pid != 0)
        return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1000 / PollsPerSecond));
    }
    return false;
  }

  // Whether `child` could be frozen (SIGSTOP) while a file of the run whose
  // name holds `part` exists: a file that lives only while it is written
  // then stays for the signal to find.
  bool frozen_with(pid_t child, const std::string& part) const {
    for (int k = 0; k < WaitSeconds * PollsPerSecond; k++) {
      if (!appeared(child, part)) return false;
      kill(child, SIGSTOP);
      siginfo_t state{};
      if (waitid(P_PID, child, &state, WSTOPPED | WEXITED | WNOWAIT) != 0 ||
          state.si_code != CLD_STOPPED)
        return false;
      if (present(part)) return true;
      kill(child, SIGCONT);
    }
    return false;
  }

  // The program's status as waitpid gives it; one that does not end in
  // the bounded wait is killed, so that it shows as killed by SIGKILL.
  int end_of(pid_t child) {
    int status = 0;
    for (int k = 0; k < WaitSeconds * PollsPerSecond; k++) {
      const pid_t ended = waitpid(child, &status, WNOHANG);
      if (ended == child) {
        test_support::remove_runtime_registration(child);
        return status;
      }
      if (ended < 0) return -1;
      std::this_thread::sleep_for(std::chrono::milliseconds(1000 / PollsPerSecond));
    }
    kill(child, SIGKILL);
    test_support::reap_child(child, &status);
    return status;
  }

  std::string log() const {
    std::ifstream in(path("program_output.txt"));
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  void expect_nothing_of_the_run_left(const std::string& label) {
    EXPECT_EQ(own_files(), std::vector<std::string>{}) << label;
    for (const char* name : Results) {
      std::ifstream in(path(name));
      std::stringstream text;
      text << in.rdbuf();
      EXPECT_EQ(text.str(), Before) << label << ": " << name;
    }
    // A sanitizer's report would not change the status of a killed program.
    EXPECT_EQ(log().find("ThreadSanitizer"), std::string::npos) << label << "\n" << log();
  }
};

// Serves `body` as /in.fits over HTTP on the loopback interface, on a port
// of its own, until it goes; any other path is not found. Each request is
// waited for at most a few seconds. A server that stalls sends the headers
// and the first bytes of the body, then nothing more until the client
// closes the connection, the server hangs up or goes (a minute at most).
class LoopbackHttp {
 public:
  explicit LoopbackHttp(std::string body, bool stalls = false) : body_(std::move(body)), stalls_(stalls) {
    listener_ = test_support::listen_on_loopback(port_);
    if (port_ > 0) server_ = std::thread([this] { serve(); });
  }
  ~LoopbackHttp() {
    stop_ = true;
    if (server_.joinable()) server_.join();
    if (listener_ >= 0) close(listener_);
  }
  int port() const { return port_; }
  // Whether a client has been kept waiting for the body, its connection
  // still open well after the first bytes: reading it, not looking at the
  // headers only.
  bool stalled() const { return stalled_; }
  // Ends the stalled connection, so that the client's read returns.
  void hang_up() { hung_up_ = true; }

 private:
  void serve() {
    while (!stop_) {
      pollfd waiting{listener_, POLLIN, 0};
      if (poll(&waiting, 1, 100) <= 0) continue;
      const int client = accept(listener_, nullptr, nullptr);
      if (client < 0) continue;
      const timeval limit{5, 0};
      setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
      std::string request;
      char buffer[4096];
      while (request.find("\r\n\r\n") == std::string::npos) {
        const ssize_t got = recv(client, buffer, sizeof buffer, 0);
        if (got <= 0) break;
        request.append(buffer, static_cast<std::size_t>(got));
      }
      const bool found = request.rfind("GET /in.fits ", 0) == 0;
      const std::string head = "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body_.size()) + "\r\n\r\n";
      const std::string reply = !found ? std::string("HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n")
                                : stalls_ ? head + body_.substr(0, 80)
                                          : head + body_;
      for (std::size_t sent = 0; sent < reply.size();) {
        const ssize_t put = send(client, reply.data() + sent, reply.size() - sent, MSG_NOSIGNAL);
        if (put <= 0) break;
        sent += static_cast<std::size_t>(put);
      }
      if (found && stalls_) wait_for_the_client_to_go(client);
      close(client);
    }
  }

  void wait_for_the_client_to_go(int client) {
    constexpr int PollMilliseconds = 100, StalledAfterPolls = 5, MaxPolls = 600;
    char byte = 0;
    for (int k = 0; k < MaxPolls && !stop_ && !hung_up_; k++) {
      pollfd open{client, POLLIN, 0};
      if (poll(&open, 1, PollMilliseconds) > 0 && recv(client, &byte, 1, 0) <= 0) return;
      if (k == StalledAfterPolls) stalled_ = true;
    }
  }

  std::string body_;
  bool stalls_ = false;
  std::atomic<bool> stalled_{false}, hung_up_{false};
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread server_;
};

}  // namespace

TEST_F(QzMcaSignal, AStopRemovesTheRunsFilesAndEndsByItsSignal) {
  // Stopped while swap files exist, and while an image is written staged.
  const struct {
    int signal;
    const char* waits_for;
    const char* name;
  } cases[] = {{SIGTERM, "vmswap_", "SIGTERM with swap files"},
               {SIGINT, ".qz_mca-", "SIGINT with a staged image"},
               {SIGHUP, ".qz_mca-", "SIGHUP with a staged image"},
               // A batch system's warnings and time limits.
               {SIGUSR1, "vmswap_", "SIGUSR1 with swap files"},
               {SIGUSR2, ".qz_mca-", "SIGUSR2 with a staged image"},
               {SIGALRM, "vmswap_", "SIGALRM with swap files"},
               {SIGXCPU, ".qz_mca-", "SIGXCPU with a staged image"}};
  for (const auto& c : cases) {
    const pid_t child = start(LongRun);
    ASSERT_GT(child, 0);
    const bool started = frozen_with(child, c.waits_for);
    kill(child, c.signal);
    kill(child, SIGCONT);
    const int status = end_of(child);
    ASSERT_TRUE(started) << c.name << "\n" << log();
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.signal)
        << c.name << ": status " << status << "\n" << log();
    expect_nothing_of_the_run_left(c.name);
    for (const std::string& left : own_files()) unlink(left.c_str());
  }
}

TEST_F(QzMcaSignal, AReaderThatClosesItsPipeStopsAVerboseRun) {
  // `qz_mca -v ... | head -1`: the program learns of the closed pipe by
  // SIGPIPE at its next write of what it prints per iteration.
  int pipe_ends[2];
  // Closed on exec, so that the program holds no reading end of its own.
  ASSERT_EQ(pipe2(pipe_ends, O_CLOEXEC), 0);
  std::vector<std::string> args = LongRun;
  args.insert(args.begin(), "-v");
  const pid_t child = start(args, pipe_ends[1]);
  ASSERT_GT(child, 0);
  close(pipe_ends[1]);
  const bool swapping = appeared(child, "vmswap_");
  char byte = 0;
  while (read(pipe_ends[0], &byte, 1) == 1 && byte != '\n') {
  }
  close(pipe_ends[0]);
  const int status = end_of(child);
  ASSERT_TRUE(swapping) << log();
  EXPECT_EQ(byte, '\n');
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGPIPE) << "status " << status << "\n"
                                                                  << log();
  expect_nothing_of_the_run_left("SIGPIPE");
}

// The FITS library times a network read with SIGALRM and leaves the signal
// at its default action afterwards: the stop's handler is put back, so that
// a batch system's time limit later in the run still removes its files.
TEST_F(QzMcaSignal, AnAlarmAfterANetworkReadStillRemovesTheRunsFiles) {
  std::ifstream in(path("in.fits"), std::ios::binary);
  std::stringstream image;
  image << in.rdbuf();
  const LoopbackHttp server(image.str());
  ASSERT_GT(server.port(), 0) << "no port on the loopback interface";
  std::vector<std::string> args = LongRun;
  args[args.size() - 2] = "http://127.0.0.1:" + std::to_string(server.port()) + "/in.fits";
  const pid_t child = start(args);
  ASSERT_GT(child, 0);
  const bool started = frozen_with(child, "vmswap_");
  kill(child, SIGALRM);
  kill(child, SIGCONT);
  const int status = end_of(child);
  ASSERT_TRUE(started) << log();
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM) << "status " << status << "\n" << log();
  expect_nothing_of_the_run_left("SIGALRM after a network read");
  for (const std::string& left : own_files()) unlink(left.c_str());
}

// A SIGALRM that arrives while the FITS library reads the input over the
// network, its own time-out armed with a handler of its own, is a batch
// system's time limit all the same: the run ends by it, and leaves no file,
// instead of failing the read as if the file did not exist.
TEST_F(QzMcaSignal, AnAlarmDuringANetworkReadEndsTheRunByIt) {
  std::ifstream in(path("in.fits"), std::ios::binary);
  std::stringstream image;
  image << in.rdbuf();
  LoopbackHttp server(image.str(), true);
  ASSERT_GT(server.port(), 0) << "no port on the loopback interface";
  std::vector<std::string> args = LongRun;
  args[args.size() - 2] = "http://127.0.0.1:" + std::to_string(server.port()) + "/in.fits";
  const pid_t child = start(args);
  ASSERT_GT(child, 0);
  bool stalled = false;
  for (int k = 0; k < WaitSeconds * PollsPerSecond && !stalled; k++) {
    siginfo_t ended{};
    if (waitid(P_PID, child, &ended, WEXITED | WNOHANG | WNOWAIT) != 0 || ended.si_pid != 0) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(1000 / PollsPerSecond));
    stalled = server.stalled();
  }
  kill(child, SIGALRM);
  // The thread checker's runtime holds a signal that comes during a read
  // until the read returns.
  server.hang_up();
  const int status = end_of(child);
  ASSERT_TRUE(stalled) << log();
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM) << "status " << status << "\n" << log();
  expect_nothing_of_the_run_left("SIGALRM during a network read");
}
