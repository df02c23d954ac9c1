// Line estimators of the per-packet-stream Monte Carlo in 64-bit fixed point. Integer
// sums do not depend on the order of their terms, so EJ and ELINE come out bit for bit
// the same for any number of threads and any scheduling, with no copy per thread. A
// flight adds its energy to a run of consecutive lines of one shell: it is booked as a
// step up at its first line and a step down after its last (a difference table). The
// packet loop only appends its flights to the short list of its block of packets; the
// lists are added to the table (prefetching ahead, so the scattered additions
// overlap), and the run's end turns the steps into sums. Unit: 2^-30 of a packet's
// starting energy. The table is EJ itself (and ELINE for the lines of last emission):
// during the run each element holds the bits of an unsigned 64-bit integer, zero bits
// being 0.0 as cleared at the run's start, and the conversion at the end writes the
// sums as packet energies in place, so the mode needs no memory beyond the tables.
//
// Range: modular (2^64) arithmetic keeps the steps exact; a sum is exact when it is
// below 2^64 units, and all of them are when the run adds fewer than 2^64 units in
// all (2^34, about 1.7e10, packet energies of line passages per run: some 4e7 packets
// at 400 passages each). The run counts what it adds, with an overflow check, and
// stops with an error past that range.
#pragma once

#include <bit>
#include <cstdint>
#include <vector>

namespace mcspec {

struct Estimators;

// Adds a to an unsigned total; sets overflow when the true sum passes 2^64 - 1.
inline void add_units(std::uint64_t& total, std::uint64_t a, bool& overflow) {
  overflow |= __builtin_add_overflow(total, a, &total);
}

class LineTally {
 public:
  static constexpr double kUnitsPerEnergy = 0x1p30;

  // What the packets of one block add: flights (step cells of the table and their
  // units) and escaped packets' lines of last emission.
  struct Flight {
    std::uint32_t up, down;  // cells of the step up and the step down (kNoCell: after the last line)
    std::uint64_t q;         // units
  };
  static constexpr std::uint32_t kNoCell = 0xffffffffu;
  struct LastEmission {
    int line;                // list position
    std::uint64_t q;
  };
  struct Book {
    std::vector<Flight> flights;
    std::vector<LastEmission> escapes;
    std::uint64_t units = 0;  // units of all line passages booked
    bool overflow = false;    // the count passed 2^64 - 1
    void clear() {
      flights.clear();
      escapes.clear();
      units = 0;
      overflow = false;
    }
  };

  // Starts a run on the EJ and ELINE tables of est (nl lines x js shells, cleared to
  // zero).
  void reset(Estimators& est, int nl, int js);
  int lines() const { return nl_; }

  // Energy ep in units; RunError for a negative, non-finite or huge (>= 2^33) energy.
  static std::uint64_t units(double ep) {
    if (!(ep >= 0 && ep < 0x1p33)) [[unlikely]] energy_out_of_range(ep);
    return static_cast<std::uint64_t>(ep * kUnitsPerEnergy + 0.5);  // rounded to the nearest unit
  }
  [[noreturn]] static void energy_out_of_range(double ep);

  // Books lines k0 .. k0 + passed - 1 (list positions) of shell j, each reached with
  // q units.
  void book_flight(Book& b, int j, int k0, int passed, std::uint64_t q) const {
    if (passed == 0) return;
    const std::uint32_t col = static_cast<std::uint32_t>(j - 1) * static_cast<std::uint32_t>(nl_);
    const int k1 = k0 + passed;  // the first line not reached
    b.flights.push_back({col + static_cast<std::uint32_t>(k0 - 1),
                         k1 <= nl_ ? col + static_cast<std::uint32_t>(k1 - 1) : kNoCell, q});
    std::uint64_t all = 0;
    b.overflow |= __builtin_mul_overflow(q, static_cast<std::uint64_t>(passed), &all);
    add_units(b.units, all, b.overflow);
  }
  // An escaped packet last emitted in line k.
  static void book_escape(Book& b, int k, std::uint64_t q) {
    b.escapes.push_back({k, q});
    add_units(b.units, q, b.overflow);
  }

  // Adds a block's book to the table (one thread at a time).
  void add(const Book& b);

  // EJ(k, j) and ELINE(k) of est as packet energies from the sums (shells side by side
  // on `threads` threads). RunError when the units added in the run passed 2^64 - 1.
  void to_estimators(Estimators& est, int threads);

 private:
  static void add_bits(double& cell, std::uint64_t q) {
    cell = std::bit_cast<double>(std::bit_cast<std::uint64_t>(cell) + q);
  }
  int nl_ = 0, js_ = 0;
  std::uint64_t units_ = 0;
  bool overflow_ = false;
  double* steps_ = nullptr;  // EJ: (NL x JS), shell columns
  double* eline_ = nullptr;  // ELINE: NL
};

}  // namespace mcspec
