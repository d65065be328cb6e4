// Raw buffers and the swap-file memory: the RAM-or-swap choice, swap files
// really created, mapped and removed in a temporary directory, settings from
// the environment, messages of bad releases and the exit statuses of failures;
// many threads in the layer at once, and no swap file left by a failure on
// any thread.
#include "array/vms.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "array/fatal.h"
#include "array/to_array.h"
#include "support/capture.h"
#include "support/death.h"

#if defined(__SANITIZE_ADDRESS__)
#define QZ_UNDER_ASAN 1
#else
#define QZ_UNDER_ASAN 0
#endif

namespace fs = std::filesystem;

namespace {

constexpr std::size_t MB = std::size_t(1) << 20;
// The layer's exit status -2000 as the shell sees it (modulo 256).
constexpr int LayerFailure = 48;

std::vector<std::string> files_in(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().string());
  return names;
}

// A private swap directory and the layer's settings restored afterwards.
class Vms : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = ::testing::TempDir() + "qz_vms_XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    ASSERT_NE(mkdtemp(buffer.data()), nullptr);
    dir_ = buffer.data();
    std::strcpy(emem_tmpdirname, dir_.c_str());
    unsetenv("ZUB_VM_SIZE");
    unsetenv("ZUB_VM_DIR");
  }
  void TearDown() override {
    EXPECT_EQ(malloc_table, nullptr) << "a test left allocations in the list";
    EXPECT_EQ(total_allocated_RAM, 0u);
    EXPECT_EQ(total_allocated_SWAP, 0u);
    // Back to the start-up settings.
    UseVMS = 0;
    emem_ramlimit = 4;
    emem_vm_limit = 1024;
    emem_vm_pagesize = 1024;
    std::strcpy(emem_tmpdirname, ".");
    fs::remove_all(dir_);
  }

  bool in_swap(void* p) {
    for (mem_alloc_record* r = malloc_table; r != nullptr; r = r->next)
      if (r->address == p) return r->kind == VmsSwap;
    ADD_FAILURE() << "pointer not listed";
    return false;
  }

  std::string dir_;
};

}  // namespace

TEST(RawBuffers, PlainModeUsesTheHeapAndStopsWhenItFails) {
  ASSERT_EQ(UseVMS, 0);
  free_buffer(nullptr);
  char* p = static_cast<char*>(alloc_buffer(4096));
  std::memset(p, 7, 4096);
  free_buffer(p);
  EXPECT_EQ(malloc_table, nullptr);
  if (QZ_UNDER_ASAN) GTEST_SKIP() << "the sanitizer aborts oversized requests itself";
  EXPECT_EXIT_STATUS(alloc_buffer(SIZE_MAX / 2), 255, "Error: cannot allocate memory \\.\\.\\. ");
}

TEST_F(Vms, EnvironmentSizeAndDirectory) {
  // The last one is more megabytes than an int holds.
  for (const char* ignored : {"0", "abc", "-5", "99999999999"}) {
    setenv("ZUB_VM_SIZE", ignored, 1);
    VMS_Status status;
    EXPECT_EQ(emem_ramlimit, 4) << ignored;
  }
  setenv("ZUB_VM_SIZE", "16", 1);
  VMS_Status sixteen;
  EXPECT_EQ(emem_ramlimit, 16);
  EXPECT_EQ(sixteen.Verbose, 0);

  vms_init(8, dir_.c_str(), False);
  EXPECT_EQ(UseVMS, 1);
  EXPECT_EQ(emem_ramlimit, 8);
  vms_init(0, dir_.c_str(), False);
  EXPECT_EQ(emem_ramlimit, 16);  // falls back to the environment

  setenv("ZUB_VM_DIR", "/some/where", 1);
  VMSStatus.set_dir(nullptr);
  EXPECT_STREQ(emem_tmpdirname, "/some/where");
  VMSStatus.set_dir(dir_.c_str());
  EXPECT_STREQ(emem_tmpdirname, dir_.c_str());
  unsetenv("ZUB_VM_DIR");
  unsetenv("ZUB_VM_SIZE");

  std::strcpy(emem_tmpdirname, ".");
  vms_init(0, "", False);
  EXPECT_STREQ(emem_tmpdirname, ".");

  EXPECT_EQ(qz_test::stdout_of([&] { vms_init(5, dir_.c_str(), True); }),
            "Virtual memory limit size = 5\nVirtual memory directory = " + dir_ + "\n");
  EXPECT_EQ(VMSStatus.Verbose, 1);
  VMSStatus.Verbose = 0;
}

TEST_F(Vms, SwapFileNamesAndBoundedDirectories) {
  file_reg = 0x1f;
  char pid[32];
  std::snprintf(pid, sizeof(pid), "%05ld", static_cast<long>(getpid()));
  EXPECT_EQ(std::string(get_tempfile_name()), dir_ + "/vmswap_" + pid + "_00020");
  EXPECT_EQ(file_reg, 0x20);

  std::string long_dir(5000, 'd');
  EXPECT_NE(qz_test::stderr_of([&] { VMSStatus.set_dir(long_dir.c_str()); }).find("too long"),
            std::string::npos);
  EXPECT_STREQ(emem_tmpdirname, dir_.c_str());
  set_tmpdirname(long_dir.c_str());
  EXPECT_EQ(std::strlen(emem_tmpdirname), 255u);
  // The longest accepted directory still gives a whole swap file name.
  std::string longest(VmsDirNameSize - 1, 'x');
  VMSStatus.set_dir(longest.c_str());
  EXPECT_EQ(std::string(get_tempfile_name()), longest + "/vmswap_" + pid + "_00021");
}

TEST_F(Vms, RamOrSwapAtTheLimit) {
  UseVMS = 1;
  void* three = ext_malloc_x(3 * MB, "test", 1);
  EXPECT_FALSE(in_swap(three));
  // 3 MB + 1 MB reaches the 4 MB limit: swap for malloc ...
  void* one = ext_malloc_x(MB, "test", 2);
  EXPECT_TRUE(in_swap(one));
  EXPECT_EQ(total_allocated_SWAP, MB);
  EXPECT_EQ(total_allocated_RAM, 3 * MB);
  // ... but calloc goes to swap only past the limit.
  void* zeroed = ext_calloc_x(1024, 1024, "test", 3);
  EXPECT_FALSE(in_swap(zeroed));
  EXPECT_EQ(static_cast<char*>(zeroed)[MB - 1], 0);
  // A request of one page stays in RAM whatever the totals.
  void* page = ext_malloc_x(1024, "test", 4);
  EXPECT_FALSE(in_swap(page));
  void* more = ext_calloc_x(2, 1024, "test", 5);
  EXPECT_TRUE(in_swap(more));
  EXPECT_EQ(nalloc_ptrs, 5);
  EXPECT_EQ(nswapfiles, 2);
  EXPECT_EQ(files_in(dir_).size(), 2u);
  for (void* p : {three, one, zeroed, page, more}) ext_free_x(p, "test", 9);
  EXPECT_EQ(nalloc_ptrs, 0);
  EXPECT_EQ(nswapfiles, 0);
  EXPECT_TRUE(files_in(dir_).empty());

  // 4096 MB is 2^32 bytes: a 32-bit limit would be 0 and send everything
  // above a page to swap.
  VMSStatus.set_size(4096);
  void* p = ext_malloc_x(2048, "test", 1);
  EXPECT_FALSE(in_swap(p));
  ext_free_x(p, "test", 2);
}

TEST_F(Vms, SwapFileIsCreatedMappedAndRemoved) {
  char* p = static_cast<char*>(swap_malloc_x(2500, "test", 7));
  ASSERT_EQ(malloc_table->address, p);
  std::string name = malloc_table->swapfile;
  EXPECT_EQ(name.rfind(dir_ + "/vmswap_", 0), 0u);
  struct stat st;
  ASSERT_EQ(stat(name.c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 3 * 1024);  // three whole zero pages
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  // Zero-filled, and what is written reaches the file.
  for (int k = 0; k < 2500; k++) ASSERT_EQ(p[k], 0);
  for (int k = 0; k < 2500; k++) p[k] = static_cast<char>(k * 7 + 1);
  ASSERT_EQ(msync(p, 2500, MS_SYNC), 0);
  std::ifstream file(name, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  ASSERT_EQ(bytes.size(), 3072u);
  for (int k = 0; k < 3072; k++) ASSERT_EQ(bytes[k], k < 2500 ? static_cast<char>(k * 7 + 1) : 0);
  EXPECT_EQ(total_allocated_SWAP, 2500u);
  EXPECT_EQ(nswapfiles, 1);

  swap_free_x(p, "test", 8);
  EXPECT_NE(stat(name.c_str(), &st), 0);
  EXPECT_EQ(nswapfiles, 0);
  EXPECT_EQ(total_allocated_SWAP, 0u);
}

namespace {

void fill_pool_through_swap_and_exit(const std::string& dir) {
  vms_init(1, dir.c_str(), False);
  to_array<float, false> image(600, 600);  // 1.44 MB: past the 1 MB limit
  image(599, 599) = 3.f;
  if (files_in(dir).size() != 1) std::_Exit(3);
  image.free();
  std::exit(0);  // the pools release their buffers at exit
}

void plant_next_swap_file_and_allocate() {
  char planted[VmsDirNameSize + 64];
  std::snprintf(planted, sizeof(planted), "%s/vmswap_%05ld_%05x", emem_tmpdirname,
                static_cast<long>(getpid()), static_cast<unsigned>(file_reg + 1));
  std::ofstream(planted) << "keep";
  swap_malloc_x(5000, "test", 1);
}

}  // namespace

TEST_F(Vms, PoolBuffersInSwapFilesAreRemovedAtExit) {
  EXPECT_EXIT(fill_pool_through_swap_and_exit(dir_), ::testing::ExitedWithCode(0), "");
  EXPECT_TRUE(files_in(dir_).empty());
}

namespace {

#if QZ_UNDER_ASAN || defined(__SANITIZE_THREAD__)
constexpr bool RssFollowsPages = false;  // the sanitizers fill or shadow memory themselves
#else
constexpr bool RssFollowsPages = true;
#endif

std::size_t resident_bytes() {
  std::ifstream statm("/proc/self/statm");
  std::size_t size = 0, resident = 0;
  statm >> size >> resident;
  return resident * static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}

bool all_zero(const void* p, std::size_t bytes) {
  const auto* c = static_cast<const unsigned char*>(p);
  for (std::size_t k = 0; k < bytes; k++)
    if (c[k] != 0) return false;
  return true;
}

// A RAM limit that keeps every request in RAM, and one that sends them all
// to swap files.
const struct {
  int ram_limit_mb;
  bool swap;
  const char* name;
} ZeroedCases[] = {{4000, false, "RAM"}, {1, true, "swap file"}};

// In a child, as the pools keep their buffers to the end: zero-filled arrays
// of the lazy size (new buffers from the layer's zeroing allocation) and of a
// smaller one, each dirtied, released to its pool and taken again.
void pool_arrays_read_as_zeros(const std::string& dir, int ram_limit_mb) {
  vms_init(ram_limit_mb, dir.c_str(), False);
  for (int lines : {2048, 300}) {
    float* first = nullptr;
    for (int round = 0; round < 2; round++) {
      to_array<float, false> a(lines, 1103);
      if (round == 0) first = a.buffer();
      else if (a.buffer() != first) std::_Exit(2);  // not the pool's buffer again
      if (!all_zero(a.buffer(), sizeof(float) * a.n_elem())) std::_Exit(3 + round);
      for (int k = 0; k < a.n_elem(); k++) a(k) = 7.f;
    }
  }
  std::exit(0);
}

}  // namespace

TEST_F(Vms, ZeroedBuffersReadAsZerosAndBecomeResidentOnlyWhenUsed) {
  // 48 MB comes as fresh pages from the system; after 12 MB were freed, the
  // C library serves 12 MB from the memory that held them.
  for (const auto& c : ZeroedCases) {
    vms_init(c.ram_limit_mb, dir_.c_str(), False);
    for (const std::size_t size : {48 * MB, 12 * MB}) {
      const std::string label = std::string(c.name) + ", " + std::to_string(size / MB) + " MB";
      for (int k = 0; k < 2; k++) {
        void* dirty = alloc_buffer(size);
        std::memset(dirty, 0x5a, size);
        free_buffer(dirty);
      }
      const std::size_t before = resident_bytes();
      void* p = alloc_zeroed_buffer(size);
      const std::size_t taken = resident_bytes() - before;
      if (RssFollowsPages) {
        EXPECT_LT(taken, 8 * MB) << label;
      }
      EXPECT_EQ(in_swap(p), c.swap) << label;
      EXPECT_TRUE(all_zero(p, size)) << label;
      std::memset(p, 0x5a, size);
      free_buffer(p);
      p = alloc_zeroed_buffer(size);
      EXPECT_TRUE(all_zero(p, size)) << label << ", after one was dirtied and freed";
      free_buffer(p);
    }
    EXPECT_EXIT(pool_arrays_read_as_zeros(dir_, c.ram_limit_mb), ::testing::ExitedWithCode(0), "")
        << c.name;
    EXPECT_TRUE(files_in(dir_).empty()) << c.name;
  }
}

TEST_F(Vms, BadReleasesAreReportedAndIgnored) {
  UseVMS = 1;
  void* p = alloc_buffer(100);
  free_buffer(p);
  EXPECT_EQ(qz_test::stdout_of([&] { free_buffer(p); }),  // the list is empty now
            "VMS (170): free requested on unallocated pointer\n");

  void* ram = ext_malloc_x(64, "test", 1);
  void* swap = swap_malloc_x(5000, "test", 2);
  int unlisted = 0;
  EXPECT_EQ(qz_test::stdout_of([&] {
              ext_free_x(&unlisted, "caller", 12);
              ext_free_x(nullptr, "caller", 13);
              ram_free(swap, "caller", 14);
              swap_free_x(ram, "caller", 15);
            }),
            "caller (12) free requested on unallocated pointer\n"
            "caller (13): free requested on NULL pointer\n"
            "trying to RAM free a non-RAM pointer: skipping free\n"
            "trying to RAM free a non-SWAP pointer: skipping free\n");
  EXPECT_EQ(nalloc_ptrs, 2);
  ram_free(ram, "test", 3);
  ext_free_x(swap, "test", 4);
  EXPECT_EQ(nalloc_ptrs, 0);
}

TEST_F(Vms, ParametersAndStatusReports) {
  set_memory_parameter("vm_page_size", 4096);
  set_memory_parameter("max_swap", 2);
  set_memory_parameter("max_ram", 6);
  EXPECT_EQ(qz_test::stdout_of([] {
              EXPECT_EQ(get_memory_parameter("colour"), 0);
              set_memory_parameter("colour", 1);
            }),
            "cannot get memory parameter: [colour]\ncannot set memory parameter: [colour]\n");

  EXPECT_EQ(qz_test::stderr_of([] {
              print_memory_parameters();
              memory_status();  // nothing is allocated: no report
            }),
            "MEM: ramlimit  6\nMEM: vmlimit   2\nMEM: pagesize  4096\nMEM: tmpdir    [" + dir_ +
                "]\n");

  void* ram = ram_calloc(10, 3, "here", 21);
  void* swap = swap_malloc_x(5000, "there", 22);
  char* copy = ext_strdup_x("text", "dup", 23);
  EXPECT_STREQ(copy, "text");
  EXPECT_EQ(get_memory_parameter("total_alloc_ram"), 35);
  EXPECT_EQ(get_memory_parameter("total_alloc_swap"), 5000);
  EXPECT_EQ(get_memory_parameter("total_alloc"), 5035);
  const std::string report = qz_test::stderr_of(memory_status);
  EXPECT_EQ(report.rfind("**** MEMORY STATUS\nmemory in use  : 5035 bytes\n"
                         "RAM            : 35 bytes\nSWAP           : 5000 bytes\n"
                         "open swapfiles : 1\n[RAM] po=", 0),
            0u)
      << report;
  EXPECT_NE(report.find("size=30 allocated in here (21) \n[SWP] po="), std::string::npos) << report;
  EXPECT_NE(report.find("size=5000 allocated in there (22) in swapfile " + dir_ + "/vmswap_"),
            std::string::npos)
      << report;
  EXPECT_NE(report.find("size=5 allocated in dup (23) \n"), std::string::npos) << report;
  ext_free_x(copy, "t", 1);
  ext_free_x(swap, "t", 2);
  ext_free_x(ram, "t", 3);
}

TEST_F(Vms, FailuresEndWithTheLayerStatus) {
  emem_vm_limit = 1;
  EXPECT_EXIT_STATUS(swap_malloc_x(2 * MB, "test", 1), LayerFailure,
                     "fatal: swap space overflow --> killing process");
  emem_vm_limit = 1024;
  std::strcpy(emem_tmpdirname, (dir_ + "/missing").c_str());
  EXPECT_EXIT_STATUS(swap_malloc_x(5000, "test", 2), LayerFailure, "cannot create swapfile");
  std::strcpy(emem_tmpdirname, dir_.c_str());
  if (!QZ_UNDER_ASAN) {
    EXPECT_EXIT_STATUS(ram_malloc(SIZE_MAX / 2, "big", 3), LayerFailure,
                       "failed to allocate RAM [0-9]+ bytes in big \\(3\\)");
    EXPECT_EXIT_STATUS(ext_calloc_x(SIZE_MAX / 2, 4, "big", 4), LayerFailure,
                       "failed to allocate RAM");
  }
  // A file planted under the next name is neither opened nor overwritten.
  EXPECT_EXIT_STATUS(plant_next_swap_file_and_allocate(), LayerFailure, "cannot create swapfile");
  std::vector<std::string> left = files_in(dir_);
  ASSERT_EQ(left.size(), 1u);
  std::ifstream planted(left[0]);
  std::string content;
  planted >> content;
  EXPECT_EQ(content, "keep");
}

TEST_F(Vms, FileUtilitiesAndCleanup) {
  EXPECT_EQ(test_write_permission(dir_.c_str()), 1);
  EXPECT_EQ(test_write_permission((dir_ + "/none/x").c_str()), 0);
  EXPECT_GT(get_avail_kbytes(dir_.c_str()), 0);
  // A directory name with blanks, quotes and shell characters is read as a
  // name, never run; a missing directory gives 0.
  std::string odd = dir_ + "/a b'c;touch injected";
  ASSERT_TRUE(fs::create_directory(odd));
  EXPECT_GT(get_avail_kbytes(odd.c_str()), 0);
  EXPECT_FALSE(fs::exists("injected"));
  fs::remove(odd);
  EXPECT_EQ(get_avail_kbytes((dir_ + "/missing").c_str()), 0);

  std::string path = dir_ + "/data.bin";
  std::string payload = "0123456789abcdef";
  std::ofstream(path, std::ios::binary) << payload;
  mmap_record* mapped = mmap_open(path.c_str());
  ASSERT_NE(mapped, nullptr);
  EXPECT_EQ(mapped->length, 16);
  EXPECT_EQ(mapped->path, path);
  EXPECT_EQ(std::string(static_cast<const char*>(mapped->address), 16), payload);
  mmap_close(mapped);
  mmap_close(nullptr);
  std::ofstream(dir_ + "/empty.bin");
  EXPECT_EQ(mmap_open((dir_ + "/empty.bin").c_str()), nullptr);
  EXPECT_EQ(mmap_open((dir_ + "/none").c_str()), nullptr);

  // The clean-up removes this process's swap files and nothing else.
  std::vector<std::string> names;
  for (int k = 0; k < 3; k++) {
    names.push_back(get_tempfile_name());
    std::ofstream(names.back()) << k;
  }
  const std::string messages = qz_test::stderr_of(cleanup_mess);
  for (const std::string& name : names) {
    EXPECT_FALSE(fs::exists(name));
    EXPECT_NE(messages.find("\n*** cleaned up tmp file [" + name + "]"), std::string::npos);
  }
  EXPECT_TRUE(fs::exists(path));
}

TEST_F(Vms, StackDumpAsksTheDebuggerForThisProcess) {
  // A stand-in gdb first on the PATH prints what it was asked; with no
  // debugger at all nothing is printed, never a shell complaint.
  const std::string script = dir_ + "/gdb";
  std::ofstream(script) << "#!/bin/sh\necho \"stand-in gdb $*\"\n";
  ASSERT_EQ(chmod(script.c_str(), 0700), 0);
  const std::string old_path = std::getenv("PATH") ? std::getenv("PATH") : "";
  const struct {
    std::string path;
    std::string expected;
  } cases[] = {
      {dir_ + ":" + old_path,
       "stand-in gdb -batch -p " + std::to_string(getpid()) + " -ex where -ex detach\n"},
      {dir_ + "/none", ""},
  };
  for (const auto& c : cases) {
    setenv("PATH", c.path.c_str(), 1);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    dump_stack();
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    setenv("PATH", old_path.c_str(), 1);
    EXPECT_EQ(out + err, c.expected);
  }
}

TEST(VmsSignals, HandlersEndWithStatusOne) {
  EXPECT_EXIT(cleanup_mess_wrapper(), ::testing::ExitedWithCode(1),
              "\\*\\*\\*\\* user interrupted process [0-9]+ \\*\\*\\*\\*");
  EXPECT_EXIT(fatal_signal_handler(), ::testing::ExitedWithCode(1),
              "fatal error in pid [0-9]+\n\\*\\*\\*\\* Segmentation fault or Bus Error");
  EXPECT_EXIT(
      {
        signal_catch(SIGUSR1, cleanup_mess_wrapper);
        raise(SIGUSR1);
      },
      ::testing::ExitedWithCode(1), "user interrupted");
  EXPECT_EQ(signal_catch(SIGKILL, cleanup_mess_wrapper), -1);
}

namespace {

constexpr int StressThreads = 8;

// Each thread keeps `live` allocations of `bytes` at a time, writes its own
// pattern into them, checks it and gives them back, `rounds` times over.
// Returns the allocations whose content another allocation overwrote.
int stress_alloc_free(std::size_t bytes, int rounds, int live) {
  std::atomic<int> overwritten{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < StressThreads; t++)
    threads.emplace_back([&, t] {
      std::vector<unsigned char*> held(live);
      for (int r = 0; r < rounds; r++) {
        for (int k = 0; k < live; k++) {
          held[k] = static_cast<unsigned char*>(alloc_buffer(bytes));
          std::memset(held[k], (t * live + k) & 0xff, bytes);
        }
        for (int k = 0; k < live; k++) {
          if (held[k][0] != ((t * live + k) & 0xff) || held[k][bytes - 1] != held[k][0])
            overwritten++;
          free_buffer(held[k]);
        }
      }
    });
  for (std::thread& thread : threads) thread.join();
  return overwritten;
}

}  // namespace

TEST_F(Vms, ManyThreadsAllocateAndReleaseAtOnce) {
  UseVMS = 1;
  // RAM: a request of one page never goes to swap. Swap: with no RAM allowed,
  // every request above a page becomes a swap file.
  const struct {
    const char* kind;
    int ram_limit;
    std::size_t bytes;
    int rounds;
  } cases[] = {{"RAM", 4, 1024, 500}, {"swap", 0, 3000, 12}};
  for (const auto& c : cases) {
    emem_ramlimit = c.ram_limit;
    const long first_file = file_reg;
    const int live = 4;
    const std::string messages = qz_test::stdout_of([&] {
      EXPECT_EQ(stress_alloc_free(c.bytes, c.rounds, live), 0) << c.kind;
    });
    // The list and the byte totals are checked at the end of the test.
    EXPECT_EQ(messages, "") << c.kind;  // no release of an unlisted pointer
    EXPECT_EQ(nalloc_ptrs, 0) << c.kind;
    EXPECT_EQ(nswapfiles, 0) << c.kind;
    const long swap_files = c.ram_limit == 0 ? long(StressThreads) * c.rounds * live : 0;
    EXPECT_EQ(file_reg - first_file, swap_files) << c.kind;
    EXPECT_TRUE(files_in(dir_).empty()) << c.kind;
  }
}

TEST_F(Vms, SwapFileNamesFromManyThreadsAreDistinct) {
  const long first = file_reg;
  constexpr int Names = 300;
  std::vector<std::vector<std::string>> names(StressThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < StressThreads; t++)
    threads.emplace_back([&, t] {
      for (int k = 0; k < Names; k++) names[t].push_back(get_tempfile_name());
    });
  for (std::thread& thread : threads) thread.join();
  char pid[32];
  std::snprintf(pid, sizeof(pid), "%05ld", static_cast<long>(getpid()));
  std::set<std::string> expected;
  for (long k = first + 1; k <= first + StressThreads * Names; k++) {
    char number[16];
    std::snprintf(number, sizeof(number), "%05lx", k);
    expected.insert(dir_ + "/vmswap_" + pid + "_" + number);
  }
  std::set<std::string> got;
  for (const auto& list : names) got.insert(list.begin(), list.end());
  EXPECT_EQ(got.size(), expected.size()) << "names given twice";
  EXPECT_TRUE(got == expected) << "names outside the numbering";
  EXPECT_EQ(file_reg, first + StressThreads * Names);
}

namespace {

enum class Failing { main_thread, worker, while_first_file_is_made };

// Swap files in use on two threads, then the request past the swap limit
// fails on the main thread or on a worker while the other thread still
// writes into its mapping; or another failure comes while the first swap
// file of the process is being made.
void fail_with_swap_files_in_use(const std::string& dir, Failing failing) {
  vms_init(1, dir.c_str(), False);
  emem_ramlimit = 0;
  emem_vm_limit = 100;
  if (failing == Failing::while_first_file_is_made) {
    std::thread maker([] { alloc_buffer(64 * MB); });
    while (files_in(dir).empty()) std::this_thread::yield();
    std::thread([] { fatal_exit("Error: failed elsewhere\n", -2000); }).join();
  }
  char* main_buffer = static_cast<char*>(alloc_buffer(200000));
  std::atomic<bool> worker_ready{false}, files_counted{false};
  std::thread worker([&] {
    char* buffer = static_cast<char*>(alloc_buffer(300000));
    worker_ready = true;
    // Its failure would remove the files the main thread is counting.
    while (!files_counted) std::this_thread::yield();
    if (failing == Failing::worker) alloc_buffer(200 * MB);
    for (unsigned k = 0;; k++) buffer[k % 300000] = static_cast<char>(k);
  });
  while (!worker_ready) std::this_thread::yield();
  if (files_in(dir).size() != 2) std::_Exit(3);
  files_counted = true;
  if (failing != Failing::worker) alloc_buffer(200 * MB);
  for (unsigned k = 0;; k++) main_buffer[k % 200000] = static_cast<char>(k);
}

}  // namespace

TEST_F(Vms, NoSwapFileOutlivesAFailureOnAnyThread) {
  const struct {
    Failing failing;
    const char* name;
    const char* message;
  } cases[] = {
      {Failing::main_thread, "main thread", "fatal: swap space overflow --> killing process"},
      {Failing::worker, "worker", "fatal: swap space overflow --> killing process"},
      {Failing::while_first_file_is_made, "file being made", "Error: failed elsewhere"}};
  for (const auto& c : cases) {
    EXPECT_EXIT_STATUS(fail_with_swap_files_in_use(dir_, c.failing), LayerFailure, c.message)
        << c.name;
    EXPECT_TRUE(files_in(dir_).empty()) << c.name;
  }
}
