// Ionisation balance in a diluted radiation field (modified nebular approximation).
// Stage ratios n_{j+1}/n_j = (W/n_e) [zeta CF_j + W (1 - zeta)] Phi_j(TR), with
// Phi_j the Saha factor (2 U_{j+1}/U_j)(2 pi m_e k TR/h^2)^{3/2} exp(-chi_j/kTR)
// corrected by sqrt(TE/TR), and CF_j the correction for recombinations to excited
// states. n_e follows from charge conservation by fixed-point iteration.
#include <algorithm>
#include <array>
#include <cmath>
#include <string>

#include "base/errors.hpp"
#include "model/plasma.hpp"
#include "base/text.hpp"

namespace mcspec {
namespace {

constexpr int kFinalPass = 31;             // the call after the last temperature pass writes yhea.dat
constexpr double kLogAmu = -23.779753012264774;   // log10 atomic mass unit [g]
constexpr double kLogSigmaT = -24.177021645115484; // log10 Thomson cross-section [cm^2]
// log10 of (2 pi m_e k / h^2)^{3/2} 5040^{3/2} [cm^-3]: with theta = 5040/T,
// 10^(G - chi theta) is the Saha factor for chi in eV.
constexpr double kSahaConstant = 20.9366;
constexpr int kMaxPasses = 10;
constexpr double kConvergence = 1e-4;  // relative change of n_e between passes

// Per-shell quantities of the ionisation formula.
struct ShellRadiation {
  double theta_e, theta_r;  // 5040 / TE, 5040 / TR
  double g;                 // log10 Saha constant with the sqrt(TE/TR) correction
  double te_tr;             // TE / TR
  double w;                 // dilution factor
};

ShellRadiation shell_radiation(const Shells& s, int k) {
  ShellRadiation r{};
  r.theta_e = 5040.0 / s.te(k);
  r.theta_r = 5040.0 / s.tr(k);
  r.g = kSahaConstant - 1.5 * std::log10(r.theta_r) + 0.5 * std::log10(s.te(k) / s.tr(k));
  r.te_tr = s.te(k) / s.tr(k);
  r.w = s.w(k);
  return r;
}

// Correction factor for recombinations that do not go to the ground state: potentials
// at or above the reference chi_ref use the electron-temperature Boltzmann ratio; for
// lower ones the factor tends to 1 (no correction) as chi falls well below chi_ref.
double correction_factor(double chi, double chi_ref, const ShellRadiation& r) {
  if (chi >= chi_ref) return std::pow(10.0, -chi * (r.theta_e - r.theta_r)) * r.te_tr / r.w;
  return std::pow(10.0, -r.theta_e * chi_ref + r.theta_r * chi) * r.te_tr / r.w + 1.0 -
         std::pow(10.0, -r.theta_r * (chi_ref - chi));
}

// Stage fractions of element z in shell k for the electron density ne: at most four
// ionisations (stages I..V), populations relative to AA(0) = 1e-10, a common scale
// that cancels in the fractions.
void ioniz(int z, int k, double ne, double chi_ref, const ShellRadiation& r, const Atoms& a, Plasma& pl) {
  const int s = std::min(z, 4);
  std::array<double, 5> aa{};
  aa[0] = 1e-10;
  double sum = aa[0];
  for (int j = 1; j <= s; ++j) {
    const double chi = a.chi(j, z);
    const double cf = correction_factor(chi, chi_ref, r);
    const double zeta = std::pow(10.0, a.zeta(j, z));
    const double saha =
        std::pow(10.0, std::log10(2.0 * pl.pf(k, z, j + 1) / pl.pf(k, z, j)) + r.g - chi * r.theta_r);
    aa[static_cast<std::size_t>(j)] =
        aa[static_cast<std::size_t>(j - 1)] * (r.w / ne) * (zeta * cf + r.w * (1.0 - zeta)) * saha;
    sum += aa[static_cast<std::size_t>(j)];
  }
  for (int j = 0; j <= s; ++j) pl.fion(j + 1, z, k) = aa[static_cast<std::size_t>(j)] / sum;
}

// Free electrons per cm^3 for the current fractions.
double electron_density(int k, const Atoms& a, const Plasma& pl) {
  double ne = 0;
  for (int z = 1; z <= a.nel; ++z) {
    if (pl.nelem(z, k) == 0.0) continue;
    ne += pl.nelem(z, k) *
          (pl.fion(2, z, k) + 2.0 * pl.fion(3, z, k) + 3.0 * pl.fion(4, z, k) + 4.0 * pl.fion(5, z, k));
  }
  return ne;
}

// n(Z) = rho X(Z) / (A(Z) m_u) [cm^-3] with the shell's own X(Z), and the total of nuclei.
void set_element_densities(const Shells& s, const Atoms& a, Plasma& pl) {
  if (a.xshell.rows() < a.nel || a.xshell.cols() != s.js)
    throw InternalError("the composition by shell has " + std::to_string(a.xshell.cols()) + " shells, the model " +
                        std::to_string(s.js));
  const double mu = std::pow(10.0, kLogAmu);
  for (int k = 1; k <= s.js; ++k) {
    const double rho = std::pow(10.0, s.logrh(k));
    double total = 0;
    for (int z = 1; z <= a.nel; ++z) {
      pl.nelem(z, k) = a.xshell(z, k) == 0.0 ? 0.0 : rho * a.xshell(z, k) / (mu * a.awt(z));
      total += pl.nelem(z, k);
    }
    pl.ntot(k) = total;
  }
}

void write_fractions(const Params& p, const Shells& s, const Atoms& a, const Plasma& pl, OutFile& yhea) {
  for (int z = 1; z <= std::min(a.nel, kMaxIonisationData); ++z) {
    if (!(a.xpeak(z) > 0.0)) continue;  // present in some shell
    yhea.write("( / I3 2X A3 33X 4( 4X A6 2X ) )", z, a.elsym[static_cast<std::size_t>(z)], a.stlab[1], a.stlab[2],
               a.stlab[3], a.stlab[4]);
    for (int k = 1; k <= s.js; ++k) {
      const double x = s.xs(2 * k);
      yhea.write("( F8.2 F9.1 F10.4 D11.3 3X 4D12.4 )", x, p.vph / x, s.logrh(k), pl.ne(k), pl.fion(1, z, k),
                 pl.fion(2, z, k), pl.fion(3, z, k), pl.fion(4, z, k));
    }
  }
}

}  // namespace

void ionisation_balance(int iter, const Params& p, const Shells& s, const Atoms& a, Plasma& pl, OutFile& yhea, OutFile& out) {
  if (iter == 1) set_element_densities(s, a, pl);
  const double chi_ref = a.chi(2, 20);  // second ionisation potential of calcium [eV]
  // Elements beyond the ionisation data carry no mass (input refuses it): no fractions.
  const int zmax = std::min(a.nel, kMaxIonisationData);
  for (int k = 1; k <= s.js; ++k) {
    // A dilution factor that is not positive (the Monte Carlo estimate of a shell's mean
    // intensity, in a model too opaque for its packets) makes every stage ratio negative.
    if (!(s.w(k) > 0.0))
      throw RunError("the radiation field of shell " + std::to_string(k) + " has the dilution factor W = " +
                     text_of(s.w(k)) + " (TR " + text_of(s.tr(k)) +
                     " K): its Monte Carlo estimate is not positive; the ejecta are too opaque for the packets "
                     "to sample this shell (lower the densities or use more packets)");
    const ShellRadiation r = shell_radiation(s, k);
    double ne = pl.ntot(k);  // one electron per nucleus to start
    double ne_new = ne;
    for (int pass = 1; pass <= kMaxPasses; ++pass) {
      for (int z = 1; z <= zmax; ++z) ioniz(z, k, ne, chi_ref, r, a, pl);
      ne_new = electron_density(k, a, pl);
      if (std::fabs(ne_new - ne) / ne < kConvergence) break;
      ne = ne_new;
    }
    // Nothing to ionise (a density below the double range, or only elements whose
    // potentials are the 999.999 marker) or an overflow: the balance has no solution.
    if (!(std::isfinite(ne_new) && ne_new > 0.0))
      throw RunError("the ionisation balance of shell " + std::to_string(k) + " gives the electron density " +
                     text_of(ne_new) + " (log density " + text_of(s.logrh(k)) + " g/cm3, TR " + text_of(s.tr(k)) +
                     " K): the density profile and the composition must leave free electrons in every shell");
    pl.ne(k) = ne_new;
    pl.kapes(k) = std::pow(10.0, std::log10(pl.ne(k)) + kLogSigmaT - s.logrh(k));
    if (iter == kFinalPass) yhea.write("( I9 5X 'Ntot =' D11.3 5X 'Ne =' D11.3 )", k, pl.ntot(k), pl.ne(k));
  }
  if (iter == kFinalPass) write_fractions(p, s, a, pl, yhea);
  out.write("(/ 5X 'Ionization ' 'calculated')");
}

}  // namespace mcspec
