// Fixed-point line estimators: the steps of every shell column summed in list order
// give, line by line, the units of energy that reached its resonance.
#include "montecarlo/line_tally.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include "base/errors.hpp"
#include "base/parallel.hpp"
#include "montecarlo/montecarlo.hpp"

namespace mcspec {

void LineTally::reset(Estimators& est, int nl, int js) {
  units_ = 0;
  overflow_ = false;
  nl_ = nl;
  js_ = js;
  steps_ = est.ej.data();
  eline_ = est.eline.data();
}

void LineTally::energy_out_of_range(double ep) {
  throw RunError("a packet energy of " + std::to_string(ep) +
                 " lies outside the range of the fixed-point line estimators (0 to 2^33)");
}

void LineTally::add(const Book& b) {
  // The cells of a flight some way ahead are loaded while the current one is added.
  constexpr std::size_t ahead = 16;
  const std::size_t n = b.flights.size();
  for (std::size_t i = 0; i < n; ++i) {
    if (i + ahead < n) {
      __builtin_prefetch(steps_ + b.flights[i + ahead].up, 1);
      if (b.flights[i + ahead].down != kNoCell) __builtin_prefetch(steps_ + b.flights[i + ahead].down, 1);
    }
    const Flight& f = b.flights[i];
    add_bits(steps_[f.up], f.q);
    if (f.down != kNoCell) add_bits(steps_[f.down], 0 - f.q);
  }
  for (const LastEmission& e : b.escapes) add_bits(eline_[e.line - 1], e.q);
  add_units(units_, b.units, overflow_);
  overflow_ |= b.overflow;
}

void LineTally::to_estimators(Estimators& est, int threads) {
  if (overflow_) {
    throw RunError("the line estimators of this Monte Carlo run exceed their fixed-point range (2^34 packet "
                   "energies of line passages in one run): use fewer packets");
  }
  constexpr double unit = 1.0 / kUnitsPerEnergy;
  const auto nl = static_cast<std::size_t>(nl_);
  parallel_for(js_, threads, [&](int task, int) {
    double* ej = est.ej.column(task + 1);
    std::uint64_t sum = 0;
    for (std::size_t k = 0; k < nl; ++k) {
      sum += std::bit_cast<std::uint64_t>(ej[k]);
      ej[k] = static_cast<double>(sum) * unit;
    }
  });
  double* eline = est.eline.data();
  for (std::size_t k = 0; k < nl; ++k) eline[k] = static_cast<double>(std::bit_cast<std::uint64_t>(eline[k])) * unit;
}

}  // namespace mcspec
