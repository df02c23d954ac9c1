// Placeholder stages, replaced as the ejecta model and atomic data are built.
#include <span>

#include "model/atoms.hpp"
#include "model/linelist.hpp"
#include "model/plasma.hpp"
#include "model/shells.hpp"

namespace mcspec {
void model(const Params&, const Constants&, InFile&, Shells&, OutFile&, OutFile&) {}
void input(InFile&, InFile&, InFile&, InFile&, Atoms&, OutFile&, OutFile&, OutFile&) {}
void atlvls(const Params&, InFile&, Atoms&, OutFile&, OutFile&) {}
void Plasma::allocate(int) {}
void partf(int, const Constants&, const Shells&, const Atoms&, Plasma&, InFile&, OutFile&, OutFile&) {}
void ioneq(int, const Params&, const Shells&, const Atoms&, Plasma&, OutFile&, OutFile&) {}
void lines(const Params&, const Constants&, const Shells&, const Plasma&, Atoms&, LineList&, InFile&, OutFile&,
           OutFile&, OutFile&, OutFile&) {}
void order_lines(const Constants&, LineList&, OutFile&, OutFile&, OutFile&) {}
void sort1(std::span<const double>, std::span<int>) {}
}  // namespace mcspec
