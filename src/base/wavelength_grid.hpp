// The output wavelength grid: KG bins uniform in log10 wavelength between WVM1 and
// WVM2, with the edges also converted to air.
#pragma once

#include "base/array.hpp"
#include "base/io.hpp"
#include "base/run_parameters.hpp"

namespace mcspec {

struct WavelengthGrid {
  int kg = 0;
  double dwl = 0;        // step in log10 wavelength
  Array1<double> wlb;    // log10 of the vacuum bin edges [micron], KG+1
  Array1<double> wlba;   // log10 of the air bin edges [micron], KG+1
  Array1<double> wbin;   // vacuum bin widths [micron], KG
  Array1<double> wbina;  // air bin widths [micron], KG
};

// Builds the grid and writes its table to spcp.
void build_wavelength_grid(const Params& p, WavelengthGrid& g, OutFile& spcp);

}  // namespace mcspec
