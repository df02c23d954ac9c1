// Hand-made wavelength grids, filter tables and output sinks for the spectrum tests.
#pragma once

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "common/io.hpp"
#include "driver/initiate.hpp"
#include "montecarlo/montecarlo.hpp"
#include "opacity/line_model.hpp"
#include "spectrum/spectrum.hpp"

namespace mcspec::test {

// KG bins uniform in log10 wavelength between wvm1 and wvm2 [micron]; air = vacuum,
// so the vacuum-to-air width ratio Rb is 1.
inline WavelengthGrid log_grid(double wvm1, double wvm2, int kg) {
  WavelengthGrid g;
  g.kg = kg;
  g.wlb.assign(kg + 1);
  g.wlba.assign(kg + 1);
  g.wbin.assign(kg);
  g.wbina.assign(kg);
  const double w1 = std::log10(wvm1);
  g.dwl = (std::log10(wvm2) - w1) / kg;
  for (int e = 1; e <= kg + 1; ++e) g.wlb(e) = g.wlba(e) = (e - 1) * g.dwl + w1;
  for (int b = 1; b <= kg; ++b) g.wbin(b) = g.wbina(b) = std::pow(10.0, g.wlb(b + 1)) - std::pow(10.0, g.wlb(b));
  return g;
}

// Triangular UBVR curves on the 50-A grid 3000..8400 A as "filters.dat" rows (F9.1, 4F8.3).
inline double triangle(double lambda, double centre, double half) {
  return std::max(0.0, 1.0 - std::abs(lambda - centre) / half);
}
inline std::string filters_text(int rows = kFilterRows, int moved_row = 0) {
  std::string text;
  for (int i = 1; i <= rows; ++i) {
    double w = 3000.0 + 50.0 * (i - 1);
    const double u = triangle(w, 3650, 500), b = triangle(w, 4450, 900), v = triangle(w, 5500, 900),
                 r = triangle(w, 6500, 1400);
    if (i == moved_row) w += 10.0;
    char rec[64];
    std::snprintf(rec, sizeof rec, "%9.1f%8.3f%8.3f%8.3f%8.3f\n", w, u, b, v, r);
    text += rec;
  }
  return text;
}
inline InFile filters_file(const std::string& text = filters_text()) {
  InFile f;
  f.open_text("filters.dat", text);
  return f;
}

// Five in-memory output files and the SpectrumOutput that points at them.
struct Sinks {
  OutFile out = OutFile::memory("stdout");
  OutFile spcp = OutFile::memory("spcp.dat");
  OutFile spct = OutFile::memory("spct.dat");
  OutFile sbib = OutFile::memory("sbib.dat");
  OutFile stst = OutFile::memory("stst.dat");
  SpectrumOutput so{out, spcp, spct, sbib, stst};
};

// The lines of a text.
inline std::vector<std::string> records(const std::string& text) {
  std::vector<std::string> r;
  std::size_t a = 0;
  while (a < text.size()) {
    const std::size_t e = text.find('\n', a);
    r.push_back(text.substr(a, e - a));
    if (e == std::string::npos) break;
    a = e + 1;
  }
  return r;
}

}  // namespace mcspec::test
