// Placeholder stages, replaced as the line opacities are built.
#include "opacity/opacity.hpp"

namespace mcspec {
void Opacity::allocate(int, int) {}
void taus(const Params&, const Constants&, const Shells&, const Atoms&, const Plasma&, const LineList&, Opacity&,
          OutFile&) {}
void brats(const Shells&, const Atoms&, const LineList&, Opacity&, OutFile&) {}
void radx(const Atoms&, const Shells&, OutFile&) {}
}  // namespace mcspec
