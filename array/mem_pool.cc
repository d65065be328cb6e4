// Buffer pools: global, one per element type.
#include "array/mem_pool.h"

#include <cstdio>
#include <fstream>
#include <string>

#include "array/fatal.h"
#include "array/vms.h"

template <class T>
TempBuffMem<T>::~TempBuffMem() {
  if (size_ != 0) free_buffer(buffer_);
  size_ = 0;
  in_use_ = 0;
}

namespace {

// Buffers from this size on are left to the system's zero pages, so that
// their first touch happens in the threads that write them, each thread in
// its own stretch of page tables. Smaller ones are filled by their owner:
// threads sharing the pages of one table would queue on its lock, and pay
// for every page twice when its first use is a read.
constexpr std::size_t LazyZeroBytes = std::size_t{8} << 20;

}  // namespace

template <class T>
T* TempBuffMem<T>::alloc(int n, bool* zeroed) {
  const std::size_t bytes = static_cast<std::size_t>(n) * sizeof(T);
  const bool lazy = bytes >= LazyZeroBytes;
  *zeroed = lazy;
  buffer_ = static_cast<T*>(lazy ? alloc_zeroed_buffer(bytes) : alloc_buffer(bytes));
  size_ = n;
  in_use_ = 1;
  return buffer_;
}

// Array elements are destroyed from the last to the first, which is the
// release order the pools promise.
template <class T>
TempCMem<T>::~TempCMem() = default;

// Stands where a host swap report ("pstat -s") used to be run: that command
// does not exist on our hosts, and the process's own memory figures say more.
void print_process_memory_report() {
  std::ifstream status("/proc/self/status");
  std::string line;
  bool any = false;
  while (std::getline(status, line)) {
    if (line.rfind("VmPeak:", 0) == 0 || line.rfind("VmSize:", 0) == 0 ||
        line.rfind("VmRSS:", 0) == 0 || line.rfind("VmSwap:", 0) == 0) {
      std::fprintf(stderr, "%s\n", line.c_str());
      any = true;
    }
  }
  if (!any) std::fprintf(stderr, "process memory report not available\n");
}

template <class T>
T* TempCMem<T>::alloc(int n, bool* zeroed) {
  const std::lock_guard<std::recursive_mutex> hold(lock_);
  for (int i = 0; i < NbrSlots; i++) {
    TempBuffMem<T>& s = slots_[i];
    if (s.size() == 0) {
      bool fresh_zeroed;
      T* buffer = s.alloc(n, &fresh_zeroed);
      if (zeroed != nullptr) *zeroed = fresh_zeroed;
      return buffer;
    }
    if (!s.use() && s.size() == n) {
      if (zeroed != nullptr) *zeroed = false;
      s.take();
      return s.buffer();
    }
  }
  // The whole report is part of the failure: it prints only if no other
  // failure is already ending the process.
  fatal_report(-1, [this] {
    std::fprintf(stderr, "Error: CMemInt cannot allocate memory ... \n");
    print_process_memory_report();
    for (int i = 0; i < NbrSlots; i++)
      std::printf("Buffer %d Size = %d%s\n", i, slots_[i].size(),
                  slots_[i].use() ? " USE " : " NOT USE ");
  });
}

template <class T>
void TempCMem<T>::free(T* p) {
  const std::lock_guard<std::recursive_mutex> hold(lock_);
  for (int i = 0; i < NbrSlots && slots_[i].size() != 0; i++) {
    if (slots_[i].buffer() == p) {
      slots_[i].give_back();
      return;
    }
  }
  fatal_exit("Error: CMemInt cannot deallocate the memory ... \n", -1, stderr);
}

template class TempBuffMem<int>;
template class TempBuffMem<float>;
template class TempBuffMem<double>;
template class TempBuffMem<std::complex<float>>;
template class TempBuffMem<std::complex<double>>;
template class TempCMem<int>;
template class TempCMem<float>;
template class TempCMem<double>;
template class TempCMem<std::complex<float>>;
template class TempCMem<std::complex<double>>;

// Constructed before main in this order, destroyed after it in reverse.
TempCMem<int> MemInt;
TempCMem<float> MemFloat;
TempCMem<double> MemDouble;
TempCMem<std::complex<float>> MemCF;
TempCMem<std::complex<double>> MemCD;

int* MemMg_alloc(int n, int, bool* zeroed) { return MemInt.alloc(n, zeroed); }
float* MemMg_alloc(int n, float, bool* zeroed) { return MemFloat.alloc(n, zeroed); }
double* MemMg_alloc(int n, double, bool* zeroed) { return MemDouble.alloc(n, zeroed); }
std::complex<float>* MemMg_alloc(int n, std::complex<float>, bool* zeroed) { return MemCF.alloc(n, zeroed); }
std::complex<double>* MemMg_alloc(int n, std::complex<double>, bool* zeroed) { return MemCD.alloc(n, zeroed); }

void MemMg_free(int* p) { MemInt.free(p); }
void MemMg_free(float* p) { MemFloat.free(p); }
void MemMg_free(double* p) { MemDouble.free(p); }
void MemMg_free(std::complex<float>* p) { MemCF.free(p); }
void MemMg_free(std::complex<double>* p) { MemCD.free(p); }
