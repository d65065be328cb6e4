// Per-element-type pools of reusable large buffers. Arrays above 50000
// elements take their buffers here so that the many equal-sized temporaries
// of the iterative transforms never go back to the system allocator. A free
// buffer is reused only by a request of exactly its element count.
#pragma once

#include <complex>
#include <mutex>

template <class T>
class TempBuffMem {
 public:
  TempBuffMem() = default;
  ~TempBuffMem();
  TempBuffMem(const TempBuffMem&) = delete;
  TempBuffMem& operator=(const TempBuffMem&) = delete;

  // A new buffer of n elements; zeroed tells whether they are zeros.
  T* alloc(int n, bool* zeroed);
  void take() { in_use_ = 1; }
  void give_back() { in_use_ = 0; }
  int size() const { return size_; }
  T* buffer() const { return buffer_; }
  int use() const { return in_use_; }

 private:
  T* buffer_ = nullptr;
  int size_ = 0;  // 0: the slot has never been used
  int in_use_ = 0;
};

template <class T>
class TempCMem {
 public:
  static constexpr int NbrSlots = 500;
  TempCMem() = default;
  ~TempCMem();
  TempCMem(const TempCMem&) = delete;
  TempCMem& operator=(const TempCMem&) = delete;

  // A buffer of n elements, holding whatever it last held; zeroed, when
  // given, tells whether it holds zeros (a new large buffer) or may not.
  T* alloc(int n, bool* zeroed = nullptr);
  // Marks the slot that holds p as free; the memory stays with the slot.
  void free(T* p);

  // Slot inspection, for reports and tests.
  const TempBuffMem<T>& slot(int i) const { return slots_[i]; }

 private:
  TempBuffMem<T> slots_[NbrSlots];
  // Threads of a parallel region take and give back their work buffers
  // side by side. Recursive: a failure ends the process holding it, and the
  // arrays destroyed at the exit give their buffers back.
  std::recursive_mutex lock_;
};

extern TempCMem<int> MemInt;
extern TempCMem<float> MemFloat;
extern TempCMem<double> MemDouble;
extern TempCMem<std::complex<float>> MemCF;
extern TempCMem<std::complex<double>> MemCD;

// The value argument only selects the pool.
int* MemMg_alloc(int n, int value, bool* zeroed = nullptr);
float* MemMg_alloc(int n, float value, bool* zeroed = nullptr);
double* MemMg_alloc(int n, double value, bool* zeroed = nullptr);
std::complex<float>* MemMg_alloc(int n, std::complex<float> value, bool* zeroed = nullptr);
std::complex<double>* MemMg_alloc(int n, std::complex<double> value, bool* zeroed = nullptr);

void MemMg_free(int* p);
void MemMg_free(float* p);
void MemMg_free(double* p);
void MemMg_free(std::complex<float>* p);
void MemMg_free(std::complex<double>* p);

// The process's memory use (from the kernel's status file) on standard error:
// printed when a pool is exhausted.
void print_process_memory_report();
