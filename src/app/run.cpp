// The stages of a run.
#include "app/run.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "base/interrupt.hpp"
#include "model/boundary_temperature.hpp"
#include "model/coverage.hpp"
#include "model/radiation_field.hpp"

namespace mcspec {

void warn(const std::vector<std::string>& warnings) {
  std::fflush(stdout);
  for (const std::string& w : warnings) std::fprintf(stderr, "mcspec: warning: %s\n", w.c_str());
}

namespace {

// A dilution factor is at most 1 (the black body of the boundary itself) and positive:
// a Monte Carlo estimate outside that range (ejecta too opaque for the packets, too few
// packets) is said, shell by shell; the run goes on.
void warn_unphysical_dilution(const Shells& s) {
  std::string shells;
  for (int k = 1; k <= s.js; ++k) {
    if (s.w(k) > 0.0 && s.w(k) <= 1.0) continue;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%sshell %d W = %.4g", shells.empty() ? "" : ", ", k, s.w(k));
    shells += buf;
  }
  if (shells.empty()) return;
  warn({"after the last temperature pass the Monte Carlo estimate of the dilution factor W lies outside 0 < W <= 1 in " +
        shells +
        "; the radiation field of these shells is not physical (too few packets reach them, or the ejecta are "
        "too opaque)"});
}

}  // namespace

void Run::set_up() {
  read_parameters();
  read_atomic_data();
  build_ejecta();
}

void Run::read_parameters() {
  read_run_parameters(f.dica, c, p, f.stst, f.sbib, f.out);
  check_observer(p, c, f.dica.source_name());
  report_options(p, f.out);
}

void Run::read_atomic_data() {
  if (f.layered) {
    std::vector<std::string> w;
    zones = decay_to_epoch(read_zones(f.zones, w), p.day);
    warn(w);
    // Which elements take part follows from the shells' composition, on the x grid
    // that the shells will have.
    Shells grid;
    lay_x_grid(p, grid);
    a.xshell = shell_composition(zones, shell_velocity_edges(p.vph, grid.xs)).x;
    read_elements_for_shells(f.nbba, f.nbia, f.ihea, a, f.zones.source_name(), f.out, f.stst);
  } else {
    read_elements_and_composition(f.nbba, f.comp, f.nbia, f.ihea, a, f.out, f.sbib, f.stst);
    zones = decay_to_epoch(one_zone(a.xmass), p.day);
  }
  check_boundary_temperature(p, a, f.dica.source_name());
  read_levels(p, f.varn1, a, f.out, f.atmd);
  warn(composition_warnings(a, p, (f.layered ? f.zones : f.comp).source_name(), f.varn1.source_name()));
}

void Run::build_ejecta() {
  build_shells(p, c, f.hydro, s, f.stst, f.out);
  // Each shell's composition: the uniform one copied bit for bit into every shell.
  const std::vector<double> edges = shell_velocity_edges(p.vph, s.xs);
  const ShellComposition shells = shell_composition(zones, edges);
  a.xshell = shells.x;
  if (f.layered) {
    Array1<double> mass(s.js);  // in units of (4/3) pi R^3 g/cm3
    for (int k = 1; k <= s.js; ++k) mass(k) = s.dvol(k) * std::pow(10.0, s.logrh(k));
    echo_mean_composition(a, mass, f.sbib);
    write_shell_composition(p.day, edges, shells, f.composition);
  }
  pl.allocate(s.js);
  sc.tb = p.tb;
  if (f.warm.is_open()) warm_start();
  full_count = !(par.packet_ramp < 1);
  rng = Rng(p.iseed);
  if (par.ion_spectrum) est.ions.open(f.ionspec, "ionspec.dat");
}

void Run::warm_start() {
  const RadiationField field =
      read_radiation_field(f.warm, lowest_boundary_temperature(a), highest_boundary_temperature(c, p.wvm2));
  const bool same = apply_radiation_field(field, s);
  sc.tb = field.tb;
  first_check = 1;
  char note[200];
  std::snprintf(note, sizeof note, "\n Warm start from %s: TB = %.1f K; TR, W, TE of %zu shells %s\n",
                f.warm.source_name().c_str(), field.tb, field.v.size(),
                same ? "taken as they are" : "interpolated in velocity");
  f.stst.write_text(note);
  write_shell_table(s, f.stst);
}

void Run::save_radiation_field() { write_radiation_field(s, sc.tb, f.radfield); }

void Run::plasma_state(int pass) {
  partition_functions(pass, c, s, a, pl, f.nama, f.ptfn, f.out);
  ionisation_balance(pass, p, s, a, pl, f.yhea, f.out);
}

void Run::line_list() {
  read_line_list(p, c, s, pl, a, ll, f.varn2, f.out, f.stst, f.sbib, f.lhea);
  op.allocate(ll.nl, s.js);
  est.allocate(ll.nl, s.js, p.kg);
}

void Run::sampling_and_grid() {
  build_sampling_table(p.kb, samp);
  build_wavelength_grid(p, grid, f.spcp);
}

void Run::line_opacities() {
  sobolev_depths(p, c, s, a, pl, ll, op, f.out, par.threads);
  branching_ratios(s, a, ll, op, f.out, par.threads);
}

int Run::temperature_pass(int pass) {
  plasma_state(pass);
  if (pass == 1) {
    line_list();
    stop_if_interrupted();
  }
  sampling_and_grid();
  line_opacities();
  stop_if_interrupted();
  report_excitation_rates(a, s, f.out);
  McOutput mo = mc_outputs();
  const bool reduced = !full_count;
  if (!reduced) {
    run_monte_carlo(McMode::kTemperaturePass, irf, mc_inputs(), rng, est, sc, mo);
    return update_temperatures(pass, p, c, s, est, sc, f.stst, first_check);
  }
  Params ramp = p;
  ramp.npk = std::min(p.npk, std::max(p.kb - 1, static_cast<int>(std::lround(par.packet_ramp * p.npk))));
  run_monte_carlo(McMode::kTemperaturePass, irf, {ramp, c, s, a, pl, ll, op, samp, grid, par}, rng, est, sc, mo);
  double dmax = 0;
  update_temperatures(pass, p, c, s, est, sc, f.stst, first_check, &dmax);
  if (dmax < kRampChange || pass + 1 >= kFirstCheckedPass) full_count = true;
  return pass + 1;
}

void Run::final_plasma_state(int pass) {
  // The early passes can carry W of the innermost shells above 1 while the boundary
  // temperature moves from its starting guess: the state the spectrum is made from, after
  // the last temperature update, is the one judged.
  warn_unphysical_dilution(s);
  plasma_state(pass);
  line_opacities();
}

void Run::final_pass() {
  report_excitation_rates(a, s, f.out);
  McOutput mo = mc_outputs();
  run_monte_carlo(irf < p.itt ? McMode::kFinalPass : McMode::kLastFinalPass, irf, mc_inputs(), rng, est, sc, mo);
}

void Run::single_pass() {
  McOutput mo = mc_outputs();
  run_single_pass(McMode::kFinalPass, irf, mc_inputs(), rng, est, sc, mo);
}

void Run::emergent_spectrum() {
  if (est.ions.enabled) est.ions.write(grid);
  stop_if_interrupted();
  SpectrumOutput so = spectrum_outputs();
  mcspec::emergent_spectrum(irf, p, c, s, pl, ll, op, est, sc, grid, spec, f.filters, so, par.threads);
}

}  // namespace mcspec
