// Line estimators of the per-packet-stream Monte Carlo in 64-bit fixed point. Integer
// sums do not depend on the order of their terms, so EJ and ELINE come out bit for bit
// the same for any number of threads and any scheduling, with one shared table and no
// copy per thread. A flight adds its energy to a run of consecutive lines of one
// shell; it is booked as a step up at its first line and down after its last (a
// difference table), two atomic additions per flight, and the run's end turns the
// steps into sums. Unit: 2^-30 of a packet's starting energy.
//
// Range: modular (2^64) arithmetic keeps the steps exact; a sum is exact when it is
// below 2^64 units, and all of them are when the run adds fewer than 2^64 units in
// all (2^34, about 1.7e10, packet energies of line passages per run: some 4e7 packets
// at 400 passages each). The run counts what it adds, with an overflow check, and
// stops with an error past that range.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

namespace mcspec {

struct Estimators;

class LineTally {
 public:
  static constexpr double kUnitsPerEnergy = 0x1p30;

  // Sizes for nl lines and js shells (all zero); keeps the storage when unchanged.
  void reset(int nl, int js);
  int lines() const { return nl_; }

  // Energy ep in units; RunError for a negative, non-finite or huge (>= 2^33) energy.
  static std::uint64_t units(double ep) {
    if (!(ep >= 0 && ep < 0x1p33)) [[unlikely]] energy_out_of_range(ep);
    return static_cast<std::uint64_t>(ep * kUnitsPerEnergy + 0.5);  // rounded to the nearest unit
  }
  [[noreturn]] static void energy_out_of_range(double ep);

  // Atomic additions when several threads add at once (shared), plain ones otherwise:
  // the sums are the same either way.
  void set_shared(bool shared) { shared_ = shared; }

  // A flight of energy q units in shell j, from line k0 to line k1 - 1 (list
  // positions): the step up at k0 is booked when the flight starts (start; its cache
  // line then loads while the lines are walked), the step down when it ends (end, next
  // to the first). Shared: both at the end, atomically, after a prefetch at the start.
  void flight_start(int j, int k0, std::uint64_t q) {
    std::uint64_t* cell = column(j) + (k0 - 1);
    if (shared_) {
      __builtin_prefetch(cell, 1);
    } else {
      *cell += q;
    }
  }
  // A flight of shell j will start near line k: load its step's cache line.
  void prefetch(int j, int k) { __builtin_prefetch(column(j) + (k - 1), 1); }
  void flight_end(int j, int k0, int k1, std::uint64_t q) {
    std::uint64_t* col = column(j);
    if (shared_) {
      if (k1 == k0) return;
      std::atomic_ref<std::uint64_t>(col[k0 - 1]).fetch_add(q, std::memory_order_relaxed);
      std::atomic_ref<std::uint64_t>(col[k1 - 1]).fetch_sub(q, std::memory_order_relaxed);
    } else {
      col[k1 - 1] -= q;
    }
  }
  // An escaped packet last emitted in line k.
  void add_line(int k, std::uint64_t q) { add(eline_[static_cast<std::size_t>(k - 1)], q); }

  // EJ(k, j) and ELINE(k) of est as packet energies from the sums (shells side by side
  // on `threads` threads); the tables are zero again afterwards. units_overflow: the units
  // added in the run passed 2^64 (RunError).
  void to_estimators(Estimators& est, int threads, bool units_overflow);

 private:
  std::uint64_t* column(int j) {
    return steps_.data() + static_cast<std::size_t>(j - 1) * static_cast<std::size_t>(nl_ + 1);
  }
  void add(std::uint64_t& cell, std::uint64_t q) {
    if (shared_) {
      std::atomic_ref<std::uint64_t>(cell).fetch_add(q, std::memory_order_relaxed);
    } else {
      cell += q;
    }
  }
  bool shared_ = true;
  int nl_ = 0, js_ = 0;
  std::vector<std::uint64_t> steps_;  // (NL + 1) x JS, shell columns
  std::vector<std::uint64_t> eline_;  // NL
};

// Adds a to an unsigned total; sets overflow when the true sum passes 2^64 - 1.
inline void add_units(std::uint64_t& total, std::uint64_t a, bool& overflow) {
  overflow |= __builtin_add_overflow(total, a, &total);
}

}  // namespace mcspec
