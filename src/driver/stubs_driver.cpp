// Placeholder stages, replaced as the driver is built.
#include "driver/files.hpp"
#include "driver/frqsmp.hpp"
#include "driver/initiate.hpp"
#include "driver/params.hpp"

namespace mcspec {
void consts(Constants&) {}
double air_to_vacuum(double l) { return l; }
void params(InFile&, Constants& c, Params&, OutFile&, OutFile&, OutFile&) { consts(c); }
void options(const Params&, OutFile&) {}
void opening(Files&) {}
void opening(Files&, const char*, const char*) {}
void closing(Files&) {}
void frqsmp(int, SamplingTable&) {}
void initiate(const Params&, WavelengthGrid&, OutFile&) {}
}  // namespace mcspec
