// to_array: the one array type of the system (images, signals, cubes, bands,
// filter taps, work buffers). The bool parameter fixes only the order of sizes
// and indices: false takes (line, column[, plane]), true (x, y[, z]); the
// memory layout is the same, first axis fastest. Arrays above 50000 elements
// take their buffers from the pool of their element type.
#pragma once

#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <omp.h>
#include <string>
#include <type_traits>

#include "array/base_types.h"
#include "array/border.h"
#include "array/fatal.h"
#include "array/mem_pool.h"
#include "array/thread_share.h"

namespace array_detail {

// Elements up to this count come from the heap, above it from the pools.
constexpr int PoolThreshold = 50000;

// Element count of an allocation request, in 64 bits; counts that do not fit
// the 32-bit element count stop the process instead of wrapping.
inline int element_count(int d1, int d2, int d3) {
  if (d1 < 0 || d2 < 0 || d3 < 0)
    fatal_exitf(-1, stdout, "Error: negative array size (%d, %d, %d) ...\n", d1, d2, d3);
  int64_t n = d3 != 0 ? int64_t(d1) * d2 * d3 : (d2 != 0 ? int64_t(d1) * d2 : int64_t(d1));
  if (n > std::numeric_limits<int>::max())
    fatal_exitf(-1, stdout, "Error: array of %lld elements is too large ...\n",
                static_cast<long long>(n));
  return static_cast<int>(n);
}

[[noreturn]] inline void naxis_error(int naxis, const char* expected) {
  fatal_exitf(-1, stdout, "Error: naxis = %d%s\n", naxis, expected);
}

}  // namespace array_detail

template <class T, bool XYOrder = false>
class to_array {
 public:
  to_array() { set_attrib(); }
  explicit to_array(int d1, int d2 = 0, int d3 = 0) {
    set_attrib();
    alloc(d1, d2, d3);
  }
  to_array(int nl, int nc, const char* name) {
    set_attrib();
    alloc(nl, nc, 0, name);
  }
  to_array(int n, const char* name) {
    set_attrib();
    alloc(n, 0, 0, name);
  }
  // Same axis lengths, copied elements, no name.
  to_array(const to_array& other) {
    set_attrib();
    alloc_like(other);
    copy_elements(other);
  }
  ~to_array() { free(); }

  void set_attrib() {
    buffer_ = nullptr;
    n_elem_ = 0;
    naxis_ = 0;
    axis_[0] = axis_[1] = axis_[2] = 0;
    pool_ = 0;
    borrowed_ = 0;
  }

  // Zero-filled allocation; sizes as the bool parameter orders them.
  void alloc(int d1, int d2, int d3, const char* name = nullptr) {
    // A buffer kept after a reform to zero elements is released too.
    if (n_elem_ != 0) free();
    else release_buffer();
    int n = array_detail::element_count(d1, d2, d3);
    const bool zeroed = take_buffer(n, " Not enought memory ");
    borrowed_ = 0;
    n_elem_ = n;
    set_axes(d1, d2, d3);
    naxis_ = 0;
    if (d1 != 0) naxis_ = 1;
    if (d2 != 0) naxis_ = 2;
    if (d3 != 0) naxis_ = 3;
    // Heap buffers and new pool buffers arrive zeroed; reused pool buffers
    // hold what they last held.
    if (!zeroed) init();
    if (name != nullptr) name_ = name;
  }
  void alloc(int d1, int d2, const char* name) { alloc(d1, d2, 0, name); }
  void alloc(int n, const char* name) { alloc(n, 0, 0, name); }
  void alloc(int d1, int d2) { alloc(d1, d2, 0, nullptr); }
  void alloc(int n) { alloc(n, 0, 0, nullptr); }

  // Wraps a caller's nl x nc buffer; with pool true, free() gives it back to
  // the pool of the element type.
  void alloc(T* buffer, int nl, int nc, const char* /*name*/ = nullptr, Bool pool = False) {
    release_buffer();
    borrowed_ = 1;
    pool_ = pool ? 1 : 0;
    buffer_ = buffer;
    // nl x nc elements; a zero column count wraps no element at all.
    n_elem_ = nc == 0 ? 0 : array_detail::element_count(nl, nc, 0);
    axis_[0] = nc;
    axis_[1] = nl;
    axis_[2] = 0;
    naxis_ = 2;
  }

  // Reshape, reallocating only when the element count grows. A grown buffer
  // is not zeroed.
  void reform(int d1, int d2 = 0, int d3 = 0) {
    if (n_elem_ == 0) {
      alloc(d1, d2, d3, "alloc resize");
      return;
    }
    naxis_ = 1;
    axis_[0] = axis_[1] = axis_[2] = 0;
    int n = array_detail::element_count(d1, d2, d3);
    axis_[XYOrder ? 0 : 1] = d1;
    if (d2 != 0) {
      axis_[XYOrder ? 1 : 0] = d2;
      naxis_ = 2;
    }
    if (d3 != 0) {
      axis_[2] = d3;
      naxis_ = 3;
    }
    if (n > n_elem_) {
      release_buffer();
      take_buffer(n, "Not enought memory ");
      borrowed_ = 0;
    }
    n_elem_ = n;
  }
  void resize(int d1, int d2 = 0, int d3 = 0) { reform(d1, d2, d3); }

  void free() {
    release_buffer();
    n_elem_ = 0;
    naxis_ = 0;
    name_.clear();
    pool_ = 0;
    axis_[0] = axis_[1] = axis_[2] = 0;
  }

  void init() {
    const int n = n_elem_;
    T* buffer = buffer_;
    // A region with its if clause false still starts a team of one: the
    // small arrays that the threads' blocks clear take the plain loop.
    if (!shared_out(n)) {
      for (int k = 0; k < n; k++) buffer[k] = T();
      return;
    }
    // A new image's pages are first touched here: shared out, the threads
    // take the page faults side by side instead of one after the other.
#pragma omp parallel for schedule(static)
    for (int k = 0; k < n; k++) buffer[k] = T();
  }
  void init(T value) {
    for (int k = 0; k < n_elem_; k++) buffer_[k] = value;
  }
  // Empties the array, then takes other's shape zero-filled, without copying.
  void init(const to_array& other) {
    if (n_elem_ != 0) free();
    alloc_like(other);
  }

  to_array& operator=(const to_array& src) {
    if (this == &src) return *this;
    reform(src.n_elem());
    copy_elements(src);
    naxis_ = src.naxis_;
    for (int k = 0; k < naxis_; k++) axis_[k] = src.axis_[k];
    return *this;
  }

  // Accessors.
  int n_elem() const { return n_elem_; }
  int naxis() const { return naxis_; }
  int axis(int k) const { return axis_[k - 1]; }
  T* buffer() const { return buffer_; }
  int nx() const { return axis_[0]; }
  int ny() const { return axis_[1]; }
  int nz() const { return axis_[2]; }
  int nc() const { return axis_[0]; }
  int nl() const { return axis_[1]; }
  const std::string& name() const { return name_; }
  void set_name(const char* name) { name_ = name != nullptr ? name : ""; }
  int pool() const { return pool_; }
  int borrowed() const { return borrowed_; }

  // Flat access, no check.
  T& operator()(int k) const { return buffer_[k]; }

  // (line, column) for images, (x, y) for signals.
  T& operator()(int a, int b) const {
    if (naxis_ != 2) array_detail::naxis_error(naxis_, " and a two dim array is expected ...");
    return XYOrder ? buffer_[b * axis_[0] + a] : buffer_[a * axis_[0] + b];
  }
  T& operator()(int x, int y, int z) const {
    if (naxis_ != 3) array_detail::naxis_error(naxis_, " and a three dim array is expected ... ");
    return buffer_[(static_cast<int64_t>(z) * axis_[1] + y) * axis_[0] + x];
  }

  // Bordered reads. Both indices go through the rule once either is outside.
  T operator()(int i, int j, type_border border) const {
    if (naxis_ != 2) array_detail::naxis_error(naxis_, " and a two dim array is expected ... ");
    int n1 = XYOrder ? axis_[0] : axis_[1];  // length of the first index
    int n2 = XYOrder ? axis_[1] : axis_[0];
    if (i >= 0 && i < n1 && j >= 0 && j < n2) return (*this)(i, j);
    switch (border) {
      case I_CONT: return (*this)(test_index_cont(i, n1), test_index_cont(j, n2));
      case I_MIRROR: return (*this)(test_index_mirror(i, n1), test_index_mirror(j, n2));
      case I_PERIOD: return (*this)(test_index_period(i, n1), test_index_period(j, n2));
      case I_ZERO: return T();
    }
    fatal_exit("", -1);
  }
  T operator()(int x, type_border border) const {
    if (naxis_ != 1) array_detail::naxis_error(naxis_, " and a one dim array is expected ...");
    int n = axis_[XYOrder ? 0 : 1];
    if (x >= 0 && x < n) return buffer_[x];
    switch (border) {
      case I_CONT: return buffer_[test_index_cont(x, n)];
      case I_MIRROR: return buffer_[test_index_mirror(x, n)];
      case I_PERIOD: return buffer_[test_index_period(x, n)];
      case I_ZERO: return T();
    }
    fatal_exit("", -1);
  }

  // ---- Reductions and element arithmetic ----
  // Reductions run over the flat buffer, elements 0 to n_elem - 1, whatever
  // the shape. mean, sigma, min and max need at least one element.

  // Sum of all elements, each widened to double before it is added.
  double total() const {
    const T* p = buffer_;
    double sum = 0.;
    for (int k = 0; k < n_elem_; k++) sum += static_cast<double>(p[k]);
    return sum;
  }
  double mean() const { return total() / n_elem_; }

  // Population standard deviation; a variance of 1e-7 or less counts as 0.
  double sigma() const {
    const T* p = buffer_;
    double m = mean(), sum = 0.;
    for (int k = 0; k < n_elem_; k++) {
      double d = static_cast<double>(p[k]) - m;
      sum += d * d;
    }
    double variance = sum / n_elem_;
    return variance > 1e-7 ? std::sqrt(variance) : 0.;
  }

  // Sum of squares accumulated in single precision, as the transforms' band
  // energies have always been.
  float energy() const {
    const T* p = buffer_;
    float sum = 0.f;
    for (int k = 0; k < n_elem_; k++) {
      float x = static_cast<float>(p[k]);
      sum += x * x;
    }
    return sum;
  }

  // Extremes and their flat index; ties keep the first occurrence.
  T min(int& index) const {
    return extreme(index, [](T x, T best) { return x < best; });
  }
  T max(int& index) const {
    return extreme(index, [](T x, T best) { return x > best; });
  }
  T min() const {
    int index;
    return min(index);
  }
  T max() const {
    int index;
    return max(index);
  }

  // Element of largest magnitude, with its sign; 0 at index 0 for an array of
  // zeros. Magnitudes are compared in double.
  T maxfabs(int& index) const {
    const T* p = buffer_;
    T best = T();
    double best_abs = 0.;
    index = 0;
    for (int k = 0; k < n_elem_; k++) {
      double a = std::fabs(static_cast<double>(p[k]));
      if (best_abs < a) {
        best = p[k];
        best_abs = a;
        index = k;
      }
    }
    return best;
  }
  T maxfabs() const {
    int index;
    return maxfabs(index);
  }

  // Raises every element below `level` to `level`.
  void inf_threshold(T level) {
    T* p = buffer_;
#pragma omp simd
    for (int k = 0; k < n_elem_; k++) p[k] = p[k] < level ? level : p[k];
  }

  // Element k of this array combined with element k of `other`, over this
  // array's elements; `other` must hold at least as many.
  to_array& operator+=(const to_array& other) {
    return combine(other, [](T x, T y) { return x + y; });
  }
  to_array& operator-=(const to_array& other) {
    return combine(other, [](T x, T y) { return x - y; });
  }
  to_array& operator*=(const to_array& other) {
    return combine(other, [](T x, T y) { return x * y; });
  }

 private:
  // Zero-filled allocation with the axis lengths of `other`.
  void alloc_like(const to_array& other) {
    if (XYOrder) alloc(other.nx(), other.ny(), other.nz());
    else alloc(other.ny(), other.nx(), other.nz());
  }

  void set_axes(int d1, int d2, int d3) {
    if (XYOrder) {
      axis_[0] = d1;
      axis_[1] = d2;
    } else {
      axis_[0] = d2;
      axis_[1] = d1;
    }
    axis_[2] = d3;
  }

  // Whether the buffer taken holds zeros.
  bool take_buffer(int n, const char* heap_message) {
    bool zeroed = true;
    if (n > array_detail::PoolThreshold) {
      buffer_ = MemMg_alloc(n, T(), &zeroed);
      pool_ = 1;
    } else if (n > 0) {
      buffer_ = new (std::nothrow) T[n]();  // value-initialised: zeros
      pool_ = 0;
      if (buffer_ == nullptr) fatal_exitf(-1, stdout, "%s\n", heap_message);
    } else {
      buffer_ = nullptr;
      pool_ = 0;
    }
    return zeroed;
  }

  // Safe to call at any time: gives a pool buffer back, deletes an owned
  // heap buffer, leaves a borrowed one alone.
  void release_buffer() {
    if (pool_) MemMg_free(buffer_);
    else if (!borrowed_ && buffer_ != nullptr) delete[] buffer_;
    buffer_ = nullptr;
    pool_ = 0;
  }

  // First element that `better` prefers to every earlier one.
  template <class Better>
  T extreme(int& index, Better better) const {
    const T* p = buffer_;
    T best = p[0];
    index = 0;
    for (int k = 1; k < n_elem_; k++)
      if (better(p[k], best)) {
        best = p[k];
        index = k;
      }
    return best;
  }

  // Combining with a shorter array would read past its buffer, so that is
  // refused.
  template <class Op>
  to_array& combine(const to_array& other, Op op) {
    if (other.n_elem_ < n_elem_)
      fatal_exitf(-1, stdout,
                  "Error: an array of %d elements is combined with one of %d elements ...\n",
                  n_elem_, other.n_elem_);
    T* p = buffer_;
    const T* q = other.buffer_;
    for (int k = 0; k < n_elem_; k++) p[k] = op(p[k], q[k]);
    return *this;
  }

  // Large arrays are copied in one stretch per thread, for the page faults
  // of a new destination as much as for the bandwidth.
  void copy_elements(const to_array& src) {
    const int n = src.n_elem_;
    if (n <= 0) return;
    if (!shared_out(n)) {
      std::memcpy(static_cast<void*>(buffer_), src.buffer_, sizeof(T) * n);
      return;
    }
    T* to = buffer_;
    const T* from = src.buffer_;
#pragma omp parallel
    {
      const int threads = omp_get_num_threads(), thread = omp_get_thread_num();
      const int first = share_start(n, thread, threads), end = share_start(n, thread + 1, threads);
      std::memcpy(static_cast<void*>(to + first), from + first, sizeof(T) * (end - first));
    }
  }

  // Whole-array fills and copies are shared among threads from this many
  // bytes on (a 512 x 512 float image), with threads to share them, and
  // never inside a parallel region, not even a team of one: a region opened
  // there for every block would cost more than the fill.
  static bool shared_out(int n) {
    return static_cast<int64_t>(n) * static_cast<int64_t>(sizeof(T)) >= (int64_t{1} << 20) &&
           omp_get_level() == 0 && omp_get_max_threads() > 1;
  }

  T* buffer_;
  int n_elem_;
  int naxis_;
  int axis_[3];
  std::string name_;
  int pool_;
  int borrowed_;
};

// a(k) - b(k) over the elements of a, in a new array of a's shape, unnamed.
template <class T, bool XYOrder>
to_array<T, XYOrder> operator-(const to_array<T, XYOrder>& a, const to_array<T, XYOrder>& b) {
  to_array<T, XYOrder> result(a);
  result -= b;
  return result;
}

typedef to_array<float, false> Ifloat;
typedef to_array<int, false> Iint;
typedef to_array<float, true> fltarray;
typedef to_array<double, true> dblarray;
typedef to_array<int, true> intarray;
typedef to_array<std::complex<float>, false> Icomplex_f;
typedef to_array<std::complex<float>, true> cfarray;
typedef to_array<std::complex<double>, true> cdarray;
