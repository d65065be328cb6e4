// Medians and order statistics of plain int or float buffers, for the median
// filters, the median prediction of the lifting scheme and the median
// absolute deviation. Every function works in place and reorders its buffer;
// callers that need the data afterwards pass a copy. All need n >= 1.
#pragma once

// Exchange networks: the median of the first 3, 5, 7 or 9 values; the other
// positions are left only partly ordered.
int opt_med3(int* p);
int opt_med5(int* p);
int opt_med7(int* p);
int opt_med9(int* p);
float opt_med3(float* p);
float opt_med5(float* p);
float opt_med7(float* p);
float opt_med9(float* p);

// k-th smallest (k from 0) by selection: afterwards a[k] holds it, with no
// smaller value after it and no larger one before it.
int kth_smallest(int* a, int n, int k);
float kth_smallest(float* a, int n, int k);

// The middle value, the lower one of the two for an even count (no averaging).
int get_median(int* a, int n);
float get_median(float* a, int n);

// The same on absolute values: the buffer is reordered by magnitude, its
// values keep their signs, and the result is a magnitude.
int abs_kth_smallest(int* a, int n, int k);
float abs_kth_smallest(float* a, int n, int k);
int get_abs_median(int* a, int n);
float get_abs_median(float* a, int n);

// Sorts the buffer ascending and returns the middle value, or the
// mean of the two middle values for an even count (truncated toward zero for
// int).
int hmedian(int* a, int n);
float hmedian(float* a, int n);
