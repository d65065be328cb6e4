// Raw byte buffers of the system and the optional swap-file memory behind them.
// By default alloc_buffer/free_buffer are malloc/free; after vms_init, requests
// stay in RAM up to a limit, and beyond it each request larger than a page
// becomes a file in a swap directory, filled with zero pages and mapped into
// memory. The layer lists every allocation with the caller's tag and line
// for its messages and reports. All sizes are 64-bit byte counts. Every
// function may be called from any thread, and the end of the process,
// however it comes, removes the swap files still in use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "array/base_types.h"

// ---- Front end ----

// 1 routes alloc_buffer and free_buffer to the swap-file layer.
extern int UseVMS;

// Bytes from the heap, or from the swap-file layer once it is switched on.
// Never returns null: a failure ends the process.
void* alloc_buffer(std::size_t size);
// The same, zero-filled. Fresh pages come zeroed from the system (from the
// heap, or as a new swap file) and are first touched by whichever thread
// writes them, so a large image costs nothing here, takes no RAM until it is
// used, and its page faults are shared by the threads.
void* alloc_zeroed_buffer(std::size_t size);
// Nothing for a null pointer.
void free_buffer(void* p);
// "Error: cannot allocate memory ... " on stderr, then exit status -1.
[[noreturn]] void memory_abort();

// The layer's entry points used by the front end, with the tag "VMS".
void* mem_alloc_buffer(std::size_t size);
void* mem_calloc_buffer(std::size_t size);
void mem_free_buffer(void* p);

// Switches the swap-file layer on: RAM limit in megabytes (< 1 falls back to
// ZUB_VM_SIZE, then to the current limit) and swap directory (null or empty
// falls back to ZUB_VM_DIR, then to the current directory); prints the
// settings when verbose.
void vms_init(int size, const char* dir, Bool verbose);

// The layer's settings. Its constructor reads ZUB_VM_SIZE and ZUB_VM_DIR.
class VMS_Status {
 public:
  VMS_Status();
  // n >= 1 becomes the RAM limit; otherwise a positive ZUB_VM_SIZE does.
  void set_size(int n);
  // A non-empty dir becomes the swap directory; otherwise ZUB_VM_DIR does.
  // A name that does not fit emem_tmpdirname is refused with a message.
  void set_dir(const char* dir);
  // The RAM limit and the swap directory, on standard output.
  void print();

  int Verbose;
};
extern VMS_Status VMSStatus;

// ---- Settings and counters of the layer ----

constexpr int VmsDirNameSize = 1024;

extern int emem_ramlimit;                          // MB; default 4
extern char emem_tmpdirname[VmsDirNameSize];       // default "."
extern long emem_vm_limit;                         // MB of all swap files; 1024
extern long emem_vm_pagesize;                      // bytes; 1024

extern std::uint64_t total_allocated_RAM;   // bytes now allocated in RAM
extern std::uint64_t total_allocated_SWAP;  // bytes now allocated in swap files
extern int nswapfiles;                      // swap files open
extern int nalloc_ptrs;                     // live allocations
extern long file_reg;                       // swap files created so far

// One live allocation, in a doubly linked list in order of allocation.
struct mem_alloc_record {
  void* address = nullptr;
  std::uint64_t size = 0;
  std::string tag;  // the caller's source name
  int line = 0;
  int kind = 0;           // 0 RAM, 1 swap file
  std::string swapfile;   // swap records only
  int fd = -1;            // swap records only: open until the release
  bool removed = false;   // swap records only: the file is gone, the mapping lives
  long stop_handle = 0;   // swap records only: its path as a stop by signal removes it
  mem_alloc_record* next = nullptr;
  mem_alloc_record* prev = nullptr;
};
constexpr int VmsRam = 0;
constexpr int VmsSwap = 1;

// Head of the allocation list.
extern mem_alloc_record* malloc_table;

// ---- The layer ----

// Swap when the request is larger than a page and would bring the RAM in use
// to the limit (ext_malloc_x) or past it (ext_calloc_x); RAM otherwise.
void* ext_malloc_x(std::size_t size, const char* tag, int line);
void* ext_calloc_x(std::size_t count, std::size_t size, const char* tag, int line);
void* ram_malloc(std::size_t size, const char* tag, int line);
void* ram_calloc(std::size_t count, std::size_t size, const char* tag, int line);
// A new swap file of whole zero pages, mapped shared; its memory reads as 0.
void* swap_malloc_x(std::size_t len, const char* tag, int line);

// Release an allocation of either kind, of RAM only or of swap only. A null,
// unlisted or wrong-kind pointer gets a message and no change.
void ext_free_x(void* p, const char* tag, int line);
void ram_free(void* p, const char* tag, int line);
void swap_free_x(void* p, const char* tag, int line);

// A RAM copy of s.
char* ext_strdup_x(const char* s, const char* tag, int line);

// "max_ram", "max_swap", "vm_page_size", "total_alloc", "total_alloc_ram",
// "total_alloc_swap"; the first three can be set.
long get_memory_parameter(const char* name);
void set_memory_parameter(const char* name, long value);
void print_memory_parameters();
// The totals and one line per live allocation, on stderr; nothing when idle.
void memory_status();

// ---- File utilities ----

// The next swap file name "<dir>/vmswap_<pid>_<number>"; each call
// overwrites the previous name of the calling thread.
const char* get_tempfile_name();
// Copies at most 255 characters of dir into emem_tmpdirname.
void set_tmpdirname(const char* dir);
// 1 when the process may write to path.
int test_write_permission(const char* path);
// Available kilobytes on the file system of dir; 0 with a message when that
// cannot be read.
long get_avail_kbytes(const char* dir);
// Size of a file in bytes, 0 when it cannot be read.
long mem_filesize(const char* path);

// A whole file mapped read-only.
struct mmap_record {
  int fd;
  void* address;
  long length;
  std::string path;
};
// Null for an empty or unreadable file.
mmap_record* mmap_open(const char* path);
void mmap_close(mmap_record* record);

// ---- Clean-up and signals (the program installs none of them) ----

// Removes the swap files this process has created so far.
void cleanup_mess();
// Handlers for interrupts and fatal signals: a message, then exit status 1.
void cleanup_mess_wrapper(int signal = 0);
void fatal_signal_handler(int signal = 0);
// Installs handler for signal with an empty mask; 0 on success, -1 on failure.
int signal_catch(int signal, void (*handler)(int));
// Prints the stack of this process through gdb when it is installed.
void dump_stack();
