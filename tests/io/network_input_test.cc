// Files read by a network name, served by a web server of the test's own on
// the loopback interface: their bytes go through the checks a file on disk
// goes through (crafted files refused with the same message, never by a
// signal), valid files read the same pixels as from disk, the files the
// library would try are fetched in its order, a compressed file inflates
// only as far as its headers describe, a host that does not answer fails
// the open as the library's own fetch did, any other failed transfer is
// said to be one, and a prefix the library has no driver for is refused.
#include "io/network_input.h"

#include <fitsio.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "fits_test_files.h"
#include "io/compressed_input.h"
#include "io/fits_io.h"
#include "support/death.h"
#include "support/loopback_http.h"
#include "tile_table_layouts.h"

extern "C" {
#include <fitsio2.h>
}

using fits_test::read_program;
using fits_test::scratch;
using test_support::LoopbackHttp;

namespace {

constexpr long kWidth = 64, kHeight = 48;

std::string compressed(const std::string& name, const std::vector<long>& tile, int type) {
  std::vector<double> values(kWidth * kHeight);
  for (long k = 0; k < kWidth * kHeight; k++) values[k] = 100 + static_cast<double>(k * 37 % 200);
  fits_test::write_compressed(scratch(name), SHORT_IMG, {kWidth, kHeight}, values, {type, 4, 1, tile});
  return fits_test::read_bytes(scratch(name));
}

// The first extension's heap with 8 bytes put before the stream of its one
// HCOMPRESS tile, which declare an image of 4096 x 56729 pixels, and a
// THEAP in quotes, from which the library takes no offset: its decoder
// would meet those bytes first.
std::string quoted_heap_file() {
  tile_layouts::table_hdu hdu = tile_layouts::take_apart(compressed("one_tile.fits", {kWidth, kHeight}, HCOMPRESS_1));
  hdu.heap = std::string("\xDD\x99\x00\x00\x10\x00\x00\x00", 8) + hdu.heap;
  hdu.cards.push_back(fits_test::card("THEAP   = '16'"));
  return tile_layouts::put_together(hdu);
}

// An HCOMPRESS image whose compressed column stands under a scaling: every
// byte the library hands the decoder differs from the file's.
std::string scaled_column_file() {
  tile_layouts::table_hdu hdu = tile_layouts::take_apart(compressed("hcomp.fits", {16, 8}, HCOMPRESS_1));
  hdu.cards.push_back(fits_test::card("TSCAL1  = 0.997"));
  hdu.cards.push_back(fits_test::card("TZERO1  = 1.0"));
  return tile_layouts::put_together(hdu);
}

}  // namespace

TEST(NetworkInput, TheLibrarysNetworkPrefixesAreNetworkNames) {
  const struct {
    const char* name;
    bool network;
  } cases[] = {{"http://h/f.fits[1]", true},     {"https://h/f.fits", true},       {"ftp://h/f.fits.gz", true},
               {"ftps://h/f.fits", true},        {"httpmem://h/f.fits", true},     {"HTTPsMem://h/f.fits", false},
               {"HTTP://h/f.fits", false},       {"Ftp://h/f.fits", false},        {"httpFile://h/f.fits", false},
               {"ftpmem://h/f.fits", true},      {"httpcompress://h/f", true},     {"ftpscompress://h/f", true},
               {"httpfile://h/f.fits", true},    {"http:h/f.fits", true},          {"f.fits", false},
               {"file://f.fits", false},         {"compress://f.fits.gz", false},  {"mem://f.fits", false},
               {"shmem://h1", false},            {"root://h/f.fits", false},       {"-", false},
               {"httpx://h/f.fits", false}};
  for (const auto& c : cases) EXPECT_EQ(fits_name_is_network(c.name), c.network) << c.name;
}

// Each file is the library's own but for a card or a few bytes; fetched by
// the library itself, its decoder would write past its buffer.
TEST(NetworkInput, CraftedFilesAreRefusedAsOnDiskPlainAndGzipped) {
  // The fetch runs on a thread of its own: a child forked while the
  // server's thread holds a lock of the allocator would wait for it forever.
  // The child runs the test anew instead.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const struct {
    const char* name;
    std::string bytes;
    const char* message;
  } cases[] = {{"theap_quoted.fits", quoted_heap_file(),
                "has THEAP = '16': the FITS library reads no integer in it, and would look for the heap right after "
                "the rows"},
               {"scaled.fits", scaled_column_file(),
                "has tiles in COMPRESSED_DATA that stand under their column's own scaling \\(TSCAL1 = 0.997, TZERO1 = "
                "1\\)"}};
  std::map<std::string, std::string> files;
  for (const auto& c : cases) {
    files["/plain/" + std::string(c.name)] = c.bytes;
    files["/packed/" + std::string(c.name) + ".gz"] = fits_test::gzip_member(c.bytes);
  }
  const LoopbackHttp server(files);
  ASSERT_GT(server.port(), 0) << "no port on the loopback interface";
  for (const auto& c : cases) {
    const std::string expected = std::string("the tile-compressed image in HDU \\[1\\] ") + c.message + ".*";
    fits_test::write_bytes(scratch(c.name), c.bytes);
    EXPECT_EXIT_STATUS(read_program(scratch(std::string(c.name) + "[1]")), 255, expected + c.name) << c.name;
    for (const char* prefix : {"http://", "httpmem://"})
      for (const char* folder : {"plain/", "packed/"}) {
        // The packed file is found as the root's .gz sibling.
        const std::string url = server.url(folder + std::string(c.name), prefix);
        EXPECT_EXIT_STATUS(read_program(url + "[1]"), 255, expected + c.name) << url;
      }
  }
}

// astropy's dithered 16-bit images, as pipelines write them.
TEST(NetworkInput, ValidFilesReadTheSamePixelsAsFromDisk) {
  const std::string folder = std::string(QZ_SOURCE_DIR) + "/tests/io/data/astropy/";
  const char* const kFiles[] = {"scaled_int16_hcompress_1.fits", "scaled_int16_rice_1.fits"};
  std::map<std::string, std::string> files;
  for (const char* name : kFiles) {
    const std::string bytes = fits_test::read_bytes(folder + name);
    ASSERT_FALSE(bytes.empty()) << name;
    files["/plain/" + std::string(name)] = bytes;
    files["/packed/" + std::string(name) + ".gz"] = fits_test::gzip_member(bytes);
  }
  const LoopbackHttp server(files);
  ASSERT_GT(server.port(), 0) << "no port on the loopback interface";
  for (const char* name : kFiles) {
    const std::vector<float> disk = read_program(folder + name + "[1]");
    ASSERT_EQ(disk.size(), 30u * 40u) << name;
    for (const char* prefix : {"http://", "httpmem://"})
      for (const char* place : {"plain/", "packed/"}) {
        const std::string url = server.url(place + std::string(name), prefix);
        EXPECT_EQ(read_program(url + "[1]"), disk) << url;
        EXPECT_EQ(read_program(url + "[SCI]"), disk) << url;
      }
  }
}

// The library tries the root's .gz, then its .Z, then the root itself, and
// reads the first the server has; a root with a query or already
// compressed, alone.
TEST(NetworkInput, TheFilesTheLibraryTriesAreFetchedInItsOrder) {
  const std::string folder = std::string(QZ_SOURCE_DIR) + "/tests/io/data/astropy/";
  const std::string rice = fits_test::read_bytes(folder + "scaled_int16_rice_1.fits");
  const std::string other = fits_test::read_bytes(folder + "f32_rice_1.fits");
  const LoopbackHttp server({{"/both.fits", rice},
                             {"/both.fits.gz", fits_test::gzip_member(other)},
                             {"/alone.fits", rice},
                             {"/named.fits.gz", fits_test::gzip_member(rice)},
                             {"/asked.fits?v=2", rice}});
  ASSERT_GT(server.port(), 0) << "no port on the loopback interface";
  const std::vector<float> from_rice = read_program(folder + "scaled_int16_rice_1.fits[1]");
  const std::vector<float> from_other = read_program(folder + "f32_rice_1.fits[1]");
  ASSERT_NE(from_rice, from_other);
  const struct {
    const char* path;
    const std::vector<float>& pixels;
    std::vector<std::string> requested;
  } cases[] = {{"both.fits", from_other, {"/both.fits.gz"}},
               {"alone.fits", from_rice, {"/alone.fits.gz", "/alone.fits.Z", "/alone.fits"}},
               {"named.fits.gz", from_rice, {"/named.fits.gz"}},
               {"asked.fits?v=2", from_rice, {"/asked.fits?v=2"}}};
  std::size_t seen = 0;
  for (const auto& c : cases) {
    EXPECT_EQ(read_program(server.url(c.path) + "[1]"), c.pixels) << c.path;
    const std::vector<std::string> requested = server.requested();
    ASSERT_GE(requested.size(), seen + c.requested.size()) << c.path;
    EXPECT_EQ(std::vector<std::string>(requested.begin() + seen, requested.begin() + seen + c.requested.size()),
              c.requested)
        << c.path;
    seen = requested.size();
  }
}

// Deflated bytes of `in` up to a full flush, after which the compressor
// starts afresh: the same input gives the same bytes again.
std::string deflated_to_flush(z_stream& z, const std::string& in) {
  std::string out(deflateBound(&z, in.size()) + 64, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
  z.avail_in = static_cast<uInt>(in.size());
  z.next_out = reinterpret_cast<Bytef*>(&out[0]);
  z.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&z, Z_FULL_FLUSH), Z_OK);
  EXPECT_EQ(z.avail_in, 0u);
  out.resize(out.size() - z.avail_out);
  return out;
}

// One gzip member of a small image followed by 4 GB of zeros, made from
// 16 MB of them deflated once and repeated, then a last empty block and
// the trailer. The library's own fetch inflated all of it into memory.
TEST(NetworkInput, ACompressedFileInflatesOnlyAsFarAsItsHeadersDescribe) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  fits_test::write_reference(scratch("small.fits"), BYTE_IMG, {8, 8}, std::vector<double>(64, 7.0));
  const std::string image = fits_test::read_bytes(scratch("small.fits"));
  const std::string zeros(16 << 20, '\0');
  constexpr int kRepeats = 256;
  z_stream z{};
  ASSERT_EQ(deflateInit2(&z, 9, Z_DEFLATED, 16 + MAX_WBITS, 9, Z_DEFAULT_STRATEGY), Z_OK);
  std::string bomb = deflated_to_flush(z, image);
  const std::string packed_zeros = deflated_to_flush(z, zeros);
  ASSERT_EQ(deflated_to_flush(z, zeros), packed_zeros);
  deflateEnd(&z);
  uLong crc = crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef*>(image.data()), image.size());
  const uLong zeros_crc = crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef*>(zeros.data()), zeros.size());
  for (int k = 0; k < kRepeats; k++) {
    bomb += packed_zeros;
    crc = crc32_combine(crc, zeros_crc, static_cast<z_off_t>(zeros.size()));
  }
  const unsigned long long inflated = image.size() + static_cast<unsigned long long>(kRepeats) * zeros.size();
  bomb += std::string("\x03\x00", 2);  // a final block holding nothing
  for (int k = 0; k < 4; k++) bomb.push_back(static_cast<char>(crc >> (8 * k)));
  for (int k = 0; k < 4; k++) bomb.push_back(static_cast<char>(inflated >> (8 * k)));
  const LoopbackHttp server({{"/bomb.fits.gz", bomb}});
  ASSERT_GT(server.port(), 0) << "no port on the loopback interface";
  const std::string url = server.url("bomb.fits.gz");
  EXPECT_EXIT(
      {
        fits_test::limit_address_space_to_2gb();
        const std::vector<float> pixels = read_program(url);
        _exit(pixels == std::vector<float>(64, 7.0f) ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

// A server that sends a small image and then zeros without end: the body
// is read as far as the image's header describes, and the transfer ended
// there, as the standard input is read. The whole body was held before.
TEST(NetworkInput, AServerThatSendsWithoutEndIsReadAsFarAsTheHeadersDescribe) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  fits_test::write_reference(scratch("endless.fits"), BYTE_IMG, {8, 8}, std::vector<double>(64, 5.0));
  const LoopbackHttp server({{"/endless.fits", fits_test::read_bytes(scratch("endless.fits"))}}, false, true);
  ASSERT_GT(server.port(), 0) << "no port on the loopback interface";
  const std::string url = server.url("endless.fits");
  EXPECT_EXIT(
      {
        fits_test::limit_address_space_to_2gb();
        const std::vector<float> pixels = read_program(url);
        _exit(pixels == std::vector<float>(64, 5.0f) ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(NetworkInput, SectionsAndFiltersAreRefusedAsForTheStandardInput) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const std::string folder = std::string(QZ_SOURCE_DIR) + "/tests/io/data/astropy/";
  const LoopbackHttp server({{"/in.fits", fits_test::read_bytes(folder + "scaled_int16_rice_1.fits")}});
  ASSERT_GT(server.port(), 0) << "no port on the loopback interface";
  for (const char* rest : {"[1][1:8,1:8]", "[1][*,*]"}) {
    const std::string url = server.url("in.fits");
    // The child's server has a port of its own.
    EXPECT_EXIT_STATUS(read_program(url + rest), 255,
                       "the fetched file is read whole: its name cannot select a section or a filter \\.\\.\\. "
                       "\\(http://127\\.0\\.0\\.1:[0-9]+/in\\.fits\\)")
        << rest;
  }
  // Other filters are refused before any fetch.
  for (const char* rest : {"[1][pix X*2]", "[1][col X=1]", "[1][X > 2]"})
    EXPECT_EXIT_STATUS(read_program(server.url("in.fits") + rest), 255,
                       "asks the FITS library for a [a-z ]+, which is refused")
        << rest;
}

// The open fails with the library's status, and the program says what it
// said: the library's time limit ends the wait for a host that takes the
// request and never answers.
TEST(NetworkInput, AHostThatDoesNotAnswerFailsTheOpenAsTheLibraryDid) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const int kept_limit = fits_net_timeout(0);
  fits_net_timeout(1);
  const LoopbackHttp silent({}, true);
  const LoopbackHttp empty({});
  ASSERT_GT(silent.port(), 0) << "no port on the loopback interface";
  ASSERT_GT(empty.port(), 0) << "no port on the loopback interface";
  int closed_port = 0;
  {
    // A port no one listens on any more.
    const LoopbackHttp gone({});
    closed_port = gone.port();
  }
  const struct {
    std::string url;
    std::vector<std::string> requested;  // of the server that answers
  } cases[] = {{silent.url("in.fits"), {}},
               {empty.url("in.fits"), {"/in.fits.gz", "/in.fits.Z", "/in.fits"}},
               {"http://127.0.0.1:" + std::to_string(closed_port) + "/in.fits", {}}};
  for (const auto& c : cases) {
    fitsfile* opened = nullptr;
    int status = 0;
    EXPECT_EQ(fits_open_input(&opened, c.url, READONLY, &status), FILE_NOT_OPENED) << c.url;
    EXPECT_EQ(fits_open_failure(c.url.c_str(), c.url, status, nullptr), "(" + c.url + ": No such file or directory)");
    // The child's servers have ports of their own.
    EXPECT_EXIT_STATUS(read_program(c.url), FILE_NOT_OPENED,
                       "Error: cannot open file \\(http://127\\.0\\.0\\.1:[0-9]+/in\\.fits: No such file or directory\\)")
        << c.url;
  }
  // The silent host was asked, and the wait for its answer ended.
  EXPECT_FALSE(silent.requested().empty());
  const std::vector<std::string> asked = empty.requested();
  ASSERT_GE(asked.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(asked.begin(), asked.begin() + 3), cases[1].requested);
  fits_net_timeout(kept_limit);
}

// The library's drivers are named in lower case, and it opens nothing by
// HTTP:// and the like (no request sent, status 124), as for FILE://: such
// a name is refused the same way, not fetched.
TEST(NetworkInput, PrefixesInCapitalsAreRefusedAsTheLibraryHasNoDriverForThem) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const std::string folder = std::string(QZ_SOURCE_DIR) + "/tests/io/data/astropy/";
  const LoopbackHttp server({{"/in.fits", fits_test::read_bytes(folder + "scaled_int16_rice_1.fits")}});
  ASSERT_GT(server.port(), 0) << "no port on the loopback interface";
  const struct {
    const char* prefix;
    const char* lower;
  } cases[] = {{"HTTP://", "http://"}, {"Https://", "https://"}, {"httpMem://", "httpmem://"},
               {"HTTPFILE://", "httpfile://"}};
  for (const auto& c : cases) {
    // The child's server has a port of its own.
    EXPECT_EXIT_STATUS(read_program(server.url("in.fits", c.prefix) + "[1]"), 255,
                       std::string("the FITS library reads the prefix ") + c.prefix + " in lower case only: write it " +
                           c.lower + " \\.\\.\\. \\(" + c.prefix + "127\\.0\\.0\\.1:[0-9]+/in\\.fits\\[1\\]\\)")
        << c.prefix;
  }
}

// A transfer that fails otherwise than for want of the file is reported as
// failed, with the server's status and libcurl's message: not as a file cut
// short, nor as no such file. A redirect to a local file is not followed:
// the file there, a valid image, would read. The library goes on past such
// a failure to the next file it tries, and so does the fetch.
TEST(NetworkInput, AFailedTransferIsReportedWithTheServersStatusAndLibcurlsMessage) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const std::string folder = std::string(QZ_SOURCE_DIR) + "/tests/io/data/astropy/";
  const std::string rice = fits_test::read_bytes(folder + "scaled_int16_rice_1.fits");
  ASSERT_EQ(rice.size(), 3u * 2880u);
  fits_test::write_reference(scratch("local.fits"), SHORT_IMG, {8, 8}, std::vector<double>(64, 3.0));
  ASSERT_EQ(read_program(scratch("local.fits")), std::vector<float>(64, 3.0f));
  const std::string server_error = "HTTP/1.0 500 Internal Server Error\r\nContent-Length: 0\r\n\r\n";
  const LoopbackHttp server(
      {{"/error_first.fits", rice}}, false, false,
      {{"/error_first.fits.gz", server_error},
       {"/error.fits", server_error},
       {"/twice.fits.gz", server_error},
       {"/twice.fits", server_error},
       // The headers and part of the data, of a length that says more.
       {"/cut.fits", "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(rice.size()) + "\r\n\r\n" +
                         rice.substr(0, 2 * 2880 + 100)},
       {"/moved.fits", "HTTP/1.0 302 Found\r\nLocation: file://" + scratch("local.fits") +
                           "\r\nContent-Length: 0\r\n\r\n"}});
  ASSERT_GT(server.port(), 0) << "no port on the loopback interface";
  EXPECT_EQ(read_program(server.url("error_first.fits") + "[1]"), read_program(folder + "scaled_int16_rice_1.fits[1]"));
  const struct {
    const char* path;
    const char* failure;
  } cases[] = {{"error.fits", "server status 500; libcurl: The requested URL returned error: 500"},
               // Each file tried fails alike: the last, the root, is named.
               {"twice.fits", "server status 500; libcurl: The requested URL returned error: 500"},
               {"cut.fits", "server status 200; libcurl: transfer closed with 2780 bytes remaining to read"},
               {"moved.fits", "server status 302; libcurl: [^)]*\"file\"[^)]*"}};
  for (const auto& c : cases) {
    // The child's server has a port of its own.
    EXPECT_EXIT_STATUS(read_program(server.url(c.path)), 255,
                       std::string("Error: the transfer of the file failed \\(") + c.failure +
                           "\\): try again, or fetch the file with another tool and name that copy \\.\\.\\. "
                           "\\(http://127\\.0\\.0\\.1:[0-9]+/" + c.path + "\\)")
        << c.path;
  }
}

// A name whose HDU the fetched file does not hold: the HDUs are listed from
// the bytes fetched, which are fetched once.
TEST(NetworkInput, AMissingHduIsListedFromTheFileFetchedOnce) {
  const std::string folder = std::string(QZ_SOURCE_DIR) + "/tests/io/data/astropy/";
  const LoopbackHttp server({{"/in.fits", fits_test::read_bytes(folder + "scaled_int16_rice_1.fits")}});
  ASSERT_GT(server.port(), 0) << "no port on the loopback interface";
  std::size_t seen = 0;
  for (const char* selector : {"[2]", "[FOO]", "[SCI,2]"}) {
    const std::string url = server.url("in.fits") + selector;
    fitsfile* opened = nullptr;
    int status = 0;
    EXPECT_NE(fits_open_input(&opened, url, READONLY, &status), 0) << selector;
    EXPECT_EQ(fits_open_failure(url.c_str(), url, status, opened),
              "(" + url + ": " + server.url("in.fits") + " has no such HDU: it holds [0], [1] SCI)")
        << selector;
    status = 0;
    if (opened != nullptr) fits_close_input(opened, &status);
    const std::vector<std::string> requested = server.requested();
    EXPECT_EQ(std::vector<std::string>(requested.begin() + std::min(seen, requested.size()), requested.end()),
              (std::vector<std::string>{"/in.fits.gz", "/in.fits.Z", "/in.fits"}))
        << selector;
    seen = requested.size();
  }
}

// The library's time limit ends a stall, not a slow transfer: a server that
// keeps sending, for longer than the limit in all, is read.
TEST(NetworkInput, TheTimeLimitDoesNotEndATransferThatKeepsComing) {
  const int kept_limit = fits_net_timeout(0);
  fits_net_timeout(1);
  const std::string folder = std::string(QZ_SOURCE_DIR) + "/tests/io/data/astropy/";
  const std::string rice = fits_test::read_bytes(folder + "scaled_int16_rice_1.fits");
  ASSERT_EQ(rice.size(), 3u * 2880u);
  // 17 pieces of 512 bytes, 150 ms apart: 2.5 s.
  LoopbackHttp slow({{"/in.fits", rice}});
  ASSERT_GT(slow.port(), 0) << "no port on the loopback interface";
  slow.pace(std::chrono::milliseconds(150));
  EXPECT_EQ(read_program(slow.url("in.fits") + "[1]"), read_program(folder + "scaled_int16_rice_1.fits[1]"));
  fits_net_timeout(kept_limit);
}

// A server that stops after its headers, or within the body, for longer
// than the time limit: a failed transfer, not a file cut short, nor a host
// that does not answer (it did).
TEST(NetworkInput, AStallAfterTheHeadersOrWithinTheBodyIsAFailedTransfer) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const int kept_limit = fits_net_timeout(0);
  fits_net_timeout(1);
  const std::string rice =
      fits_test::read_bytes(std::string(QZ_SOURCE_DIR) + "/tests/io/data/astropy/scaled_int16_rice_1.fits");
  ASSERT_EQ(rice.size(), 3u * 2880u);
  const std::string headers = "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(rice.size()) + "\r\n\r\n";
  LoopbackHttp stalled({}, false, false,
                       {{"/in.fits", headers + rice.substr(0, 2 * 2880 + 100)}, {"/headers.fits", headers}});
  ASSERT_GT(stalled.port(), 0) << "no port on the loopback interface";
  stalled.hold_replies();
  for (const char* path : {"in.fits", "headers.fits"}) {
    // The child's server has a port of its own.
    EXPECT_EXIT_STATUS(read_program(stalled.url(path) + "[1]"), 255,
                       std::string("Error: the transfer of the file failed \\(server status 200; libcurl: Operation "
                                   "too slow[^)]*\\): try again, or fetch the file with another tool and name that "
                                   "copy \\.\\.\\. \\(http://127\\.0\\.0\\.1:[0-9]+/") +
                           path + "\\)")
        << path;
  }
  fits_net_timeout(kept_limit);
}

// A server's 410 (gone) says, as its 404, that it has no such file: the
// fetch goes on to the next file the library tries, and where none is
// there, the open fails as for no such file, with the library's status.
TEST(NetworkInput, AFileTheServerSaysIsGoneIsNoSuchFile) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const std::string folder = std::string(QZ_SOURCE_DIR) + "/tests/io/data/astropy/";
  const std::string rice = fits_test::read_bytes(folder + "scaled_int16_rice_1.fits");
  const std::string gone = "HTTP/1.0 410 Gone\r\nContent-Length: 0\r\n\r\n";
  const LoopbackHttp server({{"/later.fits", rice}}, false, false,
                            {{"/later.fits.gz", gone}, {"/gone.fits.gz", gone}, {"/gone.fits", gone}});
  ASSERT_GT(server.port(), 0) << "no port on the loopback interface";
  EXPECT_EQ(read_program(server.url("later.fits") + "[1]"), read_program(folder + "scaled_int16_rice_1.fits[1]"));
  // The child's server has a port of its own.
  EXPECT_EXIT_STATUS(read_program(server.url("gone.fits")), FILE_NOT_OPENED,
                     "Error: cannot open file \\(http://127\\.0\\.0\\.1:[0-9]+/gone\\.fits: No such file or "
                     "directory\\)");
}
