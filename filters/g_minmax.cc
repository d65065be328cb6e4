// Min-max morphological filter bank.
#include "filters/g_minmax.h"

#include "array/fatal.h"

G_Minmax::G_Minmax() { Bord = I_CONT; }

void G_Minmax::transform(int N, float* Signal, float* Low, float* High) {
  for (int i = 0; i < N; i += 2) {
    // For an odd length the last sample pairs with itself (clamped).
    float next = sample(Signal, i + 1, N);
    High[i / 2] = Signal[i] - next;
    Low[i / 2] = Signal[i] < next ? Signal[i] : next;
  }
}

void G_Minmax::recons(int N, float* Low, float* High, float* Signal) {
  for (int i = 1; i < N; i += 2) {
    int j = i / 2;
    // The sign of the detail tells which of the pair was the minimum.
    if (High[j] >= 0) {
      Signal[i - 1] = Low[j] + High[j];
      Signal[i] = Low[j];
    } else {
      Signal[i] = Low[j] - High[j];
      Signal[i - 1] = Low[j];
    }
  }
  if (N % 2 == 1) Signal[N - 1] = Low[N / 2];
}

void G_Minmax::transform(int, float*, float*, float*, int) {
  fatal_exit("Error: Pave Minmax not implemented ... \n", -1, stdout);
}

void G_Minmax::recons(int, float*, float*, float*, int) {
  fatal_exit("Error: Pave Minmax not implemented ... \n", -1, stdout);
}
