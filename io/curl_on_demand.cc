// The six libcurl entry points the FITS library calls for names it fetches
// over the network, and curl_easy_getinfo, opened only when such a name
// comes.
//
// CFITSIO's shared library brings libcurl and some thirty libraries behind it
// (TLS, Kerberos, LDAP ...) into every process, and loading and relocating
// them costs about 5 ms at each start, more than reading a 512 x 512 image.
// The program links the FITS library's archive instead, and these functions
// stand where libcurl's would: the first call opens the libcurl the FITS
// package depends on and forwards to it, so a network name reads as before.
// Without libcurl they report libcurl's own failure codes.
//
// Hidden: a shared library that links libcurl itself must never bind to these.
#include "io/curl_on_demand.h"

#include <dlfcn.h>

#include <cstdarg>
#include <string>

namespace {

// An option's number says the type of its argument: below 10000 a long,
// then an object pointer, a function pointer, a 64-bit offset, and from
// 40000 on a pointer again (blobs).
constexpr int kObjectOptions = 10000;
constexpr int kFunctionOptions = 20000;
constexpr int kOffsetOptions = 30000;
constexpr int kBlobOptions = 40000;

using GlobalInit = int (*)(long);
using GlobalCleanup = void (*)();
using EasyInit = void* (*)();
using EasySetopt = int (*)(void*, int, ...);
using EasyPerform = int (*)(void*);
using EasyCleanup = void (*)(void*);
using EasyGetinfo = int (*)(void*, int, ...);

struct Curl {
  GlobalInit global_init = nullptr;
  GlobalCleanup global_cleanup = nullptr;
  EasyInit easy_init = nullptr;
  EasySetopt easy_setopt = nullptr;
  EasyPerform easy_perform = nullptr;
  EasyCleanup easy_cleanup = nullptr;
  EasyGetinfo easy_getinfo = nullptr;
  bool loaded = false;
  std::string failure;  // the loader's reason when not loaded
};

template <typename F>
bool find(void* library, const char* name, F& function, std::string& failure) {
  function = reinterpret_cast<F>(dlsym(library, name));
  if (function == nullptr) failure = dlerror();
  return function != nullptr;
}

Curl open_curl() {
  Curl curl;
  // Debian's FITS library is built against the GnuTLS flavour.
  void* library = dlopen("libcurl-gnutls.so.4", RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    // The loader's reasons name the file each is about.
    const std::string first = dlerror();
    library = dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
      curl.failure = first + "; " + dlerror();
      return curl;
    }
  }
  curl.loaded = find(library, "curl_global_init", curl.global_init, curl.failure) &&
                find(library, "curl_global_cleanup", curl.global_cleanup, curl.failure) &&
                find(library, "curl_easy_init", curl.easy_init, curl.failure) &&
                find(library, "curl_easy_setopt", curl.easy_setopt, curl.failure) &&
                find(library, "curl_easy_perform", curl.easy_perform, curl.failure) &&
                find(library, "curl_easy_cleanup", curl.easy_cleanup, curl.failure) &&
                find(library, "curl_easy_getinfo", curl.easy_getinfo, curl.failure);
  return curl;
}

const Curl& curl() {
  static const Curl opened = open_curl();
  return opened;
}

}  // namespace

extern "C" {

int curl_global_init(long flags) {
  return curl().loaded ? curl().global_init(flags) : kCurlFailedInit;
}

void curl_global_cleanup() {
  if (curl().loaded) curl().global_cleanup();
}

void* curl_easy_init() { return curl().loaded ? curl().easy_init() : nullptr; }

int curl_easy_setopt(void* handle, int option, ...) {
  if (!curl().loaded) return kCurlFailedInit;
  std::va_list args;
  va_start(args, option);
  int code = kCurlOk;
  if (option < kObjectOptions) {
    code = curl().easy_setopt(handle, option, va_arg(args, long));
  } else if (option < kFunctionOptions || option >= kBlobOptions) {
    code = curl().easy_setopt(handle, option, va_arg(args, void*));
  } else if (option < kOffsetOptions) {
    code = curl().easy_setopt(handle, option, va_arg(args, CurlCallback));
  } else {
    code = curl().easy_setopt(handle, option, va_arg(args, long long));
  }
  va_end(args);
  return code;
}

int curl_easy_perform(void* handle) {
  return curl().loaded ? curl().easy_perform(handle) : kCurlFailedInit;
}

void curl_easy_cleanup(void* handle) {
  if (curl().loaded) curl().easy_cleanup(handle);
}

// Every item's argument is a pointer, where libcurl puts the answer.
int curl_easy_getinfo(void* handle, int info, ...) {
  if (!curl().loaded) return kCurlFailedInit;
  std::va_list args;
  va_start(args, info);
  const int code = curl().easy_getinfo(handle, info, va_arg(args, void*));
  va_end(args);
  return code;
}

}  // extern "C"

const char* curl_load_failure() { return curl().loaded ? nullptr : curl().failure.c_str(); }
