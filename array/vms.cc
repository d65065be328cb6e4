// Raw buffers and the swap-file memory (VMS). The settings, counters, the
// allocation list and the numbering of the swap files are global and shared
// by every thread: the workers of a parallel region take their buffers from
// different pools at the same time. One lock guards them all. Nothing in this
// file has a destructor that runs at exit: the buffer pools release their
// buffers through free_buffer while static objects are being destroyed.
#include "array/vms.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "array/fatal.h"
#include "array/stop_signals.h"

namespace {

// Tag and source lines under which the front end calls the layer.
const char* const VmsTag = "VMS";
constexpr int AllocLine = 162;
constexpr int FreeLine = 170;

// Exit statuses of the layer.
constexpr int AllocFailureStatus = -2000;
constexpr int RecordFailureStatus = 2001;

constexpr std::uint64_t MegaByte = std::uint64_t(1) << 20;

// Constant-initialised and never destroyed, so it serves the constructor of
// VMSStatus and the pools' destructors at exit as well. The layer never ends
// the process while holding it: the removal of the swap files at the end of
// the process takes it too.
std::mutex LayerLock;
using Hold = std::lock_guard<std::mutex>;

// Set when the end of the process has removed the swap files: a request
// after that is served from RAM, so that no new file outlives the process.
bool SwapClosed = false;

// A failure met under the lock, reported once the lock is released: by
// then another thread may be failing too, and only the first report prints.
class Failure {
 public:
  void set(int status, const char* format, ...) __attribute__((format(printf, 3, 4))) {
    va_list args, again;
    va_start(args, format);
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    std::vector<char> text(length > 0 ? length + 1 : 1, '\0');
    if (length > 0) std::vsnprintf(text.data(), text.size(), format, again);
    va_end(again);
    va_end(args);
    status_ = status;
    message_ = text.data();
  }
  // The error of a system call, reported through perror before the message.
  void system_error(const char* call) {
    call_ = call;
    error_ = errno;
  }
  void raise() const {
    if (status_ == 0) return;
    fatal_report(status_, [this] {
      if (!call_.empty()) {
        errno = error_;
        std::perror(call_.c_str());
      }
      std::fputs(message_.c_str(), stdout);
    });
  }

 private:
  int status_ = 0;
  std::string message_;
  std::string call_;
  int error_ = 0;
};

// Runs `allocate` (lock held, may record a failure), then ends the process
// on its failure.
template <class Allocate>
void* allocate_locked(Allocate allocate) {
  Failure failure;
  void* p;
  {
    const Hold hold(LayerLock);
    p = allocate(failure);
  }
  failure.raise();
  return p;
}

std::uint64_t ram_limit_bytes() { return std::uint64_t(emem_ramlimit) * MegaByte; }

// Positive leading integer of an environment variable (as atoi reads it), or 0.
int positive_env_int(const char* name) {
  const char* text = std::getenv(name);
  if (text == nullptr) return 0;
  errno = 0;
  long long value = std::strtoll(text, nullptr, 10);
  if (errno != 0 || value <= 0 || value > 2147483647LL) return 0;
  return static_cast<int>(value);
}

}  // namespace

// ---- Settings and counters ----

int UseVMS = 0;
int emem_ramlimit = 4;
char emem_tmpdirname[VmsDirNameSize] = ".";
long emem_vm_limit = 1024;
long emem_vm_pagesize = 1024;

std::uint64_t total_allocated_RAM = 0;
std::uint64_t total_allocated_SWAP = 0;
int nswapfiles = 0;
int nalloc_ptrs = 0;
long file_reg = 0;
mem_alloc_record* malloc_table = nullptr;

// ---- Front end ----

void memory_abort() { fatal_exit("Error: cannot allocate memory ... \n", -1, stderr); }

void* alloc_buffer(std::size_t size) {
  void* p = UseVMS ? mem_alloc_buffer(size) : std::malloc(size == 0 ? 1 : size);
  if (p == nullptr) memory_abort();
  return p;
}

void* alloc_zeroed_buffer(std::size_t size) {
  if (!UseVMS) {
    void* p = std::calloc(size == 0 ? 1 : size, 1);
    if (p == nullptr) memory_abort();
    return p;
  }
  // The layer's zeroing allocation: calloc in RAM, a fresh file in swap.
  // Either way a page becomes resident only when it is used, as from the
  // heap; clearing the buffer here would make every page of it resident.
  void* p = mem_calloc_buffer(size);
  if (p == nullptr) memory_abort();
  return p;
}

void free_buffer(void* p) {
  if (p == nullptr) return;
  if (UseVMS) mem_free_buffer(p);
  else std::free(p);
}

void* mem_alloc_buffer(std::size_t size) { return ext_malloc_x(size, VmsTag, AllocLine); }
void* mem_calloc_buffer(std::size_t size) {
  return ext_calloc_x(size == 0 ? 1 : size, 1, VmsTag, AllocLine);
}
void mem_free_buffer(void* p) { ext_free_x(p, VmsTag, FreeLine); }

VMS_Status::VMS_Status() : Verbose(0) {
  set_size(0);
  set_dir(nullptr);
}

void VMS_Status::set_size(int n) {
  const Hold hold(LayerLock);
  if (n >= 1) {
    emem_ramlimit = n;
    return;
  }
  int env = positive_env_int("ZUB_VM_SIZE");
  if (env > 0) emem_ramlimit = env;
}

void VMS_Status::set_dir(const char* dir) {
  const Hold hold(LayerLock);
  if (dir == nullptr || dir[0] == '\0') dir = std::getenv("ZUB_VM_DIR");
  if (dir == nullptr) return;
  // Swap files in a cut-down directory name would land somewhere the user did
  // not choose: a name that does not fit is refused.
  if (std::strlen(dir) >= sizeof(emem_tmpdirname)) {
    std::fprintf(stderr, "Error: swap directory name of %zu characters is too long, kept [%s]\n",
                 std::strlen(dir), emem_tmpdirname);
    return;
  }
  std::strcpy(emem_tmpdirname, dir);
}

void VMS_Status::print() {
  const Hold hold(LayerLock);
  std::printf("Virtual memory limit size = %d\n", emem_ramlimit);
  std::printf("Virtual memory directory = %s\n", emem_tmpdirname);
}

VMS_Status VMSStatus;

// ---- Allocation list (all under the lock) ----

namespace {

void append_record(mem_alloc_record* record) {
  if (malloc_table == nullptr) {
    malloc_table = record;
    return;
  }
  mem_alloc_record* last = malloc_table;
  while (last->next != nullptr) last = last->next;
  last->next = record;
  record->prev = last;
}

void unlink_record(mem_alloc_record* record) {
  if (record->prev != nullptr) record->prev->next = record->next;
  else malloc_table = record->next;
  if (record->next != nullptr) record->next->prev = record->prev;
  delete record;
}

// Counts and lists an allocation of either kind; returns its address.
void* list_allocation(std::unique_ptr<mem_alloc_record> record, void* p, std::uint64_t size,
                      const char* tag, int line, int kind) {
  nalloc_ptrs++;
  record->address = p;
  record->size = size;
  record->tag = tag != nullptr ? tag : "";
  record->line = line;
  record->kind = kind;
  append_record(record.release());
  return p;
}

// Swap file name of number k of this process. The name holds the longest
// directory emem_tmpdirname can hold, so it is never cut.
std::string swap_file_name(long k) {
  char name[VmsDirNameSize + 64];
  std::snprintf(name, sizeof(name), "%s/vmswap_%05ld_%05x", emem_tmpdirname,
                static_cast<long>(getpid()), static_cast<unsigned>(k));
  return name;
}

std::string next_swap_file_name() { return swap_file_name(++file_reg); }

// The end of the process, by exit or by a fatal error on any thread, removes
// the swap files still in use. On exit the pools give their buffers back only
// afterwards, and find their files gone; from a failing worker the mappings
// stay in place for the threads that still use them until the process ends.
void remove_swap_files_at_end() {
  const Hold hold(LayerLock);
  SwapClosed = true;
  for (mem_alloc_record* r = malloc_table; r != nullptr; r = r->next)
    if (r->kind == VmsSwap && !r->removed) {
      unlink(r->swapfile.c_str());
      r->removed = true;
      stop_forget(r->stop_handle);
    }
}

// Before the first swap file exists: a failure elsewhere may end the process
// while a file is being made, and the removal then waits for it.
void register_swap_removal() {
  static bool registered = false;
  if (!registered) at_process_end(remove_swap_files_at_end);
  registered = true;
}

// RAM with a record, from malloc or zeroed from calloc; their messages
// differ by the blank before a colon.
void* ram_alloc_locked(std::size_t count, std::size_t size, bool zeroed, const char* tag, int line,
                       Failure& failure) {
  const std::size_t bytes = count * size;  // the callers checked the product
  const char* colon = zeroed ? ":" : " :";
  std::unique_ptr<mem_alloc_record> record(new (std::nothrow) mem_alloc_record);
  void* p = zeroed ? std::calloc(count == 0 ? 1 : count, size == 0 ? 1 : size)
                   : std::malloc(bytes == 0 ? 1 : bytes);
  if (p == nullptr) {
    failure.set(AllocFailureStatus,
                "failed to allocate RAM %zu bytes in %s (%d)\n"
                "total RAM allocated so far%s %" PRIu64 " bytes\nexiting program now\n",
                bytes, tag, line, colon, total_allocated_RAM);
    return nullptr;
  }
  if (record == nullptr) {
    std::free(p);
    failure.set(RecordFailureStatus, "fatal error in memory%s life functions terminated\n", colon);
    return nullptr;
  }
  total_allocated_RAM += bytes;
  return list_allocation(std::move(record), p, bytes, tag, line, VmsRam);
}

// Writes the whole page, going on after a partial write; false on failure.
bool write_page(int fd, const char* page, std::size_t size) {
  while (size > 0) {
    ssize_t written = write(fd, page, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      if (written == 0) errno = ENOSPC;
      return false;
    }
    page += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

// A swap file reads as zeros, so `zeroed` matters only for the RAM that
// serves the request once the swap files are gone.
void* swap_malloc_locked(std::size_t len, bool zeroed, const char* tag, int line,
                         Failure& failure) {
  if (SwapClosed) return ram_alloc_locked(1, len, zeroed, tag, line, failure);
  if (len + total_allocated_SWAP > std::uint64_t(emem_vm_limit) * MegaByte) {
    failure.set(AllocFailureStatus, "fatal: swap space overflow --> killing process\n");
    return nullptr;
  }
  // Taken first, so that a failure here leaves no file to remove.
  std::unique_ptr<mem_alloc_record> record(new (std::nothrow) mem_alloc_record);
  if (record == nullptr) {
    failure.set(RecordFailureStatus, "fatal error in memory: life functions terminated\n");
    return nullptr;
  }
  std::size_t page_size = static_cast<std::size_t>(emem_vm_pagesize);
  std::unique_ptr<char, decltype(&std::free)> page(static_cast<char*>(std::calloc(page_size, 1)),
                                                  &std::free);
  if (page == nullptr) {
    failure.set(AllocFailureStatus, "fatal: cannot allocate internal buffer\nexiting program now\n");
    return nullptr;
  }

  register_swap_removal();
  // Private to this user, and never an existing file (a planted link or a
  // file of another process). Known to a stop by signal before it exists,
  // and no stop comes between its registration and its creation.
  const std::string name = next_swap_file_name();
  long stop_handle;
  int fd;
  {
    const StopSignalsHeld held;
    stop_handle = stop_removes(name.c_str());
    fd = open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  }
  if (fd < 0) {
    stop_forget(stop_handle);
    failure.system_error("open");
    failure.set(AllocFailureStatus, "fatal: cannot create swapfile [%s]\nexiting program now\n",
                name.c_str());
    return nullptr;
  }
  fchmod(fd, 0600);

  std::uint64_t pages = (std::uint64_t(len) + page_size - 1) / page_size;
  for (std::uint64_t k = 0; k < pages; k++) {
    if (!write_page(fd, page.get(), page_size)) {
      failure.system_error("write");
      close(fd);
      std::remove(name.c_str());
      stop_forget(stop_handle);
      failure.set(AllocFailureStatus,
                  "fatal: cannot write to swapfile: [%s] full?\nexiting program now\n",
                  emem_tmpdirname);
      return nullptr;
    }
  }
  page.reset();

  void* p = mmap(nullptr, len, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (p == MAP_FAILED) {
    failure.set(AllocFailureStatus,
                "mmap failed with errno = %d\n"
                "failed to allocate SWAP %zu bytes in %s (%d)\n"
                "total SWAP allocated so far : %" PRIu64 " bytes\n"
                "%d swap files opened so far in %s\n"
                "exiting program now\n",
                errno, len, tag, line, total_allocated_SWAP, nswapfiles, emem_tmpdirname);
    close(fd);
    // No swap file is left behind for an allocation that never existed.
    std::remove(name.c_str());
    stop_forget(stop_handle);
    return nullptr;
  }

  total_allocated_SWAP += len;
  nswapfiles++;
  record->swapfile = name;
  record->fd = fd;
  record->stop_handle = stop_handle;
  return list_allocation(std::move(record), p, len, tag, line, VmsSwap);
}

}  // namespace

// ---- Switching the layer on ----

void vms_init(int size, const char* dir, Bool verbose) {
  {
    // While the program still runs on one thread.
    const Hold hold(LayerLock);
    register_swap_removal();
  }
  UseVMS = 1;
  VMSStatus.Verbose = verbose;
  VMSStatus.set_dir(dir);
  VMSStatus.set_size(size);
  if (verbose) VMSStatus.print();
}

// ---- RAM or swap ----

void* ext_malloc_x(std::size_t size, const char* tag, int line) {
  return allocate_locked([&](Failure& failure) {
    if (size > std::uint64_t(emem_vm_pagesize) && size + total_allocated_RAM >= ram_limit_bytes())
      return swap_malloc_locked(size, false, tag, line, failure);
    return ram_alloc_locked(1, size, false, tag, line, failure);
  });
}

namespace {

// count x size bytes; a product past the address space ends the process.
std::size_t calloc_bytes(std::size_t count, std::size_t size, const char* tag, int line) {
  std::size_t n;
  if (__builtin_mul_overflow(count, size, &n))
    fatal_exitf(AllocFailureStatus, stdout,
                "failed to allocate RAM %zu x %zu bytes in %s (%d)\nexiting program now\n", count,
                size, tag, line);
  return n;
}

}  // namespace

void* ext_calloc_x(std::size_t count, std::size_t size, const char* tag, int line) {
  const std::size_t n = calloc_bytes(count, size, tag, line);
  return allocate_locked([&](Failure& failure) {
    if (n > std::uint64_t(emem_vm_pagesize) && n + total_allocated_RAM > ram_limit_bytes())
      return swap_malloc_locked(n, true, tag, line, failure);
    return ram_alloc_locked(count, size, true, tag, line, failure);
  });
}

void* ram_malloc(std::size_t size, const char* tag, int line) {
  return allocate_locked(
      [&](Failure& failure) { return ram_alloc_locked(1, size, false, tag, line, failure); });
}

void* ram_calloc(std::size_t count, std::size_t size, const char* tag, int line) {
  calloc_bytes(count, size, tag, line);
  return allocate_locked(
      [&](Failure& failure) { return ram_alloc_locked(count, size, true, tag, line, failure); });
}

void* swap_malloc_x(std::size_t len, const char* tag, int line) {
  return allocate_locked(
      [&](Failure& failure) { return swap_malloc_locked(len, false, tag, line, failure); });
}

// ---- Release (under the lock) ----

namespace {

// The record of p, or null after the message of a null or unlisted pointer.
mem_alloc_record* find_record(void* p, const char* tag, int line) {
  if (p == nullptr) {
    std::printf("%s (%d): free requested on NULL pointer\n", tag, line);
    return nullptr;
  }
  if (malloc_table == nullptr) {
    std::printf("%s (%d): free requested on unallocated pointer\n", tag, line);
    return nullptr;
  }
  for (mem_alloc_record* r = malloc_table; r != nullptr; r = r->next)
    if (r->address == p) return r;
  std::printf("%s (%d) free requested on unallocated pointer\n", tag, line);
  return nullptr;
}

void release_ram(mem_alloc_record* record) {
  std::free(record->address);
  total_allocated_RAM -= record->size;
  nalloc_ptrs--;
  unlink_record(record);
}

// The two swap releases differ only in their close and remove messages.
void release_swap(mem_alloc_record* record, const char* tag, int line,
                  const char* close_message, bool perror_on_remove) {
  total_allocated_SWAP -= record->size;
  nalloc_ptrs--;
  if (munmap(record->address, record->size) != 0)
    std::printf("failed to munmap pointer %s (%d)\n", tag, line);
  if (close(record->fd) != 0) {
    std::perror("close");
    std::printf(close_message, record->swapfile.c_str());
  }
  if (!record->removed) {
    // A stop by signal under way may have removed it already.
    if (std::remove(record->swapfile.c_str()) != 0 && !stop_under_way()) {
      int error = errno;
      std::printf("failed to remove file %s: errno is %d\n", record->swapfile.c_str(), error);
      if (perror_on_remove) std::perror("remove");
    }
    stop_forget(record->stop_handle);
  }
  nswapfiles--;
  unlink_record(record);
}

}  // namespace

void ext_free_x(void* p, const char* tag, int line) {
  const Hold hold(LayerLock);
  mem_alloc_record* record = find_record(p, tag, line);
  if (record == nullptr) return;
  if (record->kind == VmsRam) release_ram(record);
  else release_swap(record, tag, line, "closing swap file [%s]", true);
}

void ram_free(void* p, const char* tag, int line) {
  const Hold hold(LayerLock);
  mem_alloc_record* record = find_record(p, tag, line);
  if (record == nullptr) return;
  if (record->kind != VmsRam) {
    std::printf("trying to RAM free a non-RAM pointer: skipping free\n");
    return;
  }
  release_ram(record);
}

void swap_free_x(void* p, const char* tag, int line) {
  const Hold hold(LayerLock);
  mem_alloc_record* record = find_record(p, tag, line);
  if (record == nullptr) return;
  if (record->kind != VmsSwap) {
    std::printf("trying to RAM free a non-SWAP pointer: skipping free\n");
    return;
  }
  release_swap(record, tag, line, "closing file [%s]", false);
}

char* ext_strdup_x(const char* s, const char* tag, int line) {
  std::size_t length = std::strlen(s);
  char* copy = static_cast<char*>(ram_malloc(length + 1, tag, line));
  std::memcpy(copy, s, length + 1);
  return copy;
}

// ---- Parameters and reports ----

long get_memory_parameter(const char* name) {
  const Hold hold(LayerLock);
  if (std::strcmp(name, "max_ram") == 0) return emem_ramlimit;
  if (std::strcmp(name, "max_swap") == 0) return emem_vm_limit;
  if (std::strcmp(name, "vm_page_size") == 0) return emem_vm_pagesize;
  if (std::strcmp(name, "total_alloc") == 0)
    return static_cast<long>(total_allocated_RAM + total_allocated_SWAP);
  if (std::strcmp(name, "total_alloc_ram") == 0) return static_cast<long>(total_allocated_RAM);
  if (std::strcmp(name, "total_alloc_swap") == 0) return static_cast<long>(total_allocated_SWAP);
  std::printf("cannot get memory parameter: [%s]\n", name);
  return 0;
}

void set_memory_parameter(const char* name, long value) {
  const Hold hold(LayerLock);
  if (std::strcmp(name, "max_ram") == 0) emem_ramlimit = static_cast<int>(value);
  else if (std::strcmp(name, "max_swap") == 0) emem_vm_limit = value;
  else if (std::strcmp(name, "vm_page_size") == 0) emem_vm_pagesize = value;
  else std::printf("cannot set memory parameter: [%s]\n", name);
}

void print_memory_parameters() {
  const Hold hold(LayerLock);
  std::fprintf(stderr, "MEM: ramlimit  %ld\n", static_cast<long>(emem_ramlimit));
  std::fprintf(stderr, "MEM: vmlimit   %ld\n", emem_vm_limit);
  std::fprintf(stderr, "MEM: pagesize  %ld\n", emem_vm_pagesize);
  std::fprintf(stderr, "MEM: tmpdir    [%s]\n", emem_tmpdirname);
}

void memory_status() {
  const Hold hold(LayerLock);
  if (total_allocated_RAM == 0 && total_allocated_SWAP == 0 && nswapfiles == 0 &&
      nalloc_ptrs == 0)
    return;
  std::fprintf(stderr, "**** MEMORY STATUS\n");
  std::fprintf(stderr, "memory in use  : %" PRIu64 " bytes\n",
               total_allocated_RAM + total_allocated_SWAP);
  std::fprintf(stderr, "RAM            : %" PRIu64 " bytes\n", total_allocated_RAM);
  std::fprintf(stderr, "SWAP           : %" PRIu64 " bytes\n", total_allocated_SWAP);
  std::fprintf(stderr, "open swapfiles : %d\n", nswapfiles);
  for (mem_alloc_record* r = malloc_table; r != nullptr; r = r->next) {
    std::fprintf(stderr, "%s", r->kind == VmsSwap ? "[SWP] " : "[RAM] ");
    std::fprintf(stderr, "po=%p size=%" PRIu64 " allocated in %s (%d) ", r->address, r->size,
                 r->tag.c_str(), r->line);
    if (r->kind == VmsSwap) std::fprintf(stderr, "in swapfile %s", r->swapfile.c_str());
    std::fprintf(stderr, "\n");
    std::fflush(stderr);
  }
}

// ---- File utilities ----

const char* get_tempfile_name() {
  // One buffer per thread: a name is never overwritten by another thread.
  static thread_local char name[VmsDirNameSize + 64];
  const Hold hold(LayerLock);
  std::snprintf(name, sizeof(name), "%s", next_swap_file_name().c_str());
  return name;
}

void set_tmpdirname(const char* dir) {
  const Hold hold(LayerLock);
  std::snprintf(emem_tmpdirname, 256, "%s", dir);
}

int test_write_permission(const char* path) { return access(path, W_OK) == 0 ? 1 : 0; }

long get_avail_kbytes(const char* dir) {
  // statvfs rather than parsing "df -k": no shell, so no directory name can
  // be run as a command, and no dependence on df's output layout.
  struct statvfs fs;
  if (dir == nullptr || statvfs(dir, &fs) != 0) {
    std::printf("cannot read the free space of %s: aborting\n", dir != nullptr ? dir : "(null)");
    return 0;
  }
  return static_cast<long>(static_cast<std::uint64_t>(fs.f_bavail) * fs.f_frsize / 1024);
}

long mem_filesize(const char* path) {
  struct stat st;
  if (stat(path, &st) != 0) return 0;
  return static_cast<long>(st.st_size);
}

mmap_record* mmap_open(const char* path) {
  long length = mem_filesize(path);
  if (length < 1) return nullptr;
  int fd = open(path, O_RDONLY);
  if (fd < 0) {
    std::printf("cannot open file %s: aborting mmapping", path);
    return nullptr;
  }
  void* address = mmap(nullptr, static_cast<std::size_t>(length), PROT_READ, MAP_SHARED, fd, 0);
  if (address == MAP_FAILED) {
    std::perror("mmap");
    close(fd);
    return nullptr;
  }
  close(fd);  // the mapping stays valid
  return new mmap_record{fd, address, length, path};
}

void mmap_close(mmap_record* record) {
  if (record == nullptr) return;
  if (munmap(record->address, static_cast<std::size_t>(record->length)) != 0)
    std::perror("munmap");
  delete record;
}

// ---- Clean-up and signals ----

void cleanup_mess() {
  const Hold hold(LayerLock);
  for (long k = 1; k <= file_reg; k++) {
    const std::string name = swap_file_name(k);
    if (std::remove(name.c_str()) == 0)
      std::fprintf(stderr, "\n*** cleaned up tmp file [%s]", name.c_str());
  }
  std::fprintf(stderr, "\n\n");
  std::fflush(stderr);
}

// Signal handlers end with _exit: the exit handlers (pool release) must not
// run from inside a signal.
void cleanup_mess_wrapper(int) {
  std::fprintf(stderr, "\n\n**** user interrupted process %ld ****\n",
               static_cast<long>(getpid()));
  std::fflush(stderr);
  _exit(1);
}

void fatal_signal_handler(int) {
  std::fprintf(stderr, "\n\n**** fatal error in pid %ld\n**** Segmentation fault or Bus Error\n",
               static_cast<long>(getpid()));
  std::fflush(stderr);
  _exit(1);
}

int signal_catch(int signal, void (*handler)(int)) {
  struct sigaction action;
  std::memset(&action, 0, sizeof(action));
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;
  return sigaction(signal, &action, nullptr) == 0 ? 0 : -1;
}

void dump_stack() {
  // The dbx debugger does not exist on our hosts; gdb prints the stack when
  // it is installed, otherwise there is nothing to print.
  if (std::system("command -v gdb > /dev/null 2>&1") != 0) return;
  char command[128];
  std::snprintf(command, sizeof(command), "gdb -batch -p %ld -ex where -ex detach 2> /dev/null",
                static_cast<long>(getpid()));
  std::fflush(stdout);
  int status = std::system(command);
  (void)status;  // a failed dump leaves nothing further to do
}
