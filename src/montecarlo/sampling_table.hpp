// Frequency sampling table: the inverse cumulative distribution of the black body in
// the variable z, x = h nu / k T = XSCL sqrt(z / (1 - z)).
#pragma once

#include "base/array.hpp"

namespace mcspec {

struct SamplingTable {
  double xscl = 3.5;     // scale of the sampling variable
  Array1<double> fsamp;  // FSAMP(k), k = 1..KB: z at cumulative probability (k-1)/(KB-1)
  // Work tables of the integration, kept between builds: z grid, integrand, running integral.
  Array1<double> zl, gn, fn;
};

// Number of z-grid points of the integration.
inline constexpr int kSamplingGridPoints = 4000;

void build_sampling_table(int kb, SamplingTable& t);

}  // namespace mcspec
