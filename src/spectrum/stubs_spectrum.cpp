// Placeholder stages, replaced as the spectrum synthesis is built.
#include "spectrum/spectrum.hpp"

namespace mcspec {
void spectrum(int, const Params&, const Constants&, const Shells&, const Plasma&, const LineList&, const Opacity&,
              Estimators&, const Scaling&, const WavelengthGrid&, SpectrumTables&, InFile&, SpectrumOutput&) {}
double bnu1(double, double, const Constants&) { return 0; }
}  // namespace mcspec
