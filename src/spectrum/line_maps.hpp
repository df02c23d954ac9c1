// The intensity steps of one ray across the resonances of one shell. Each line is the
// affine map I -> a I + c of its electron-scattering segment (I steps toward J over
// dtau) and its Sobolev resonance (I e^-tau + S (1 - e^-tau)); the maps are worked out
// side by side in vector lanes and composed before they touch the intensity.
#pragma once

namespace mcspec {

// min(x, 1), the share of the way to the local mean intensity after an electron-
// scattering depth x: the first-order step, which never carries the intensity past J.
double relaxed_fraction(double x);

// One shell's columns (0-based by list position) and the electron-scattering depth per
// Hz of line frequency between neighbouring resonances along the current ray.
struct ShellColumns {
  const double* ej;     // mean intensity J at the line
  const double* etau;   // e^-tau of the line
  const double* sline;  // S (1 - e^-tau)
  double dtau_per_hz;
};

// Which build of the loops runs: the widest vector lanes the processor has, or the
// two-lane baseline every x86-64 has. Both give identical results.
enum class LaneBuild { widest, baseline };

// The intensity xin carried across the lines i, i + 1, ... (1-based list positions,
// i >= 2 so that the previous resonance is a line) while FRQ > nu_end and i < b; i is
// advanced past them. frq is FRQ and gap the spacing FRQ(i - 1) - FRQ(i), both
// 0-based, nl the length of the list. The maps are composed in a fixed order, four
// lines in turn, four such in a binary tree, so the result does not depend on the build.
double across_shell(const double* frq, const double* gap, int nl, const ShellColumns& col, int& i, int b,
                    double nu_end, double xin, LaneBuild build = LaneBuild::widest);

}  // namespace mcspec
