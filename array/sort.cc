// Quicksort, index sort and heapsort. The algorithms are written with the
// 1-based positions of the classic formulation; `at(k)` maps position k onto
// element k - 1 of a 0-based pointer, so no pointer ever leaves its allocation.
#include "array/sort.h"

#include <utility>

#include "array/nrerror.h"

namespace {

// Partitions still to be sorted: 25 pairs of bounds. The larger part is always
// the one deferred, so this holds sorts of up to about 2^28 values.
constexpr int kStackSize = 50;
// Partitions of at most this many elements are finished by straight insertion.
constexpr long kInsertionSpan = 6;

// Sorts the entries e[0 .. n-1] by key(entry), ascending. Entries are either
// the values themselves or labels of values (index sort).
template <class Entry, class KeyOf>
void quicksort_entries(long n, Entry* e, KeyOf key, const char* stack_message) {
  if (n < 2) return;
  auto at = [e](long k) -> Entry& { return e[k - 1]; };
  long stack[kStackSize + 1];
  int top = 0;
  long l = 1;
  long r = n;
  for (;;) {
    if (r - l <= kInsertionSpan) {
      for (long j = l + 1; j <= r; ++j) {
        Entry moving = at(j);
        auto moving_key = key(moving);
        long i = j - 1;
        for (; i >= l; --i) {
          if (key(at(i)) <= moving_key) break;
          at(i + 1) = at(i);
        }
        at(i + 1) = moving;
      }
      if (top == 0) break;
      r = stack[top--];
      l = stack[top--];
    } else {
      // Median of three at l, with at(l+1) <= pivot <= at(r) as scan sentinels.
      std::swap(at((l + r) / 2), at(l + 1));
      if (key(at(l + 1)) > key(at(r))) std::swap(at(l + 1), at(r));
      if (key(at(l)) > key(at(r))) std::swap(at(l), at(r));
      if (key(at(l + 1)) > key(at(l))) std::swap(at(l + 1), at(l));
      long i = l + 1;
      long j = r;
      Entry pivot = at(l);
      auto pivot_key = key(pivot);
      for (;;) {
        do ++i; while (key(at(i)) < pivot_key);
        do --j; while (key(at(j)) > pivot_key);
        if (j < i) break;
        std::swap(at(i), at(j));
      }
      at(l) = at(j);
      at(j) = pivot;
      top += 2;
      if (top > kStackSize) nrerror(stack_message);
      if (r - i + 1 >= j - l) {
        stack[top] = r;
        stack[top - 1] = i;
        r = j - 1;
      } else {
        stack[top] = j - 1;
        stack[top - 1] = l;
        l = i;
      }
    }
  }
}

template <class T>
void sort_values(long n, T* values) {
  quicksort_entries(n, values, [](T v) { return v; }, "NSTACK too small in sort.");
}

// Labels first_label .. first_label + n - 1 into order[0 .. n-1], sorted by
// value_of(label).
template <class Label, class ValueOf>
void index_sort(long n, Label* order, Label first_label, ValueOf value_of) {
  for (long k = 0; k < n; ++k) order[k] = static_cast<Label>(first_label + k);
  quicksort_entries(n, order, value_of, "NSTACK too small in indexx.");
}

}  // namespace

void sort(unsigned long n, float* a) {
  if (n > 0) sort_values(static_cast<long>(n), a + 1);
}
void sort(unsigned long n, double* a) {
  if (n > 0) sort_values(static_cast<long>(n), a + 1);
}
void sort(unsigned long n, int* a) {
  if (n > 0) sort_values(static_cast<long>(n), a + 1);
}

void sort_from0(std::size_t n, float* values) { sort_values(static_cast<long>(n), values); }
void sort_from0(std::size_t n, double* values) { sort_values(static_cast<long>(n), values); }
void sort_from0(std::size_t n, int* values) { sort_values(static_cast<long>(n), values); }

void indexx(unsigned long n, float* a, unsigned long* indx) {
  if (n == 0) return;
  index_sort(static_cast<long>(n), indx + 1, 1UL, [a](unsigned long k) { return a[k]; });
}

void indexx(int n, double* a, int* indx) {
  if (n <= 0) return;
  index_sort(static_cast<long>(n), indx + 1, 1, [a](int k) { return a[k]; });
}

void indexx_from0(std::size_t n, const float* values, std::size_t* order) {
  index_sort(static_cast<long>(n), order, std::size_t{0},
             [values](std::size_t k) { return values[k]; });
}

void indexx_from0(std::size_t n, const double* values, std::size_t* order) {
  index_sort(static_cast<long>(n), order, std::size_t{0},
             [values](std::size_t k) { return values[k]; });
}

void sortb(int n, float* a) {
  if (n < 2) return;
  long l = n / 2 + 1;
  long r = n;
  for (;;) {
    float v;
    if (l > 1) {
      v = a[--l];
    } else {
      v = a[r];
      a[r] = a[1];
      if (--r == 1) {
        a[1] = v;
        break;
      }
    }
    // Sift v down from position l.
    long i = l;
    long j = l + l;
    while (j <= r) {
      if (j < r && a[j] < a[j + 1]) ++j;
      if (v < a[j]) {
        a[i] = a[j];
        i = j;
        j += j;
      } else {
        break;
      }
    }
    a[i] = v;
  }
}
