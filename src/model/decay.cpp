// Radioactive decay from the explosion to the epoch: two-step chains parent (1) ->
// daughter (2) -> stable product (3), e.g. 56Ni -> 56Co -> 56Fe, with the Bateman
// solution from N1(0) = a, N2(0) = b, N3(0) = 0:
//   N1(t) = a exp(-l1 t)
//   N2(t) = b exp(-l2 t) + a l1 (exp(-l1 t) - exp(-l2 t)) / (l2 - l1)
//   N3(t) = a + b - N1 - N2,          l = ln 2 / half-life.
// Electron capture and beta+ decay keep the mass number, so the mass fractions of a
// chain keep their sum; the mass carried off by the decay energy (~1e-4 of the mass
// for 56Ni -> 56Fe) is neglected.
#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>

#include "base/errors.hpp"
#include "model/zones.hpp"

namespace mcspec {

// The difference of exponentials is written exp(-l_min t) (1 - exp(-|l2 - l1| t)) /
// |l2 - l1|, the slower decay factored out: every exponential has a negative argument
// (factoring out exp(-l1 t) would overflow for a parent faster than its daughter, 52Fe
// at a few hundred days), expm1 keeps the digits at small t and for near rates, the
// limit for equal rates is t, and t = 0 gives N2 = b exactly. N3 follows from the sum;
// its absolute error is that of the sum (~1e-16).
ChainAmounts decay_chain(const DecayChain& c, double a, double b, double t) {
  const double l1 = std::numbers::ln2 / c.half_life_parent, l2 = std::numbers::ln2 / c.half_life_daughter;
  const double d = std::fabs(l2 - l1);
  const double g = (d * t > 0.0) ? -std::expm1(-d * t) / d : t;  // (1 - e^{-d t}) / d
  ChainAmounts n;
  n.parent = a * std::exp(-l1 * t);
  n.daughter = b * std::exp(-l2 * t) + a * l1 * std::exp(-std::min(l1, l2) * t) * g;
  n.product = std::max(0.0, (a + b) - n.parent - n.daughter);
  return n;
}

ZoneComposition decay_to_epoch(const Zones& z, double day) {
  if (!(day >= 0.0) || !std::isfinite(day))
    throw InputError("the epoch DAY must be a finite number of days since the explosion, >= 0");
  ZoneComposition out;
  out.day = day;
  out.nz = z.nz;
  out.v_outer = z.v_outer;
  out.x = z.stable;
  out.isotope.assign(kIsotopes, z.nz);
  out.product.assign(kDecayChains, z.nz);
  for (int k = 1; k <= z.nz; ++k) {
    for (int c = 1; c <= kDecayChains; ++c) {
      const DecayChain& ch = kDecayChain[static_cast<std::size_t>(c - 1)];
      const ChainAmounts n = decay_chain(ch, z.isotope(2 * c - 1, k), z.isotope(2 * c, k), day);
      out.isotope(2 * c - 1, k) = n.parent;
      out.isotope(2 * c, k) = n.daughter;
      out.product(c, k) = n.product;
      // The plasma sees elements: what is left of 56Ni is nickel, of 56Co cobalt, ...
      out.x(ch.z_parent, k) += n.parent;
      out.x(ch.z_daughter, k) += n.daughter;
      out.x(ch.z_product, k) += n.product;
    }
  }
  return out;
}

}  // namespace mcspec
