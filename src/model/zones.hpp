// Layered ejecta: the composition by velocity zones of the run file "zones.dat", its
// radioactive isotopes decayed from the explosion to the epoch (two-step Bateman
// chains), and the mean composition of each shell, weighted by the mass it takes from
// each zone it overlaps. The uniform composition is one zone (one_zone), not a
// separate path.
//
// "zones.dat": lines whose first non-blank character is '#' are comments; blank lines
// are skipped. The first other line is the header: "v_outer", then the columns, each
// an element symbol H..Nd (Z = 1..60, written as chemists write them: "Fe", not "FE")
// or a radioactive isotope (Ni56, Co56, Fe52, Mn52, Cr48, V48), each at most once.
// Then one line per zone, inner to outer: v_outer [km/s] (finite, positive, strictly
// increasing) and one mass fraction per column (finite, >= 0), fields separated by
// blanks or tabs. Isotope fractions are those at the explosion. Each row is normalised
// to sum 1 (a warning when its sum differs from 1 by more than 1 %).
//
// Where the zones lie: zone k holds the velocities v_outer(k-1) < v <= v_outer(k).
// The innermost zone reaches down to whatever lies below (the photosphere VPH) and the
// outermost zone holds every velocity above v_outer(nz-1): its own v_outer only closes
// the table, and a model whose outer edge lies beyond it takes the last zone out to
// the edge. A zone wholly below the photosphere is not seen (as the photosphere recedes
// in velocity with the epoch, one file serves several epochs).
#pragma once

#include <array>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/array.hpp"
#include "base/io.hpp"

namespace mcspec {

// Elements of a zone: Z = 1..60 (H..Nd), the same range as the composition "comp.ind".
inline constexpr int kZoneElements = 60;
// Capacity of "zones.dat": at most 100 zones.
inline constexpr int kMaxZones = 100;
// Radioactive isotopes: i = 2c-1 is the parent of chain c, i = 2c its daughter.
inline constexpr int kDecayChains = 3;
inline constexpr int kIsotopes = 2 * kDecayChains;

// A two-step chain parent -> daughter -> stable product by electron capture or beta+
// decay: all three have the same mass number.
struct DecayChain {
  std::string_view parent, daughter, product;  // "Ni56", "Co56", "Fe56"
  int z_parent, z_daughter, z_product;
  double half_life_parent, half_life_daughter;  // [days]
};
inline constexpr std::array<DecayChain, kDecayChains> kDecayChain = {{
    {"Ni56", "Co56", "Fe56", 28, 27, 26, 6.075, 77.236},
    {"Fe52", "Mn52", "Cr52", 26, 25, 24, 8.275 / 24.0, 5.591},
    {"Cr48", "V48", "Ti48", 24, 23, 22, 21.56 / 24.0, 15.9735},
}};

// "H" for Z = 1 .. "Nd" for Z = 60; empty outside 1..60.
std::string_view zone_element_symbol(int z);
// Z of a symbol, compared exactly ("Fe" 26; "FE", "fe" 0); 0 when it is none of H..Nd.
int zone_element_of_symbol(std::string_view s);
// "Ni56" for i = 1 .. "V48" for i = 6; empty outside 1..6.
std::string_view isotope_name(int i);

// The zones as read, at the explosion.
struct Zones {
  int nz = 0;               // number of zones, 1 innermost .. nz outermost
  Array1<double> v_outer;   // v_outer(k): outer velocity of zone k [km/s]
  Array2<double> stable;    // stable(Z, k): mass fraction of the stable element Z
  Array2<double> isotope;   // isotope(i, k): mass fraction of radioactive isotope i
};

// The zones at the epoch.
struct ZoneComposition {
  double day = 0;           // time since explosion [days]
  int nz = 0;
  Array1<double> v_outer;   // [km/s], as in Zones
  Array2<double> x;         // x(Z, k): element mass fraction, Z = 1..60: stable part +
                            // isotopes left + stable nuclei made by decay
  Array2<double> isotope;   // isotope(i, k): radioactive isotope i left
  Array2<double> product;   // product(c, k): stable product of chain c made by decay
};

// Reads "zones.dat" (in as opened, its name used in messages). Appends a warning line
// (no prefix) for each zone whose fractions are renormalised. Throws InputError naming
// the file, the record (line) and the field (column) of a bad entry.
Zones read_zones(InFile& in, std::vector<std::string>& warnings);

// The uniform composition as a single zone: x(Z), Z = 1..n (n <= 60), stable.
Zones one_zone(const Array1<double>& x);

// Amounts of a two-step chain at t [days] after the explosion, from a parent and b
// daughter at t = 0 (any unit: mass fractions, as the mass number is kept).
struct ChainAmounts {
  double parent, daughter, product;
};
ChainAmounts decay_chain(const DecayChain& c, double a, double b, double t);

// The zones decayed to the epoch day [days since explosion, >= 0].
ZoneComposition decay_to_epoch(const Zones& z, double day);

// The velocities [km/s] of the js + 1 shell edges of the model: VPH / XS(2j - 1),
// j = 1..js+1, the first being the photosphere (xs: the model's x grid, 2 js + 1 points).
std::vector<double> shell_velocity_edges(double vph, const Array1<double>& xs);

// Mass-weighted mean over the zones of a per-zone table q(n, k), for the shells between
// the increasing velocity edges v_edges [km/s] (js + 1 values): result (n, j), column j
// for shell j. A shell inside a single zone takes that zone's column bit for bit.
Array2<double> mix_into_shells(const Array1<double>& v_outer, const Array2<double>& q,
                               std::span<const double> v_edges);

// The composition of each shell: x(Z, j), isotope(i, j), product(c, j).
struct ShellComposition {
  Array2<double> x, isotope, product;
};
ShellComposition shell_composition(const ZoneComposition& z, std::span<const double> v_edges);

// "composition.dat": comment lines ("#"), a line of column names (shell, v_inner,
// v_outer [km/s], the elements present in any shell, the six isotopes), then one row
// per shell of its mass fractions at the epoch day.
void write_shell_composition(double day, std::span<const double> v_edges, const ShellComposition& sc,
                             OutFile& out);

}  // namespace mcspec
