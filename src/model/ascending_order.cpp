// Ordering of the line frequencies: a comparison sort whose order is total (equal
// values come out with the larger index first, so that the reversed list of decreasing
// frequency keeps lines of equal frequency in their transition order), so it is the
// same whatever the algorithm.
#include <algorithm>
#include <cmath>
#include <numeric>
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
  std::vector<int> order(x.size());
  std::iota(order.begin(), order.end(), 0);
  std::sort(order.begin(), order.end(), ValueThenLaterIndex{x});
  write_one_based(order, index);
}

}  // namespace mcspec
