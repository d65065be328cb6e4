// In-place sorting and index tables of samples.
//
// The classic forms index from 1: given n, they read and write a[1] .. a[n].
// The pointer passed must address an allocation that holds a[0] as well (it is
// never touched), e.g. a buffer of n + 1 elements or an offset vector from
// vector(1, n). A 0-based buffer goes through the *_from0 forms instead, never
// through "buffer - 1", which would point outside its allocation.
#pragma once

#include <cstddef>

// Quicksort with median-of-three pivots; a[1..n] ascending.
void sort(unsigned long n, float* a);
void sort(unsigned long n, double* a);
void sort(unsigned long n, int* a);

// indx[1..n] receives 1..n ordered so that a[indx[1]] <= a[indx[2]] <= ...;
// a is unchanged.
void indexx(unsigned long n, float* a, unsigned long* indx);
void indexx(int n, double* a, int* indx);

// Heapsort of a[1..n] ascending.
void sortb(int n, float* a);

// The same sorts on 0-based buffers: values[0 .. n-1].
void sort_from0(std::size_t n, float* values);
void sort_from0(std::size_t n, double* values);
void sort_from0(std::size_t n, int* values);

// order[0 .. n-1] receives the positions 0 .. n-1 ordered so that
// values[order[0]] <= values[order[1]] <= ... (the same order, ties included,
// as indexx).
void indexx_from0(std::size_t n, const float* values, std::size_t* order);
void indexx_from0(std::size_t n, const double* values, std::size_t* order);
