// The FITS library's libcurl calls: forwarded with their arguments intact to
// a libcurl opened on first use, never paid for by a run on local files, and
// a libcurl that cannot be loaded said so.
#include "io/curl_on_demand.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "tests/support/qz_mca_program.h"

namespace {

// libcurl's option numbers and codes, one of each argument type.
constexpr int kOptWriteData = 10001;        // pointer
constexpr int kOptUrl = 10002;              // string
constexpr int kOptWriteFunction = 20011;    // function
constexpr int kOptResumeFrom = 21;          // long
constexpr int kOptResumeFromLarge = 30116;  // 64-bit offset
constexpr int kCurlOk = 0;
constexpr int kCurlCouldNotReadFile = 37;

std::size_t append(char* data, std::size_t size, std::size_t count, void* text) {
  static_cast<std::string*>(text)->append(data, size * count);
  return size * count;
}

class CurlOnDemand : public QzMcaProgram {};

TEST_F(CurlOnDemand, ForwardsEveryArgumentType) {
  const std::string content = "0123456789 a file fetched through libcurl";
  std::ofstream(path("page.txt")) << content;
  struct Case {
    const char* what;
    const char* file;
    int option;  // 0: none
    long long value;
    int code;
    std::string received;
  };
  const Case cases[] = {
      {"whole file", "page.txt", 0, 0, kCurlOk, content},
      {"long option", "page.txt", kOptResumeFrom, 5, kCurlOk, content.substr(5)},
      {"offset option", "page.txt", kOptResumeFromLarge, 7, kCurlOk, content.substr(7)},
      {"missing file", "absent.txt", 0, 0, kCurlCouldNotReadFile, ""},
  };
  ASSERT_EQ(curl_global_init(3), kCurlOk) << "libcurl could not be opened";
  for (const Case& c : cases) {
    void* handle = curl_easy_init();
    ASSERT_NE(handle, nullptr) << c.what;
    std::string received, url = "file://" + path(c.file);
    EXPECT_EQ(curl_easy_setopt(handle, kOptUrl, url.c_str()), kCurlOk) << c.what;
    EXPECT_EQ(curl_easy_setopt(handle, kOptWriteFunction, &append), kCurlOk) << c.what;
    EXPECT_EQ(curl_easy_setopt(handle, kOptWriteData, &received), kCurlOk) << c.what;
    if (c.option == kOptResumeFrom) {
      EXPECT_EQ(curl_easy_setopt(handle, c.option, static_cast<long>(c.value)), kCurlOk);
    } else if (c.option != 0) {
      EXPECT_EQ(curl_easy_setopt(handle, c.option, c.value), kCurlOk) << c.what;
    }
    EXPECT_EQ(curl_easy_perform(handle), c.code) << c.what;
    EXPECT_EQ(received, c.received) << c.what;
    curl_easy_cleanup(handle);
  }
  curl_global_cleanup();
}

TEST_F(CurlOnDemand, ARunOnLocalFilesLoadsNoLibcurl) {
  FitsImage ima(32, 32);
  for (int i = 0; i < 32; i++)
    for (int j = 0; j < 32; j++) ima.at(i, j) = static_cast<float>((i * 7 + j * 3) % 11);
  write_fits(path("in.fits"), ima);
  // The dynamic loader names every library it looks for.
  setenv("LD_DEBUG", "libs", 1);
  int status = run("-i 2 in.fits out");
  unsetenv("LD_DEBUG");
  ASSERT_EQ(status, 0) << output_;
  ASSERT_TRUE(printed("find library=libc.so.6")) << output_;
  EXPECT_FALSE(printed("libcurl")) << output_;
  EXPECT_EQ(result("out.fits").nl, 32);
}

// A libcurl the loader cannot take, found first where it looks: the run
// says libcurl cannot be loaded, and why, before any fetch; the same
// failure in a fetch would read as a file not found.
TEST_F(CurlOnDemand, ALibcurlThatCannotBeLoadedIsSaid) {
  ASSERT_EQ(mkdir(path("libraries").c_str(), 0700), 0);
  for (const char* name : {"libcurl-gnutls.so.4", "libcurl.so.4"}) std::ofstream(path("libraries/") + name);
  setenv("LD_LIBRARY_PATH", path("libraries").c_str(), 1);
  const int status = run("http://127.0.0.1:1/in.fits out");
  unsetenv("LD_LIBRARY_PATH");
  EXPECT_EQ(status, 255) << output_;
  // The loader's reasons, which name the files it tried, are its own.
  EXPECT_TRUE(printed("Error: libcurl, by which the program fetches network names, cannot be loaded (" +
                      path("libraries/libcurl-gnutls.so.4") + ": "))
      << output_;
  EXPECT_TRUE(printed("; " + path("libraries/libcurl.so.4") + ": ")) << output_;
  EXPECT_TRUE(printed("): install it (Debian: libcurl3-gnutls), or fetch the file with another tool and name that "
                      "copy ... (http://127.0.0.1:1/in.fits)\n"))
      << output_;
  EXPECT_FALSE(exists("out.fits"));
}

}  // namespace
