// B3-spline smoothing of a signal: the interior runs on raw pointers, only
// the samples whose taps leave the signal go through the border rule.
#include "filters/line_smoothing.h"

#include "array/border_index.h"

namespace {

template <B3Order Order>
inline float b3_tap_sum(float centre, float inner, float outer) {
  if (Order == B3Order::CentreFirst) return float(0.375 * centre + 0.25 * inner + 0.0625 * outer);
  return float(0.0625 * outer + 0.25 * inner + 0.375 * centre);
}

template <B3Order Order>
void smooth(const float* in, float* out, int n, int d, type_border border) {
  auto at = [&](int k) {
    int idx = border_index(k, n, border);
    return idx < 0 ? 0.f : in[idx];
  };
  // Only positions whose taps all fall inside use the direct reads.
  int first_inside = 2 * d < n ? 2 * d : n;
  int last_inside = n - 1 - first_inside;
  for (int i = 0; i < first_inside && i < n; i++)
    out[i] = b3_tap_sum<Order>(in[i], at(i - d) + at(i + d), at(i - 2 * d) + at(i + 2 * d));
  const float* p = in + first_inside;
  for (int i = first_inside; i <= last_inside; i++, p++)
    out[i] = b3_tap_sum<Order>(*p, p[-d] + p[d], p[-2 * d] + p[2 * d]);
  for (int i = last_inside + 1 > first_inside ? last_inside + 1 : first_inside; i < n; i++)
    out[i] = b3_tap_sum<Order>(in[i], at(i - d) + at(i + d), at(i - 2 * d) + at(i + 2 * d));
}

}  // namespace

void b3_smooth_1d(const float* in, float* out, int n, int d, type_border border, B3Order order) {
  if (order == B3Order::CentreFirst)
    smooth<B3Order::CentreFirst>(in, out, n, d, border);
  else
    smooth<B3Order::OuterFirst>(in, out, n, d, border);
}
