// Per-ion shares of the escaping packet spectrum: a diagnostic of which ions shape
// each part of the spectrum through their last emission.
#include "montecarlo/ion_spectrum.hpp"

#include <cmath>

namespace mcspec {

void IonSpectrum::open(OutFile& f, const std::string& path) {
  f.create_new(path);
  file = &f;
  enabled = true;
}

void IonSpectrum::set_run(const std::vector<IonEscape>& escapes) {
  energy.clear();
  for (const IonEscape& e : escapes) energy[{e.bin, e.code}] += e.ep;
}

void IonSpectrum::write(const WavelengthGrid& g) {
  file->write_text(
      "# Escaping Monte Carlo spectrum of the last Monte Carlo run by the ion whose line last emitted each packet\n"
      "# bin: wavelength bin as in sica.dat; wavelength_A: vacuum wavelength of the bin centre [Angstrom]\n"
      "# species: Z + 0.01 (stage - 1) of the emitting ion, 0.00 = a packet no line re-emitted\n"
      "# share: fraction of the bin's escaping Monte Carlo energy (the shares of a bin sum to 1; zero shares omitted)\n"
      "#   bin  wavelength_A species        share\n");
  auto it = energy.begin();
  while (it != energy.end()) {
    const int bin = it->first.first;
    double total = 0;
    auto end = it;
    for (; end != energy.end() && end->first.first == bin; ++end) total += end->second;
    const double centre = std::pow(10.0, 0.5 * (g.wlb(bin) + g.wlb(bin + 1))) * 1e4;  // [Angstrom]
    for (; it != end; ++it) {
      if (it->second == 0 || total == 0) continue;
      const int code = it->first.second;
      const double species = code == 0 ? 0.0 : code / 100 + 0.01 * (code % 100 - 1);
      file->write("(I7, F14.3, F8.2, ES13.5)", bin, centre, species, it->second / total);
    }
  }
}

}  // namespace mcspec
