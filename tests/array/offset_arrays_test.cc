// Offset vectors and matrices: every index of the requested range is usable
// and distinct, views renumber foreign storage as stated.
#include "array/offset_arrays.h"

#include <gtest/gtest.h>

TEST(OffsetArrays, VectorsCoverTheirRangeForAnyFirstIndex) {
  const int ranges[][2] = {{1, 10}, {0, 0}, {-3, 4}, {-6, -2}, {5, 9}};
  for (auto& r : ranges) {
    float* v = vector(r[0], r[1]);
    int* iv = ivector(r[0], r[1]);
    double* dv = dvector(r[0], r[1]);
    for (int k = r[0]; k <= r[1]; ++k) {
      v[k] = 0.5f * k;
      iv[k] = 3 * k;
      dv[k] = -1.0 * k;
    }
    for (int k = r[0]; k <= r[1]; ++k) {
      EXPECT_EQ(v[k], 0.5f * k);
      EXPECT_EQ(iv[k], 3 * k);
      EXPECT_EQ(dv[k], -1.0 * k);
    }
    free_vector(v, r[0], r[1]);
    free_ivector(iv, r[0], r[1]);
    free_dvector(dv, r[0], r[1]);
  }
}

TEST(OffsetArrays, MatricesHoldIndependentRows) {
  double** m = dmatrix(1, 3, -2, 2);
  int** im = imatrix(0, 2, 1, 4);
  float** fm = matrix(-1, 1, 1, 3);
  for (int i = 1; i <= 3; ++i)
    for (int j = -2; j <= 2; ++j) m[i][j] = 10.0 * i + j;
  for (int i = 0; i <= 2; ++i)
    for (int j = 1; j <= 4; ++j) im[i][j] = 10 * i + j;
  for (int i = -1; i <= 1; ++i)
    for (int j = 1; j <= 3; ++j) fm[i][j] = static_cast<float>(i * j);
  for (int i = 1; i <= 3; ++i)
    for (int j = -2; j <= 2; ++j) EXPECT_EQ(m[i][j], 10.0 * i + j);
  for (int i = 0; i <= 2; ++i)
    for (int j = 1; j <= 4; ++j) EXPECT_EQ(im[i][j], 10 * i + j);
  EXPECT_EQ(fm[-1][3], -3.0f);
  free_dmatrix(m, 1, 3, -2, 2);
  free_imatrix(im, 0, 2, 1, 4);
  free_matrix(fm, -1, 1, 1, 3);
}

TEST(OffsetArrays, ConvertMatrixAndSubmatrixRenumberForeignStorage) {
  float a[6] = {0, 1, 2, 3, 4, 5};  // 2 x 3, rows contiguous
  OffsetMatrixView m = convert_matrix(a, 1, 2, 1, 3);
  EXPECT_EQ(m[2][1], a[3]);
  EXPECT_EQ(m[1][3], a[2]);
  m[2][3] = 42.0f;  // a view writes through
  EXPECT_EQ(a[5], 42.0f);
  free_convert_matrix(m, 1, 2, 1, 3);
  EXPECT_TRUE(m.empty());

  float** big = matrix(1, 4, 1, 4);
  for (int i = 1; i <= 4; ++i)
    for (int j = 1; j <= 4; ++j) big[i][j] = static_cast<float>(10 * i + j);
  OffsetMatrixView sub = submatrix(big, 2, 3, 3, 4, 0, 0);
  EXPECT_EQ(sub[0][0], 23.0f);
  EXPECT_EQ(sub[1][1], 34.0f);
  OffsetMatrixView up = submatrix(big, 2, 3, 1, 4, 5, 7);  // columns renumbered upward
  EXPECT_EQ(up[5][7], 21.0f);
  EXPECT_EQ(up[6][10], 34.0f);
  free_submatrix(sub, 0, 1, 0, 1);
  free_submatrix(up, 5, 6, 7, 10);
  free_matrix(big, 1, 4, 1, 4);
}
