// Vectors and matrices whose indices start at any chosen value, for the
// numerical routines that count from 1.
//
// A vector [nl, nh] is one heap block holding every index from min(nl, 0) to
// max(nh, 0), and the pointer handed out addresses index 0 of it, so p[nl] ..
// p[nh] (and p[0]) are all inside the block: a 1-based vector costs one unused
// element instead of a pointer before its allocation. Matrix rows and the
// block of row pointers follow the same rule. The heap is the C heap, not the
// array pools; failures end through nrerror.
//
// submatrix and convert_matrix build row views over storage they do not own.
// Their renumbered rows may start before the storage (column 1 of a view over
// a contiguous array is the array's first element), so they are views with
// their own index arithmetic rather than shifted raw pointers.
#pragma once

float* vector(int nl, int nh);
int* ivector(int nl, int nh);
double* dvector(int nl, int nh);
void free_vector(float* v, int nl, int nh);
void free_ivector(int* v, int nl, int nh);
void free_dvector(double* v, int nl, int nh);

float** matrix(int nrl, int nrh, int ncl, int nch);
double** dmatrix(int nrl, int nrh, int ncl, int nch);
int** imatrix(int nrl, int nrh, int ncl, int nch);
// Releases every row, from row nrh down to nrl, then the row pointers.
void free_matrix(float** m, int nrl, int nrh, int ncl, int nch);
void free_dmatrix(double** m, int nrl, int nrh, int ncl, int nch);
void free_imatrix(int** m, int nrl, int nrh, int ncl, int nch);

// Rows of floats renumbered from first_row, columns from first_col:
// view[i][j] is element j - first_col of row i - first_row. Owns only its
// block of row starts.
class OffsetMatrixView {
 public:
  class Row {
   public:
    Row(float* start, int first_col) : start_(start), first_col_(first_col) {}
    float& operator[](int j) const { return start_[j - first_col_]; }

   private:
    float* start_;
    int first_col_;
  };

  OffsetMatrixView() = default;
  OffsetMatrixView(float** row_starts, int first_row, int first_col)
      : row_starts_(row_starts), first_row_(first_row), first_col_(first_col) {}
  Row operator[](int i) const { return Row(row_starts_[i - first_row_], first_col_); }
  bool empty() const { return row_starts_ == nullptr; }
  // Gives the block of row starts back to the heap.
  void release();

 private:
  float** row_starts_ = nullptr;
  int first_row_ = 0;
  int first_col_ = 0;
};

// Rows oldrl..oldrh, columns from oldcl, of a, renumbered from newrl and newcl:
// view[newrl + k][newcl + c] is a[oldrl + k][oldcl + c].
OffsetMatrixView submatrix(float** a, int oldrl, int oldrh, int oldcl, int oldch, int newrl,
                           int newcl);
void free_submatrix(OffsetMatrixView& b, int nrl, int nrh, int ncl, int nch);

// Consecutive slices of the contiguous array a as rows nrl..nrh:
// view[nrl + k][ncl + c] is a[k * (nch - ncl + 1) + c].
OffsetMatrixView convert_matrix(float* a, int nrl, int nrh, int ncl, int nch);
void free_convert_matrix(OffsetMatrixView& b, int nrl, int nrh, int ncl, int nch);
