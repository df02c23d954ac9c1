// Ordering of the line frequencies: a bucket sort (N buckets spread over the range of
// the values), linear on average for frequencies spread over the spectrum. Equal
// values come out with the larger index first, so that the reversed list (decreasing
// frequency) keeps lines of equal frequency in their transition order.
#include <algorithm>
#include <cmath>
#include <vector>

#include "model/line_list.hpp"

namespace mcspec {
namespace {

// Ascending value; on equal values the larger index first. Non-numbers go last.
struct ValueThenLaterIndex {
  std::span<const double> x;
  bool operator()(int a, int b) const {
    const double xa = x[static_cast<std::size_t>(a)], xb = x[static_cast<std::size_t>(b)];
    const bool na = std::isnan(xa), nb = std::isnan(xb);
    if (na != nb) return nb;
    if (!na && xa != xb) return xa < xb;
    return a > b;
  }
};

void write_one_based(const std::vector<int>& order, std::span<int> index) {
  for (std::size_t i = 0; i < order.size(); ++i) index[i] = order[i] + 1;
}

}  // namespace

void ascending_order(std::span<const double> x, std::span<int> index) {
  const int n = static_cast<int>(x.size());
  if (n == 0) return;
  if (n == 1) {
    index[0] = 1;
    return;
  }
  const auto [pmin, pmax] = std::minmax_element(x.begin(), x.end());
  const double vmin = *pmin, vmax = *pmax;
  std::vector<int> order(static_cast<std::size_t>(n));
  const ValueThenLaterIndex before{x};

  const bool regular = std::all_of(x.begin(), x.end(), [](double v) { return std::isfinite(v); });
  if (!regular) {  // no range to bucket over: a plain comparison sort
    for (int i = 0; i < n; ++i) order[static_cast<std::size_t>(i)] = i;
    std::sort(order.begin(), order.end(), before);
    write_one_based(order, index);
    return;
  }
  if (vmax == vmin) {  // zero range: all equal, later index first
    for (int i = 0; i < n; ++i) index[static_cast<std::size_t>(i)] = n - i;
    return;
  }

  // Buckets of width w over [min - d, max + d], d = 1e-5 of the range.
  const double d = (vmax - vmin) * 1e-5;
  const double lo = vmin - d, hi = vmax + d;
  const double w = (hi - lo) / n;
  std::vector<int> bucket(static_cast<std::size_t>(n)), start(static_cast<std::size_t>(n) + 2, 0);
  for (int i = 0; i < n; ++i) {
    double b = std::trunc((x[static_cast<std::size_t>(i)] - lo) / w + 1.0);
    const int bi = static_cast<int>(std::clamp(b, 1.0, static_cast<double>(n)));
    bucket[static_cast<std::size_t>(i)] = bi;
    ++start[static_cast<std::size_t>(bi) + 1];
  }
  for (int b = 1; b <= n; ++b) start[static_cast<std::size_t>(b) + 1] += start[static_cast<std::size_t>(b)];
  std::vector<int> fill(start.begin(), start.end());
  for (int i = 0; i < n; ++i) order[static_cast<std::size_t>(fill[static_cast<std::size_t>(bucket[static_cast<std::size_t>(i)])]++)] = i;
  // Inside a bucket: smallest value first, the later index first on ties.
  for (int b = 1; b <= n; ++b) {
    const auto first = order.begin() + start[static_cast<std::size_t>(b)];
    const auto last = order.begin() + start[static_cast<std::size_t>(b) + 1];
    if (last - first > 1) std::sort(first, last, before);
  }
  write_one_based(order, index);
}

}  // namespace mcspec
