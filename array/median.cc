// Median selection: exchange networks, Wirth's selection and a full sort,
// each written once as a template over the int and float buffers.
#include "array/median.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>

namespace {

// One compare-exchange of a network.
// Written with selects rather than a branch so that it compiles to min/max
// instructions: the 3x3 median filter runs it on every pixel.
template <class T>
inline void order(T* p, int a, int b) {
  T x = p[a], y = p[b];
  bool swap = x > y;
  p[a] = swap ? y : x;
  p[b] = swap ? x : y;
}

template <class T>
T med3(T* p) {
  order(p, 0, 1); order(p, 1, 2); order(p, 0, 1);
  return p[1];
}

template <class T>
T med5(T* p) {
  order(p, 0, 1); order(p, 3, 4); order(p, 0, 3); order(p, 1, 4);
  order(p, 1, 2); order(p, 2, 3); order(p, 1, 2);
  return p[2];
}

template <class T>
T med7(T* p) {
  order(p, 0, 5); order(p, 0, 3); order(p, 1, 6); order(p, 2, 4);
  order(p, 0, 1); order(p, 3, 5); order(p, 2, 6); order(p, 2, 3);
  order(p, 3, 6); order(p, 4, 5); order(p, 1, 4); order(p, 1, 3);
  order(p, 3, 4);
  return p[3];
}

template <class T>
T med9(T* p) {
  order(p, 1, 2); order(p, 4, 5); order(p, 7, 8); order(p, 0, 1);
  order(p, 3, 4); order(p, 6, 7); order(p, 1, 2); order(p, 4, 5);
  order(p, 7, 8); order(p, 0, 3); order(p, 5, 8); order(p, 4, 7);
  order(p, 3, 6); order(p, 1, 4); order(p, 2, 5); order(p, 4, 7);
  order(p, 4, 2); order(p, 6, 4); order(p, 4, 2);
  return p[4];
}

// Wirth's selection; `key` maps a value to what is compared (the value
// itself, or its magnitude) and the element at k is returned through it.
template <class T, class Key>
auto select_kth(T* a, int n, int k, Key key) {
  int l = 0, m = n - 1;
  while (l < m) {
    auto x = key(a[k]);
    int i = l, j = m;
    do {
      while (key(a[i]) < x) i++;
      while (x < key(a[j])) j--;
      if (i <= j) {
        std::swap(a[i], a[j]);
        i++;
        j--;
      }
    } while (i <= j);
    if (j < k) l = i;
    if (k < i) m = j;
  }
  return key(a[k]);
}

template <class T>
T identity(T v) { return v; }

int magnitude(int v) { return v >= 0 ? v : -v; }
// The magnitude of a float is exact in float, so comparing it in float gives
// the same order as comparing it in double.
float magnitude(float v) { return std::fabs(v); }

int median_rank(int n) { return n % 2 == 1 ? n / 2 : n / 2 - 1; }

}  // namespace

int opt_med3(int* p) { return med3(p); }
int opt_med5(int* p) { return med5(p); }
int opt_med7(int* p) { return med7(p); }
int opt_med9(int* p) { return med9(p); }
float opt_med3(float* p) { return med3(p); }
float opt_med5(float* p) { return med5(p); }
float opt_med7(float* p) { return med7(p); }
float opt_med9(float* p) { return med9(p); }

int kth_smallest(int* a, int n, int k) { return select_kth(a, n, k, identity<int>); }
float kth_smallest(float* a, int n, int k) { return select_kth(a, n, k, identity<float>); }

int get_median(int* a, int n) { return kth_smallest(a, n, median_rank(n)); }
float get_median(float* a, int n) { return kth_smallest(a, n, median_rank(n)); }

int abs_kth_smallest(int* a, int n, int k) {
  return select_kth(a, n, k, [](int v) { return magnitude(v); });
}
float abs_kth_smallest(float* a, int n, int k) {
  return select_kth(a, n, k, [](float v) { return magnitude(v); });
}

int get_abs_median(int* a, int n) { return abs_kth_smallest(a, n, median_rank(n)); }
float get_abs_median(float* a, int n) { return abs_kth_smallest(a, n, median_rank(n)); }

int hmedian(int* a, int n) {
  if (n <= 1) return a[0];
  std::sort(a, a + n);
  if (n % 2 == 1) return a[n / 2];
  // The sum in 64 bits so that two large values cannot overflow.
  return static_cast<int>((static_cast<int64_t>(a[n / 2 - 1]) + a[n / 2]) / 2.0);
}

float hmedian(float* a, int n) {
  if (n <= 1) return a[0];
  std::sort(a, a + n);
  if (n % 2 == 1) return a[n / 2];
  return static_cast<float>((a[n / 2 - 1] + a[n / 2]) / 2.0);
}
