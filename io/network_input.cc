// Network names, fetched whole through the libcurl the program opens on
// demand (io/curl_on_demand.h), then read from memory as the standard input
// is. The library's own fetch would inflate a compressed file without
// bound, and hand the library HDUs no check has seen.
#include "io/network_input.h"

#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "array/fatal.h"
#include "io/compressed_input.h"
#include "io/curl_on_demand.h"

// The library's time limit on a network read, in seconds; its own header
// declares no C linkage.
extern "C" {
#include <fitsio2.h>
}

namespace {

// libcurl's option numbers and result codes, as its interface fixes them.
constexpr int kOptWriteData = 10001;
constexpr int kOptUrl = 10002;
constexpr int kOptErrorBuffer = 10010;
constexpr int kOptLowSpeedLimit = 19;
constexpr int kOptLowSpeedTime = 20;
constexpr int kOptNoProgress = 43;
constexpr int kOptFailOnError = 45;
constexpr int kOptFollowLocation = 52;
constexpr int kOptSslVerifyPeer = 64;
constexpr int kOptMaxRedirects = 68;
constexpr int kOptConnectTimeout = 78;
constexpr int kOptSslVerifyHost = 81;
constexpr int kOptNoSignal = 99;
constexpr int kOptXferInfoData = 10057;
constexpr int kOptXferInfoFunction = 20219;
constexpr int kOptProtocols = 181;
constexpr int kOptRedirectProtocols = 182;
constexpr int kOptWriteFunction = 20011;
constexpr long kProtocolsFetched = 1 | 2 | 4 | 8;  // HTTP, HTTPS, FTP, FTPS
constexpr long kGlobalAll = 3;
constexpr int kInfoResponseCode = 0x200000 + 2;  // a long
constexpr int kCurlCouldNotResolveProxy = 5;
constexpr int kCurlCouldNotResolveHost = 6;
constexpr int kCurlCouldNotConnect = 7;
constexpr int kCurlRemoteAccessDenied = 9;
constexpr int kCurlFtpCouldNotRetrieve = 19;
constexpr int kCurlHttpError = 22;
constexpr int kCurlTimedOut = 28;
constexpr int kCurlPeerNotVerified = 60;
constexpr int kCurlRemoteFileNotFound = 78;
constexpr std::size_t kErrorBufferSize = 256;

// A network prefix as the library's parser returns it: the protocol it
// fetches with, and the files it tries for a root, in its order, as
// measured against the library's open. A root with a query or already
// compressed is fetched alone. The library's drivers are named in lower
// case, and it compares a prefix with their names exactly.
struct network_scheme {
  const char* fetched;  // "http://"
  bool tries_compress;  // .Z between .gz and the root itself
};

bool scheme_of(const std::string& prefix, network_scheme& scheme) {
  static const struct {
    const char* name;
    network_scheme scheme;
  } kSchemes[] = {{"https", {"https://", false}}, {"http", {"http://", true}},
                  // The library fetches an ftps name by plain ftp.
                  {"ftps", {"ftp://", true}},     {"ftp", {"ftp://", true}}};
  static const char* const kForms[] = {"", "mem", "file", "compress"};
  for (const auto& known : kSchemes)
    for (const char* form : kForms) {
      const std::string name = std::string(known.name) + form + "://";
      if (prefix == name) {
        scheme = known.scheme;
        return true;
      }
    }
  return false;
}

std::vector<std::string> files_tried(const std::string& root, const network_scheme& scheme) {
  auto ends_with = [&](const char* end) {
    const std::string text = end;
    return root.size() >= text.size() && root.compare(root.size() - text.size(), text.size(), text) == 0;
  };
  if (root.find('?') != std::string::npos || ends_with(".gz") || ends_with(".Z")) return {""};
  if (scheme.tries_compress) return {".gz", ".Z", ""};
  return {".gz", ""};
}

// A transfer on a thread of its own, its body sent into a socket as it
// comes: the body is read from the other end as the standard input is, only
// as far as its FITS headers describe, and a server that sends without end
// is cut off once the reader has closed its end. Nothing of it is held
// beyond what the reader asked for.
class transfer {
 public:
  transfer(const std::string& url, const std::string& name, bool verify_peer) : url_(url), name_(name) {
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
      fatal_exitf(-1, stderr, "Error: no socket to read the fetched file through ... (%s)\n", url.c_str());
    read_end_ = ends[0];
    write_end_ = ends[1];
    // A thread the system refuses ends the run as any fatal error does, not
    // by an uncaught exception.
    try {
      thread_ = std::thread([this, verify_peer] { run(verify_peer); });
    } catch (const std::system_error&) {
      fatal_exitf(-1, stderr, "Error: no thread to fetch the file on ... (%s)\n", url.c_str());
    }
  }
  ~transfer() {
    if (read_end_ >= 0) close(read_end_);
    reader_gone_ = true;
    thread_.join();
  }
  transfer(const transfer&) = delete;
  transfer& operator=(const transfer&) = delete;

  // Waits for the body's first bytes or the transfer's end. True when a
  // body comes: bytes, or an empty one that ended well.
  bool body_comes() {
    std::unique_lock<std::mutex> lock(lock_);
    changed_.wait(lock, [this] { return began_ || ended_; });
    return began_ || result_ == kCurlOk;
  }
  // After the end: libcurl's result, its message on the library's stack.
  int result() {
    std::unique_lock<std::mutex> lock(lock_);
    changed_.wait(lock, [this] { return ended_; });
    if (result_ != kCurlOk) ffpmsg((url_ + ": " + message()).c_str());
    return result_;
  }
  // kCurlOk once a body comes, else libcurl's result. Asked once per
  // transfer: a failure puts libcurl's message on the library's stack.
  int outcome() { return body_comes() ? kCurlOk : result(); }
  // After a failed result: whether the server said it has no such file,
  // on which the library tries the next file and reports none found.
  bool file_missing() const {
    if (result_ == kCurlHttpError) return http_status_ == 404 || http_status_ == 410;
    return result_ == kCurlRemoteFileNotFound || result_ == kCurlFtpCouldNotRetrieve ||
           result_ == kCurlRemoteAccessDenied;
  }
  // After a failed result: whether no server answered at all (no such
  // host, no connection, or nothing within the time limit).
  bool unanswered() const {
    return result_ == kCurlCouldNotResolveProxy || result_ == kCurlCouldNotResolveHost ||
           result_ == kCurlCouldNotConnect || (result_ == kCurlTimedOut && http_status_ == 0);
  }
  // Ends the run on a failed transfer, with the server's status and
  // libcurl's message: anything else would report its symptom, a file cut
  // short or none there.
  [[noreturn]] void refuse_failed() const {
    const std::string status =
        http_status_ > 0 ? "server status " + std::to_string(http_status_) : std::string("no server status");
    fatal_exitf(-1, stderr,
                "Error: the transfer of the file failed (%s; libcurl: %s): try again, or fetch the file with "
                "another tool and name that copy ... (%s)\n",
                status.c_str(), message().c_str(), name_.c_str());
  }
  // The body, to be read and closed by the caller. A body that ends
  // because the transfer failed (the server closed before the length it
  // announced, the connection broke or stalled) ends the run saying so,
  // rather than passing for a file cut short.
  std::FILE* body() {
    const cookie_io_functions_t functions{read_body, nullptr, nullptr, close_body};
    std::FILE* stream = fopencookie(this, "rb", functions);
    if (stream == nullptr)
      fatal_exitf(-1, stderr, "Error: not enough memory to read the fetched file ... (%s)\n", url_.c_str());
    return stream;
  }

 private:
  void run(bool verify_peer) {
    // The run's stops are taken on its other threads (array/stop_signals.h).
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, nullptr);
    long status = 0;
    const int result = fetch(verify_peer, status);
    close(write_end_);
    std::lock_guard<std::mutex> lock(lock_);
    ended_ = true;
    result_ = result;
    http_status_ = status;
    changed_.notify_all();
  }

  std::string message() const { return *error_ != '\0' ? error_ : "the transfer failed"; }

  static ssize_t read_body(void* self, char* out, std::size_t size) {
    transfer& from = *static_cast<transfer*>(self);
    ssize_t got = 0;
    do {
      got = read(from.read_end_, out, size);
    } while (got < 0 && errno == EINTR);
    // The end of the body: libcurl has returned, its result is there.
    if (got == 0 && from.result() != kCurlOk) from.refuse_failed();
    return got;
  }
  static int close_body(void* self) {
    transfer& from = *static_cast<transfer*>(self);
    const int closed = close(from.read_end_);
    from.read_end_ = -1;
    return closed;
  }

  static std::size_t take(const char* data, std::size_t size, std::size_t count, void* self) {
    transfer& into = *static_cast<transfer*>(self);
    if (!into.began_) {
      std::lock_guard<std::mutex> lock(into.lock_);
      into.began_ = true;
      into.changed_.notify_all();
    }
    const std::size_t bytes = size * count;
    for (std::size_t sent = 0; sent < bytes;) {
      const ssize_t put = send(into.write_end_, data + sent, bytes - sent, MSG_NOSIGNAL);
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) return 0;  // the reader is done: libcurl ends the transfer
      sent += static_cast<std::size_t>(put);
    }
    return bytes;
  }
  // Called by libcurl about once a second, also while no byte comes: a
  // reader that is done ends a transfer that waits on its server.
  static int progress(void* self, long long, long long, long long, long long) {
    return static_cast<transfer*>(self)->reader_gone_ ? 1 : 0;
  }

  // One transfer of the url; libcurl's result, and the server's last status
  // into `status` (0 when it gave none).
  int fetch(bool verify_peer, long& status) {
    static std::once_flag started;
    std::call_once(started, [] { curl_global_init(kGlobalAll); });
    void* curl = curl_easy_init();
    if (curl == nullptr) return kCurlFailedInit;
    // The library's limit bounds the connection, and any stall after it: the
    // transfer ends once less than a byte a second has come for that many
    // seconds in a row, before the answer or within the body. A transfer
    // that keeps coming, however long it takes, is not cut.
    const long seconds = fits_net_timeout(0);
    const write_function write = take;
    const progress_function check = progress;
    curl_easy_setopt(curl, kOptUrl, url_.c_str());
    curl_easy_setopt(curl, kOptErrorBuffer, error_);
    curl_easy_setopt(curl, kOptWriteFunction, reinterpret_cast<CurlCallback>(write));
    curl_easy_setopt(curl, kOptWriteData, this);
    curl_easy_setopt(curl, kOptXferInfoFunction, reinterpret_cast<CurlCallback>(check));
    curl_easy_setopt(curl, kOptXferInfoData, this);
    curl_easy_setopt(curl, kOptFailOnError, 1L);
    curl_easy_setopt(curl, kOptNoProgress, 0L);
    // The stop signals stay the run's (array/stop_signals.h).
    curl_easy_setopt(curl, kOptNoSignal, 1L);
    curl_easy_setopt(curl, kOptConnectTimeout, seconds);
    curl_easy_setopt(curl, kOptLowSpeedLimit, 1L);
    curl_easy_setopt(curl, kOptLowSpeedTime, seconds);
    curl_easy_setopt(curl, kOptFollowLocation, 1L);
    curl_easy_setopt(curl, kOptMaxRedirects, 10L);
    curl_easy_setopt(curl, kOptProtocols, kProtocolsFetched);
    curl_easy_setopt(curl, kOptRedirectProtocols, kProtocolsFetched);
    if (!verify_peer) {
      curl_easy_setopt(curl, kOptSslVerifyPeer, 0L);
      curl_easy_setopt(curl, kOptSslVerifyHost, 0L);
    }
    const int result = curl_easy_perform(curl);
    curl_easy_getinfo(curl, kInfoResponseCode, &status);
    curl_easy_cleanup(curl);
    return result;
  }

  using write_function = std::size_t (*)(const char*, std::size_t, std::size_t, void*);
  using progress_function = int (*)(void*, long long, long long, long long, long long);

  std::string url_, name_;
  int read_end_ = -1, write_end_ = -1;
  char error_[kErrorBufferSize] = "";
  std::atomic<bool> reader_gone_{false};
  std::mutex lock_;
  std::condition_variable changed_;
  bool began_ = false, ended_ = false;
  int result_ = kCurlOk;
  long http_status_ = 0;
  std::thread thread_;
};

}  // namespace

bool fits_name_is_network(const std::string& file) {
  fits_name_parts parts;
  return fits_name_parts_of(file, parts) && fits_prefix_is_network(parts.prefix);
}

bool fits_prefix_is_network(const std::string& prefix) {
  network_scheme scheme;
  return scheme_of(prefix, scheme);
}

bool fits_open_network(fitsfile** fptr, const std::string& file, int iomode, int* status) {
  fits_name_parts parts;
  network_scheme scheme;
  if (!fits_name_parts_of(file, parts) || !scheme_of(parts.prefix, scheme)) return false;
  if (iomode != READONLY) {
    ffpmsg(("a network file cannot be opened for writing: " + file).c_str());
    *status = FILE_NOT_OPENED;
    return true;
  }
  // Without libcurl every fetch would fail as if no server answered.
  if (const char* reason = curl_load_failure())
    fatal_exitf(-1, stderr,
                "Error: libcurl, by which the program fetches network names, cannot be loaded (%s): install it "
                "(Debian: libcurl3-gnutls), or fetch the file with another tool and name that copy ... (%s)\n",
                reason, file.c_str());
  // A server whose certificate fails fails it for every file tried: it is
  // told once, and not asked to verify again.
  bool verify_peer = true;
  // The last transfer that failed for another reason than a missing file:
  // the library would go on to the next file, and so does the fetch, but
  // where none is read, that failure is the one to report. Where each file
  // fails alike (a server that speaks no TLS), it names the root, as typed.
  std::unique_ptr<transfer> failed;
  for (const std::string& suffix : files_tried(parts.root, scheme)) {
    const std::string url = scheme.fetched + parts.root + suffix;
    const std::string name = parts.prefix + parts.root + suffix;
    auto fetch = std::make_unique<transfer>(url, name, verify_peer);
    int result = fetch->outcome();
    // The library reads a server whose certificate it cannot verify all
    // the same; its bytes are checked as any file's, and the user is told
    // that the server is not known to be the one named.
    if (verify_peer && result == kCurlPeerNotVerified) {
      verify_peer = false;
      std::fprintf(stderr, "Warning: the certificate of the server could not be verified; the file is read all "
                   "the same ... (%s)\n", name.c_str());
      fetch = std::make_unique<transfer>(url, name, false);
      result = fetch->outcome();
    }
    if (result == kCurlOk) return fits_open_fetched(fptr, fetch->body(), parts, name, status);
    // A host that does not answer is not asked again: each later file
    // would wait as long.
    if (fetch->unanswered()) break;
    if (!fetch->file_missing()) failed = std::move(fetch);
  }
  if (failed != nullptr) failed->refuse_failed();
  ffpmsg(("failed to fetch the following file: " + file).c_str());
  *status = FILE_NOT_OPENED;
  return true;
}
