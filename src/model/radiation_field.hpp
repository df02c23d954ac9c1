// The radiation field of a run after its temperature iteration, "radfield.dat": the
// boundary temperature TB and per shell the radiation temperature TR, the dilution
// factor W and the electron temperature TE, at full precision. A later run whose
// working directory holds such a file under the name "warmstart.dat" starts its
// temperature iteration from it instead of from TB everywhere (a warm start).
#pragma once

#include <vector>

#include "base/io.hpp"
#include "model/shells.hpp"

namespace mcspec {

struct RadiationField {
  double tb = 0;           // boundary temperature [K]
  std::vector<double> v;   // shell mid-point velocity [km/s], strictly increasing
  std::vector<double> tr;  // radiation temperature [K]
  std::vector<double> w;   // dilution factor
  std::vector<double> te;  // electron temperature [K]
};

// Writes the field of the shells and TB: a comment header, then TB, then one record
// per shell "shell v TR W TE", every real as %.17g (it reads back exactly).
void write_radiation_field(const Shells& s, double tb, OutFile& out);

// Reads a field written by write_radiation_field. Records starting with '#' and blank
// records are comments. Checked: TB, TR and TE finite and within tlo..thi (the limits
// of the boundary temperature), 0 < W <= 1, shells numbered 1, 2, 3, ..., velocities
// finite, positive and strictly increasing; InputError naming file, record and field.
RadiationField read_radiation_field(InFile& in, double tlo, double thi);

// Puts the field on the shells. When the shell count and the mid-point velocities
// (to 1e-9 relative) are those of the model the values are taken as they are;
// otherwise TR, W and TE are interpolated linearly in velocity, clamped to the first
// and last shell of the file outside its range. Returns true when taken as they are.
bool apply_radiation_field(const RadiationField& f, Shells& s);

}  // namespace mcspec
