// The shell structure of the ejecta above the lower boundary (the photosphere).
// Positions are carried as x = R/r, R the lower-boundary radius; the flow is
// homologous, v/c = beta/x with beta = VPH 1e5 / c.
#pragma once

#include "base/array.hpp"
#include "base/io.hpp"
#include "base/run_parameters.hpp"

namespace mcspec {

struct Shells {
  int js = 0;            // number of shells, 1 innermost .. js outermost
  int nx = 0;            // x-grid points, 2 js + 1
  double dx = 0;         // x-grid spacing
  Array1<double> xs;     // XS(i), i = 1..nx: 1 at the lower boundary down to XE1;
                         // shell j spans XS(2j-1) (inner), XS(2j) (centre), XS(2j+1)
  Array1<double> vs;     // velocity at the shell centre [km/s]
  Array1<double> logrh;  // log10 density [g cm^-3]
  Array1<double> dvol;   // shell volume in units of (4/3) pi R^3
  Array1<double> tr;     // radiation temperature [K]
  Array1<double> te;     // electron temperature [K]
  Array1<double> w;      // dilution factor
};

// Capacity of the input density profile.
inline constexpr int kMaxProfilePoints = 300;

// The x grid of the shells from JS and XE1 (checked), every per-shell table sized.
void lay_x_grid(const Params& p, Shells& s);

// Reads the density profile (hydro), scales it to the epoch and lays the shells;
// writes the profile and shell tables to stst and a line to out.
void build_shells(const Params& p, const Constants& c, InFile& hydro, Shells& s, OutFile& stst, OutFile& out);

// The shell table XS, VS, LOG RH, TE, TR, W with its header, as written after the
// model is built and after every temperature pass.
void write_shell_table(const Shells& s, OutFile& stst);

}  // namespace mcspec
