// A web server on the loopback interface, on a port of its own, for tests
// that read files by a network name without the outside network. It serves
// the files it was given by path ("/in.fits") until it goes; any other path
// is not found. A silent server takes each request and never answers, as a
// host that does not answer; an endless one sends each file with no length,
// followed by zeros until the client hangs up. A path given a reply gets
// those very bytes (status line, headers and body), then the connection is
// closed: a server's error, a redirect, a body cut short. A server may also
// send slowly, and hold the connection of a given reply open after it, as
// one that stalls.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace test_support {

// A socket listening on the loopback interface, on a port the system
// chooses, which `port` receives (0 when none could be had).
inline int listen_on_loopback(int& port) {
  port = 0;
  const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listener >= 0 && bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      listen(listener, 16) == 0 && getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) == 0)
    port = ntohs(address.sin_port);
  return listener;
}

class LoopbackHttp {
 public:
  explicit LoopbackHttp(std::map<std::string, std::string> files, bool silent = false, bool endless = false,
                        std::map<std::string, std::string> replies = {})
      : files_(std::move(files)), replies_(std::move(replies)), silent_(silent), endless_(endless) {
    listener_ = listen_on_loopback(port_);
    if (port_ > 0) server_ = std::thread([this] { serve(); });
  }
  ~LoopbackHttp() {
    stop_ = true;
    if (server_.joinable()) server_.join();
    if (listener_ >= 0) close(listener_);
  }
  LoopbackHttp(const LoopbackHttp&) = delete;
  LoopbackHttp& operator=(const LoopbackHttp&) = delete;

  int port() const { return port_; }
  // "http://127.0.0.1:<port>/<path>", with `prefix` in place of http://.
  std::string url(const std::string& path, const std::string& prefix = "http://") const {
    return prefix + "127.0.0.1:" + std::to_string(port_) + "/" + path;
  }
  // From now on, each reply goes in pieces of 512 bytes, `pause` apart.
  void pace(std::chrono::milliseconds pause) { pause_ms_ = static_cast<int>(pause.count()); }
  // From now on, a given reply's connection is held open after it, until
  // the client hangs up or the server goes.
  void hold_replies() { hold_ = true; }
  // The paths asked for so far, in order.
  std::vector<std::string> requested() const {
    std::lock_guard<std::mutex> lock(lock_);
    return requested_;
  }

 private:
  void serve() {
    while (!stop_) {
      pollfd waiting{listener_, POLLIN, 0};
      if (poll(&waiting, 1, 100) <= 0) continue;
      const int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) continue;
      std::string request;
      char buffer[4096];
      while (request.find("\r\n\r\n") == std::string::npos && !stop_) {
        pollfd readable{client, POLLIN, 0};
        if (poll(&readable, 1, 100) == 0) continue;
        const ssize_t got = recv(client, buffer, sizeof buffer, 0);
        if (got <= 0) break;
        request.append(buffer, static_cast<std::size_t>(got));
      }
      // "GET /path HTTP/1.1"
      const std::size_t start = request.find(' ') + 1, end = request.find(' ', start);
      const std::string path = start == 0 || end == std::string::npos ? "" : request.substr(start, end - start);
      {
        std::lock_guard<std::mutex> lock(lock_);
        requested_.push_back(path);
      }
      if (silent_) {
        wait_for_hang_up(client);
        close(client);
        continue;
      }
      const auto file = files_.find(path);
      const auto given = replies_.find(path);
      const std::string reply =
          given != replies_.end() ? given->second
          : file == files_.end()  ? std::string("HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n")
          : endless_              ? "HTTP/1.0 200 OK\r\n\r\n" + file->second
                                  : "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(file->second.size()) +
                                        "\r\n\r\n" + file->second;
      bool sent_all = send_all(client, reply);
      const std::string zeros(1 << 16, '\0');
      while (endless_ && file != files_.end() && sent_all) sent_all = send_all(client, zeros);
      if (given != replies_.end() && hold_) wait_for_hang_up(client);
      close(client);
    }
  }

  // Until the client hangs up or the server goes.
  void wait_for_hang_up(int client) {
    char buffer[4096];
    while (!stop_) {
      pollfd open{client, POLLIN, 0};
      if (poll(&open, 1, 100) > 0 && recv(client, buffer, sizeof buffer, 0) <= 0) break;
    }
  }

  // False once the client or the server has gone.
  bool send_all(int client, const std::string& bytes) {
    constexpr std::size_t kPiece = 512;
    for (std::size_t sent = 0; sent < bytes.size();) {
      if (stop_) return false;
      const int pause = pause_ms_;
      if (pause > 0 && sent > 0) std::this_thread::sleep_for(std::chrono::milliseconds(pause));
      const std::size_t piece = pause > 0 ? std::min(kPiece, bytes.size() - sent) : bytes.size() - sent;
      const ssize_t put = send(client, bytes.data() + sent, piece, MSG_NOSIGNAL);
      if (put <= 0) return false;
      sent += static_cast<std::size_t>(put);
    }
    return true;
  }

  std::map<std::string, std::string> files_, replies_;
  bool silent_ = false, endless_ = false;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false}, hold_{false};
  std::atomic<int> pause_ms_{0};
  mutable std::mutex lock_;
  std::vector<std::string> requested_;
  std::thread server_;
};

}  // namespace test_support
