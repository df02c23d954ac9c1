// Frequency sampling table: the inverse cumulative distribution of the black body in
// the variable z, x = h nu / k T = XSCL sqrt(z / (1 - z)).
#pragma once

#include "common/array.hpp"

namespace mcspec {

struct SamplingTable {
  double xscl = 3.5;     // scale of the sampling variable
  Array1<double> fsamp;  // FSAMP(k), k = 1..KB: z at cumulative probability (k-1)/(KB-1)
};

void frqsmp(int kb, SamplingTable& t);

}  // namespace mcspec
