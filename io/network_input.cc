// Network names, fetched whole through the libcurl the program opens on
// demand (io/curl_on_demand.h), then read from memory as the standard input
// is. The library's own fetch would inflate a compressed file without
// bound, and hand the library HDUs no check has seen.
#include "io/network_input.h"

#include <strings.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "array/fatal.h"
#include "array/memory_size.h"
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
constexpr int kOptProtocols = 181;
constexpr int kOptRedirectProtocols = 182;
constexpr int kOptWriteFunction = 20011;
constexpr long kProtocolsFetched = 1 | 2 | 4 | 8;  // HTTP, HTTPS, FTP, FTPS
constexpr long kGlobalAll = 3;
constexpr int kCurlRemoteAccessDenied = 9;
constexpr int kCurlFtpCouldNotRetrieve = 19;
constexpr int kCurlHttpError = 22;
constexpr int kCurlPeerNotVerified = 60;
constexpr int kCurlRemoteFileNotFound = 78;
constexpr std::size_t kErrorBufferSize = 256;

// A network prefix as the library's parser returns it: the protocol it
// fetches with, and the files it tries for a root, in its order, as
// measured against the library's open. A root with a query or already
// compressed is fetched alone.
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
      if (strcasecmp(prefix.c_str(), name.c_str()) == 0) {
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

// The bytes fetched, held to the machine's memory: a server may send
// without end.
struct fetched {
  std::vector<unsigned char> bytes;
  std::uint64_t limit = 0;
  bool past_memory = false;
};

std::size_t take_bytes(const char* data, std::size_t size, std::size_t count, void* into) {
  fetched& out = *static_cast<fetched*>(into);
  const std::size_t bytes = size * count;
  if (out.limit != 0 && out.bytes.size() + bytes > out.limit) {
    out.past_memory = true;
    return 0;  // libcurl ends the transfer
  }
  out.bytes.insert(out.bytes.end(), data, data + bytes);
  return bytes;
}

using write_function = std::size_t (*)(const char*, std::size_t, std::size_t, void*);

// One transfer of url into out; libcurl's result.
int fetch(const std::string& url, fetched& out, bool verify_peer) {
  static std::once_flag started;
  std::call_once(started, [] { curl_global_init(kGlobalAll); });
  void* curl = curl_easy_init();
  if (curl == nullptr) return kCurlFailedInit;
  char error[kErrorBufferSize] = "";
  // The library's limit holds for the connection and for any wait for the
  // next bytes, as its own fetch times both.
  const long seconds = fits_net_timeout(0);
  const write_function take = take_bytes;
  curl_easy_setopt(curl, kOptUrl, url.c_str());
  curl_easy_setopt(curl, kOptErrorBuffer, error);
  curl_easy_setopt(curl, kOptWriteFunction, reinterpret_cast<CurlCallback>(take));
  curl_easy_setopt(curl, kOptWriteData, &out);
  curl_easy_setopt(curl, kOptFailOnError, 1L);
  curl_easy_setopt(curl, kOptNoProgress, 1L);
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
  curl_easy_cleanup(curl);
  if (result != kCurlOk) ffpmsg((url + ": " + (*error != '\0' ? error : "the transfer failed")).c_str());
  return result;
}

// Codes by which a server says it has no such file: the library then tries
// the next file.
bool not_there(int result) {
  return result == kCurlHttpError || result == kCurlRemoteFileNotFound || result == kCurlFtpCouldNotRetrieve ||
         result == kCurlRemoteAccessDenied;
}

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
  for (const std::string& suffix : files_tried(parts.root, scheme)) {
    const std::string url = scheme.fetched + parts.root + suffix;
    const std::string name = parts.prefix + parts.root + suffix;
    fetched got;
    got.limit = physical_memory_bytes();
    int result = fetch(url, got, true);
    // The library reads a server whose certificate it cannot verify all
    // the same; its bytes are checked as any file's, and the user is told
    // that the server is not known to be the one named.
    if (result == kCurlPeerNotVerified) {
      std::fprintf(stderr, "Warning: the certificate of the server could not be verified; the file is read all "
                   "the same ... (%s)\n", name.c_str());
      got.bytes.clear();
      result = fetch(url, got, false);
    }
    if (got.past_memory)
      fatal_exitf(-1, stderr, "Error: the file holds more than the %llu MB of memory of this machine ... (%s)\n",
                  static_cast<unsigned long long>(got.limit >> 20), name.c_str());
    if (not_there(result)) continue;
    if (result != kCurlOk) break;
    // A stream over the bytes, even none: fmemopen wants a buffer.
    if (got.bytes.empty()) got.bytes.reserve(1);
    std::FILE* stream = fmemopen(got.bytes.data(), got.bytes.size(), "rb");
    if (stream == nullptr)
      fatal_exitf(-1, stderr, "Error: not enough memory to read the fetched file ... (%s)\n", name.c_str());
    return fits_open_fetched(fptr, stream, parts, name, status);
  }
  ffpmsg(("failed to fetch the following file: " + file).c_str());
  *status = FILE_NOT_OPENED;
  return true;
}
