// Plasma state of every shell: partition functions, element densities, ionisation
// fractions, electron densities and electron-scattering opacities.
#pragma once

#include "base/array.hpp"
#include "base/io.hpp"
#include "base/run_parameters.hpp"
#include "model/atoms.hpp"
#include "model/shells.hpp"

namespace mcspec {

struct Plasma {
  Array2<int> igt;       // IGT(Z, j), Z = 1..56, j = 1..10: partition function of an ion without levels
  Array3<double> pf;     // PF(k, Z, j): shells x 60 x 5
  Array2<double> nelem;  // NELEM(Z, k): number density of element Z [cm^-3], 64 x shells
  Array1<double> ntot;   // NTOT(k): nuclei [cm^-3]
  Array3<double> fion;   // FION(j, Z, k): fraction of element Z in stage j, 5 x 60 x shells
  Array1<double> ne;     // NE(k): electron density [cm^-3]
  Array1<double> kapes;  // KAPES(k): electron-scattering opacity per unit mass [cm^2 g^-1]
  // Sizes every table for js shells (zero-filled).
  void allocate(int js);
};

// Partition functions of every ion in every shell; reads nama when iter = 1 and
// writes ptfn when iter = 31.
void partition_functions(int iter, const Constants& c, const Shells& s, const Atoms& a, Plasma& pl, InFile& nama, OutFile& ptfn,
           OutFile& out);

// Ionisation balance with the electron-density iteration; writes yhea when iter = 31.
void ionisation_balance(int iter, const Params& p, const Shells& s, const Atoms& a, Plasma& pl, OutFile& yhea, OutFile& out);

}  // namespace mcspec
