// Offset vectors and matrices over the C heap.
#include "array/offset_arrays.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "array/nrerror.h"

namespace {

// The lowest index a block must hold so that index 0 is inside it.
int block_low(int first) { return std::min(first, 0); }

// A block holding indices min(first, 0) .. max(last, 0); returns the address
// of index 0, or null when the heap refuses.
template <class T>
T* offset_block(int first, int last) {
  int low = block_low(first);
  int64_t count = int64_t(std::max(last, 0)) - low + 1;
  T* block = static_cast<T*>(std::malloc(static_cast<std::size_t>(count) * sizeof(T)));
  return block == nullptr ? nullptr : block - low;
}

template <class T>
void free_offset_block(T* p, int first) {
  if (p != nullptr) std::free(p + block_low(first));
}

template <class T>
T* offset_vector(int nl, int nh, const char* failure) {
  T* v = offset_block<T>(nl, nh);
  if (v == nullptr) nrerror(failure);
  return v;
}

template <class T>
T** offset_matrix(int nrl, int nrh, int ncl, int nch, const char* rows_failure,
                  const char* row_failure) {
  T** m = offset_block<T*>(nrl, nrh);
  if (m == nullptr) nrerror(rows_failure);
  for (int i = nrl; i <= nrh; ++i) {
    m[i] = offset_block<T>(ncl, nch);
    if (m[i] == nullptr) nrerror(row_failure);
  }
  return m;
}

template <class T>
void free_offset_matrix(T** m, int nrl, int nrh, int ncl) {
  if (m == nullptr) return;
  for (int i = nrh; i >= nrl; --i) free_offset_block(m[i], ncl);
  free_offset_block(m, nrl);
}

// A 0-based block of nrh - nrl + 1 row starts.
float** row_starts(int nrl, int nrh, const char* failure) {
  int64_t rows = std::max<int64_t>(int64_t(nrh) - nrl + 1, 1);
  auto starts = static_cast<float**>(std::malloc(static_cast<std::size_t>(rows) * sizeof(float*)));
  if (starts == nullptr) nrerror(failure);
  return starts;
}

}  // namespace

float* vector(int nl, int nh) {
  return offset_vector<float>(nl, nh, "allocation failure in vector()");
}
int* ivector(int nl, int nh) {
  return offset_vector<int>(nl, nh, "allocation failure in ivector()");
}
double* dvector(int nl, int nh) {
  return offset_vector<double>(nl, nh, "allocation failure in dvector()");
}
void free_vector(float* v, int nl, int) { free_offset_block(v, nl); }
void free_ivector(int* v, int nl, int) { free_offset_block(v, nl); }
void free_dvector(double* v, int nl, int) { free_offset_block(v, nl); }

float** matrix(int nrl, int nrh, int ncl, int nch) {
  return offset_matrix<float>(nrl, nrh, ncl, nch, "allocation failure 1 in matrix()",
                              "allocation failure 2 in matrix()");
}
double** dmatrix(int nrl, int nrh, int ncl, int nch) {
  return offset_matrix<double>(nrl, nrh, ncl, nch, "allocation failure 1 in dmatrix()",
                               "allocation failure 2 in dmatrix()");
}
int** imatrix(int nrl, int nrh, int ncl, int nch) {
  return offset_matrix<int>(nrl, nrh, ncl, nch, "allocation failure 1 in imatrix()",
                            "allocation failure 2 in imatrix()");
}
void free_matrix(float** m, int nrl, int nrh, int ncl, int) {
  free_offset_matrix(m, nrl, nrh, ncl);
}
void free_dmatrix(double** m, int nrl, int nrh, int ncl, int) {
  free_offset_matrix(m, nrl, nrh, ncl);
}
void free_imatrix(int** m, int nrl, int nrh, int ncl, int) { free_offset_matrix(m, nrl, nrh, ncl); }

void OffsetMatrixView::release() {
  std::free(row_starts_);
  row_starts_ = nullptr;
}

OffsetMatrixView submatrix(float** a, int oldrl, int oldrh, int oldcl, int, int newrl, int newcl) {
  float** starts = row_starts(oldrl, oldrh, "allocation failure in submatrix()");
  for (int k = 0; k <= oldrh - oldrl; ++k) starts[k] = &a[oldrl + k][oldcl];
  return OffsetMatrixView(starts, newrl, newcl);
}

void free_submatrix(OffsetMatrixView& b, int, int, int, int) { b.release(); }

OffsetMatrixView convert_matrix(float* a, int nrl, int nrh, int ncl, int nch) {
  float** starts = row_starts(nrl, nrh, "allocation failure in convert_matrix()");
  int64_t row_length = int64_t(nch) - ncl + 1;
  for (int k = 0; k <= nrh - nrl; ++k) starts[k] = a + k * row_length;
  return OffsetMatrixView(starts, nrl, ncl);
}

void free_convert_matrix(OffsetMatrixView& b, int, int, int, int) { b.release(); }
