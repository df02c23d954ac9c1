// The emergent spectrum: line source functions from the last Monte Carlo run, the
// formal integral along rays of constant impact parameter, and the observed-flux
// spectrum with photometry.
#pragma once

#include <array>

#include "base/array.hpp"
#include "base/io.hpp"
#include "base/wavelength_grid.hpp"
#include "base/run_parameters.hpp"
#include "model/line_list.hpp"
#include "model/plasma.hpp"
#include "model/shells.hpp"
#include "montecarlo/tallies.hpp"
#include "opacity/opacity.hpp"

namespace mcspec {

struct SpectrumTables {
  Array2<double> sline;  // SLINE(p, k): line source term S (1 - e^-tau)
  Array1<double> fn;     // FN(b): flux integral
  Array1<double> zld;    // ZLD(b): log10 L per unit vacuum wavelength [erg s^-1 cm^-1]
  Array1<double> xls;    // XLS(b): log10 air bin-centre wavelength [micron]
  Array1<double> zls;    // ZLS(b): log10 L per unit air wavelength, formal integral
  Array1<double> zms;    // ZMS(b): the same, Monte Carlo
  double zltot = 0;      // log10 total luminosity on the grid [erg/s]
};

struct SpectrumOutput {
  OutFile& out;   // standard output
  OutFile& spcp;  // spectrum table
  OutFile& spct;  // observed-flux spectrum
  OutFile& sbib;  // summary
  OutFile& stst;  // run log
};

// Step 1 of the spectrum: EJ(p, k), the Monte Carlo energy that reached the resonance
// of line p in shell k (packet units), becomes the mean intensity J at the line's blue
// edge [erg cm^-2 s^-1 Hz^-1 sr^-1] in place; SLINE(p, k) = S (1 - e^-tau) from the
// energy absorbed into each upper level and the line's branching ratio. sline is sized
// here (lines x shells).
void line_source_functions(const Params& p, const Constants& c, const Shells& s, const LineList& ll,
                           const Opacity& op, double ep0, Array2<double>& ej, Array2<double>& sline,
                           int threads);

// Position of the first line of the frequency-ordered list with FRQ < nu (decreasing
// FRQ), nl + 1 when there is none.
int first_line_below(const LineList& ll, double nu);

// The formal integral of the transfer equation along rays of constant impact
// parameter p (units of R, the lower-boundary radius) through the homologous ejecta.
class FormalIntegral {
 public:
  FormalIntegral(const Params& p, const Constants& c, const Shells& s, const Plasma& pl, const LineList& ll,
                 const Opacity& op, const Array2<double>& ej, const Array2<double>& sline, const Scaling& sc,
                 OutFile& out);
  // Outer radius in units of R, 1/XS(NX).
  double xout() const { return xout_; }
  // NP = trunc(4 XOUT + 1) impact parameters p_m = (m - 0.5) dp, dp = 0.25; only those
  // with p_m <= XOUT are integrated.
  int impact_parameter_count() const { return static_cast<int>(4.0 * xout_ + 1.0); }
  static double impact_parameter(int m) { return (static_cast<double>(m) - 0.5) * 0.25; }
  // Intensity entering the ejecta at the start of the ray: the boundary black body at
  // TB (or the top-hat intensity inside (FTH2, FTH1)) for p <= 1, else 0.
  double boundary_intensity(double pp, double xnu) const;
  // Emergent intensity of the ray with impact parameter pp at observer-frame
  // frequency xnu [Hz], erg cm^-2 s^-1 Hz^-1 sr^-1.
  double intens(double pp, double xnu) const { return intens(pp, xnu, *out_); }
  // The same, with the messages of resonances at the edges written to out (one
  // buffer per thread when bins are integrated side by side).
  double intens(double pp, double xnu, OutFile& out) const;
  // (r/R)^2 at the inner edge of shell k = 1..JS + 1 (k = JS + 1: the outer edge),
  // 1/(1 - 2 DX (k - 1))^2: a point is in shell k or beyond when r^2 reaches it.
  double shell_edge_r2(int k) const { return r2_edge_(k); }
  // Shell of a point at (r/R)^2 = r2 from the edge table, 1..JS.
  int shell_at(double r2) const;

 private:
  // One ray's constants; the steps along it (formal_integral.cpp).
  struct Ray;
  double interior(const Ray& ray, int a, int b, double xin) const;
  double run_in_shell(const Ray& ray, int& i, int b, int j, double nu_end, double xin) const;
  double single_step(const Ray& ray, int i, int j, double xin) const;
  double edge_step(const Ray& ray, int i, double xin, OutFile& out) const;
  bool near_edge(const Ray& ray, int i) const;

  const Params& p_;
  const Constants& c_;
  const Shells& s_;
  const LineList& ll_;
  const Opacity& op_;
  const Array2<double>& ej_;
  const Array2<double>& sline_;
  OutFile* out_;
  double tb_ = 0, ith_ = 0;
  double xout_ = 0;
  double beta_ = 0;       // VPH / c at the lower boundary
  Array1<double> esfac_;  // KAPES 10^(LOGR + LOGRH) per shell: electron-scattering depth per unit z
  Array1<double> gap_;    // FRQ(i - 1) - FRQ(i), i = 2..NL [Hz]
  Array1<double> r2_edge_;  // shell_edge_r2(k), k = 1..JS + 1
  // Resonances with r^2 below r2_inner_guard_ or above r2_outer_guard_ lie within
  // rounding of the lower boundary or the outer edge: there the shell comes from x = R/r
  // itself, with the out-of-range messages.
  double r2_inner_guard_ = 1, r2_outer_guard_ = 1;
};

// The filter curves U, B, V, R tabulated every 50 A from 3000 to 8400 A.
inline constexpr int kFilterRows = 109;
struct FilterTable {
  Array1<double> wvr{kFilterRows};    // WVR(i): wavelength [A]
  Array2<double> rs{kFilterRows, 4};  // RS(i, f): transmission of filter f = 1..4
};
// Reads the 109 rows (F9.1, 4F8.3); a row that is not at 3000 + 50 (i - 1) A is an
// input error naming the file and record.
void read_filters(InFile& filters, FilterTable& ft);
// The bins that enter the photometry: the interpolation stencil of filter_transmission
// needs a table row on each side, so 3050 and 8350 A themselves are excluded.
inline bool inside_filter_range(double lambda) { return 3050.0 < lambda && lambda < 8350.0; }
// Transmission of filter f at lambda [A], 3050 < lambda < 8350: Bessel's second-order
// interpolation in the 50-A table.
double filter_transmission(const FilterTable& ft, double lambda, int f);
// Extinction law A_lambda / E(B-V), linear in inverse wavelength: lambda [A].
double reddening_curve(double lambda);

// The observer's parameters of "dica.dat" (named dica) must leave the observed fluxes and
// magnitudes numbers: a redshift ZRED above -1, a distance modulus DMOD at which the
// bolometric flux lies within 10^-150..10^150 erg s^-1 cm^-2, and colour excesses
// E(B-V) whose dimming over the wavelength grid stays within a factor 10^+-50.
// Throws InputError naming the record and field.
void check_observer(const Params& p, const Constants& c, const std::string& dica);
// Seven-point quadratic Savitzky-Golay value of f at bin c (4 <= c <= size - 3), not
// below zero.
double savitzky_golay7(const Array1<double>& f, int c);
// Black body of temperature tb scaled to the bolometric flux fbol at the observer,
// per A, for the air wavelength lambda [A] of a bin dl [A] wide; 0 where hc/(lambda k T)
// exceeds 88 (exp would overflow the useful range).
double blackbody_flux(const Constants& c, double lambda, double dl, double tb, double fbol);

// What observed_spectrum_and_photometry reports: index 1..4 = U, B, V, R (0 unused).
struct Photometry {
  std::array<double, 5> mag{};       // unreddened apparent magnitudes
  std::array<double, 5> mag_red{};   // reddened apparent magnitudes
  double distance = 0;               // [pc]
  double fbol = 0;                   // bolometric flux at the observer [erg s^-1 cm^-2]
  double intf = 0;                   // integrated Monte Carlo flux [erg s^-1 cm^-2]
  double mbol = 0;                   // apparent bolometric magnitude
  double bc = 0;                     // bolometric correction mbol - V
  int bins = 0;                      // bins inside the filter range
};

// Observed-flux spectrum at the run's distance (smoothed, reddened, with a black-body
// comparison) to spct, UBVR photometry of the Monte Carlo spectrum, and the reports to
// sbib, stst and standard output.
Photometry observed_spectrum_and_photometry(const Params& p, const Constants& c, const WavelengthGrid& g, const SpectrumTables& t,
                  const Estimators& est, const Scaling& sc, InFile& filters, SpectrumOutput& o);

// Turns EJ into mean intensities (in place), computes the source terms and the formal
// integral on the wavelength grid, then calls observed_spectrum_and_photometry.
void emergent_spectrum(int irf, const Params& p, const Constants& c, const Shells& s, const Plasma& pl,
                       const LineList& ll, const Opacity& op, Estimators& est, const Scaling& sc,
                       const WavelengthGrid& g, SpectrumTables& t, InFile& filters, SpectrumOutput& o, int threads);

// Planck function B_nu(T) [erg cm^-2 s^-1 Hz^-1 sr^-1].
double planck(double nu, double t, const Constants& c);

}  // namespace mcspec
