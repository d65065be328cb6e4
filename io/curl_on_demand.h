// libcurl's entry points as the FITS library calls them, and the one the
// program asks a transfer's server status by, served by a libcurl opened on
// first use (see curl_on_demand.cc). Handles are opaque; results are
// libcurl's codes, 0 for success.
#ifndef QZ_IO_CURL_ON_DEMAND_H
#define QZ_IO_CURL_ON_DEMAND_H

extern "C" {

using CurlCallback = void (*)();

#define QZ_CURL_ENTRY __attribute__((visibility("hidden")))
QZ_CURL_ENTRY int curl_global_init(long flags);
QZ_CURL_ENTRY void curl_global_cleanup();
QZ_CURL_ENTRY void* curl_easy_init();
QZ_CURL_ENTRY int curl_easy_setopt(void* handle, int option, ...);
QZ_CURL_ENTRY int curl_easy_perform(void* handle);
QZ_CURL_ENTRY void curl_easy_cleanup(void* handle);
QZ_CURL_ENTRY int curl_easy_getinfo(void* handle, int info, ...);
#undef QZ_CURL_ENTRY

}  // extern "C"

// Why libcurl could not be loaded (the loader's reason), or null once it
// is: the entry points above then only fail, with the codes of a libcurl
// that fails to start, which tell nothing of the cause.
const char* curl_load_failure();

// libcurl's codes: CURLE_OK and CURLE_FAILED_INIT.
inline constexpr int kCurlOk = 0;
inline constexpr int kCurlFailedInit = 2;

#endif  // QZ_IO_CURL_ON_DEMAND_H
