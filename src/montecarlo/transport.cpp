// Packet transport in homologous flow. Along a straight path the comoving frequency
// falls linearly, nu'(s) = nu' - beta nu s, so the packet meets the lines of the
// frequency-ordered list one after another (Sobolev point resonances) and never a line
// twice; Thomson scattering adds kappa rho R per unit length. Scattering is isotropic
// and coherent in the comoving frame, so the lab-frame energy changes by the Doppler
// factor (1 - beta mu') / (1 - beta mu_new).
#include "montecarlo/transport.hpp"

#include <cmath>
#include <string>

#include "common/errors.hpp"

namespace mcspec {

// The hot loop of the transport: walks the frequency-ordered lines from kn in one
// shell. Line k lies at SL = (FRQ(k) - XPE) DNU, DNU = -1/(beta nu) the path per unit
// drop of comoving frequency; between lines the remaining depth TREM is used up by
// electrons at RLE per unit length, so Thomson scattering would happen at
// SE = S + TREM/RLE. The loop holds no call, so everything stays in registers.
EventSearch search_event(const double* __restrict frq, const double* __restrict tau, double* __restrict ej, int kn,
                         double xpe, double dnu, double rle, double taur, double d, double ep) {
  double tsum = -taur;  // -tau_r plus the line depths passed
  double s = 0;         // position of the last line passed
  double trem = taur;   // optical depth still to go at s
  int negative = 0, passed = 0;
  for (;;) {
    const double se = s + trem / rle;
    const double cand = se < d ? se : d;
    const double sl = (frq[kn - 1] - xpe) * dnu;
    negative += sl < 0;
    if (!(cand > sl)) return {cand, kn, false, negative, passed};  // a tie goes to the candidate
    ej[kn - 1] += ep;
    ++passed;
    tsum += tau[kn - 1];
    ++kn;
    trem = -tsum - sl * rle;
    s = sl;
    if (!(trem > 0)) return {sl, kn - 1, true, negative, passed};
  }
}

int first_reachable_line(const Array1<double>& frq, int nl, double xpe) {
  if (nl < 1 || xpe > frq(1)) return 1;
  if (frq(nl) > xpe) return nl + 1;
  // FRQ(lo) >= XPE >= FRQ(hi); the test before each halving also ends the search
  // when lo = hi (a single line of exactly the packet's frequency).
  int lo = 1, hi = nl;
  while (hi - lo > 1) {
    const int mid = (lo + hi) / 2;
    if (xpe <= frq(mid)) {
      lo = mid;
    } else {
      hi = mid;
    }
  }
  return hi;
}

namespace {

int species_code(double zcode) {
  const Species sp = species_of(zcode);
  return 100 * sp.z + sp.stage;
}

}  // namespace

void EmissionMaps::build(const LineList& ll) {
  const auto nl = static_cast<std::size_t>(ll.nl);
  branches_.resize(nl);
  for (int n = 1; n <= ll.nl; ++n) {
    branches_[static_cast<std::size_t>(n - 1)] = {ll.kpos(n), std::abs(ll.lup(n)), species_code(ll.zcode(n))};
  }
  absorbers_.resize(nl);
  for (int p = 1; p <= ll.nl; ++p) {
    const int m = ll.transition_at(p);
    const int u = std::abs(ll.lup(m));
    absorbers_[static_cast<std::size_t>(p - 1)] = {m, u, ll.idn1(u), ll.idn2(u), ll.lcasc(p),
                                                   species_code(ll.zcode(m))};
  }
}

void newfrq(int& kn, double& xpe, int j, const EmissionMaps& maps, const Array1<double>& frq,
            const Array2<double>& br, int iopt2, Rng& rng, OutFile& out) {
  const EmissionMaps::Absorber& a = maps.absorber(kn);
  if (iopt2 == 0 || a.lcasc == 0) {
    xpe = frq(kn);
    return;
  }
  // The downward lines of the upper level occupy the transition range IDN1..IDN2; a
  // line of another upper level inside the range (a list not grouped by upper level)
  // is not a branch of this level and is passed over.
  const double r = static_cast<double>(rng.uniform());
  const double* brj = br.column(j);
  int chosen = a.last;
  double sumb = 0;
  for (int n = a.first; n >= 1 && n <= a.last; ++n) {
    if (maps.branch(n).upper != a.upper) continue;
    sumb += brj[n - 1];
    if (r < sumb) {
      chosen = n;
      break;
    }
  }
  if (chosen < 1) {
    throw RunError("NEWFRQ: the upper level " + std::to_string(a.upper) + " of transition " + std::to_string(a.m) +
                   " has no downward transitions in the line table (IDN1/IDN2 are not set)");
  }
  const EmissionMaps::Branch& b = maps.branch(chosen);
  kn = b.kpos;
  xpe = frq(kn);

  if (b.species != a.species) {
    out.list(" NA1=", b.species / 100, "  NJ1=", b.species % 100, " NA=", a.species / 100, "  NJ=", a.species % 100);
    out.list(" MI=", a.m, "  M=", chosen, "KN = ", kn, "XPE= ", xpe, "J= ", j);
    out.write("(/ '    ERROR 3 NEWFRQ')");
    throw RunError("ERROR 3 NEWFRQ: transition " + std::to_string(chosen) +
                   " chosen to re-emit a packet absorbed in transition " + std::to_string(a.m) + " (shell " +
                   std::to_string(j) + ") belongs to another ion; the line table (upper levels, IDN1/IDN2) is inconsistent");
  }
}

Packet emit_black_body(Rng& rng, const SamplingTable& t, int i, int kb, double sf, double beta_lb) {
  Packet pk;
  const float r1 = rng.uniform();
  const double mu = static_cast<double>(std::sqrt(1.0f - r1));
  const float r2 = rng.uniform();
  double z = t.fsamp(i - 1) + (t.fsamp(i) - t.fsamp(i - 1)) * static_cast<double>(r2);
  if (i == 2) {
    // first interval: density rising linearly from zero
    const float r3 = rng.uniform();
    z = static_cast<double>(std::sqrt(1.0f - r3)) * t.fsamp(2);
  }
  if (i == kb) {
    // last interval: density falling linearly to zero at z = 1
    const float r4 = rng.uniform();
    z = 1 - static_cast<double>(std::sqrt(1.0f - r4)) * (1 - t.fsamp(kb - 1));
  }
  pk.frl = std::sqrt(z / (1 - z)) * sf;
  pk.xpe = (1 - beta_lb * mu) * pk.frl;
  pk.dc = mu;
  return pk;
}

Packet emit_top_hat(Rng& rng, double fth1, double fth2, double beta_lb) {
  Packet pk;
  const float r1 = rng.uniform();
  const double mu = static_cast<double>(std::sqrt(1.0f - r1));
  const float r2 = rng.uniform();
  pk.frl = fth1 + static_cast<double>(r2) * (fth2 - fth1);
  pk.xpe = (1 - beta_lb * mu) * pk.frl;
  pk.dc = mu;
  return pk;
}

Transport::Transport(const McInputs& in, Boundary boundary, double vhi, Rng& rng, Estimators& est, OutFile& out)
    : in_(in), boundary_(boundary), rng_(rng), est_(est), out_(out), bins_(in.grid, in.p, in.c) {
  const Shells& s = in.s;
  nx_ = s.nx;
  nl_ = in.ll.nl;
  iopt2_ = in.p.iopt[2];
  vhi_ = vhi;
  beta_lb_ = in.p.vph * 1e5 / std::pow(10.0, in.c.log_c());
  for (int i = 1; i <= nx_; ++i) us_[static_cast<std::size_t>(i)] = beta_lb_ / s.xs(i);
  frq_ = in.ll.frq.data();
  maps_.build(in.ll);
  for (int j = 1; j <= s.js; ++j) {
    const auto jj = static_cast<std::size_t>(j);
    // XL = 1 / (rho R): RLE = KAPES rho R, the Thomson optical depth per unit length
    const double xl = std::pow(10.0, -(s.logrh(j) + in.p.logr));
    rle_[jj] = in.pl.kapes(j) / xl;
    tau_[jj] = in.op.tau.data() + static_cast<std::size_t>(j - 1) * static_cast<std::size_t>(nl_);
    ej_[jj] = est.ej.data() + static_cast<std::size_t>(j - 1) * static_cast<std::size_t>(nl_);
  }
}

void Transport::launch(Packet& pk) {
  pk.xe = 1;
  pk.ep = 1;
  pk.knlast = 0;
  pk.lineflag = 0;
  pk.kn = first_reachable_line(in_.ll.frq, nl_, pk.xpe);
  follow(pk);
  packet_end(est_, bins_, pk.l == nx_, pk.frl, pk.ep, pk.knlast, pk.lineflag);
}

// Grid-point crossings from the lower boundary (point 1) until the core (l = 0) or the
// outer edge (l = NX). Crossing a shell's mid-point feeds the estimators; entering a
// shell through an edge sets its Thomson opacity.
void Transport::follow(Packet& pk) {
  pk.l = 0;
  pk.idir = 1;
  int crossed = 1;
  for (;;) {
    pk.l += pk.idir;
    if (pk.l == 0 || pk.l == nx_) return;
    pk.j = (pk.l + 1) / 2;
    if (crossed == 2 * pk.j) {
      midpoint_crossing(est_, pk.j, pk.xpe, pk.frl, pk.dc, pk.ep, us_[static_cast<std::size_t>(crossed)], vhi_);
    } else {
      pk.rle = rle_[static_cast<std::size_t>(pk.j)];
    }
    crossed = fly_to_boundary(pk);
  }
}

// Flights inside segment l, from scattering to scattering, until the packet reaches
// one of the segment's grid points; returns that point. A flight draws the optical
// depth tau_r = -ln(1 - r) to its next event and walks the lines the comoving
// frequency sweeps through: each line reached adds EP to EJ and its Sobolev depth to
// the path's optical depth; the packet interacts with the line at which the summed
// depth (electrons and lines) first reaches tau_r, or Thomson-scatters between two
// lines, or reaches the grid point first.
int Transport::fly_to_boundary(Packet& pk) {
  const Array1<double>& xs = in_.s.xs;
  const double* const frq = frq_;
  const double* const tau = tau_[static_cast<std::size_t>(pk.j)];
  double* const ej = ej_[static_cast<std::size_t>(pk.j)];
  long long passed = 0;
  for (;;) {
    // Exit point: inwards only when the ray meets the inner sphere of the segment,
    // (r_in / r)^2 > 1 - mu^2.
    if (pk.dc >= 0) {
      pk.idir = 1;
    } else {
      const double t = pk.xe / xs(pk.l);
      pk.idir = (t * t - (1 - pk.dc * pk.dc) > 0) ? -1 : 1;
    }
    const int pb = pk.l + (pk.idir + 1) / 2;
    const double xb = xs(pb);
    const float r = rng_.uniform();
    const double taur = static_cast<double>(-std::log(1.0f - r));

    // Direction cosine at the exit point (conservation of r sin(theta)).
    double cb2 = 1 - (1 - pk.dc * pk.dc) * ((xb / pk.xe) * (xb / pk.xe));
    if (cb2 <= 0) {
      report_cb2(pk, pb, xb, cb2);
      cb2 = -cb2;
    }
    const double dcn = pk.idir * std::sqrt(cb2);
    const double xpeb = (1 - us_[static_cast<std::size_t>(pb)] * dcn) * pk.frl;
    // Path length to the exit point: r_b mu_b - r mu [R].
    const double d = dcn / xb - pk.dc / pk.xe;
    if (d <= 0) report_distance(pk, d, dcn, xb);

    const EventSearch ev =
        search_event(frq, tau, ej, pk.kn, pk.xpe, -1 / (beta_lb_ * pk.frl), pk.rle, taur, d, pk.ep);
    // The search itself writes nothing else, so its messages keep their order.
    for (int n = 0; n < ev.negative; ++n) report_negative_line_distance();
    pk.kn = ev.kn;
    passed += ev.passed;

    if (!ev.line && !(ev.s < d)) {
      // reached the grid point (also when d is not a number: nothing else can happen)
      pk.xe = xb;
      pk.dc = dcn;
      pk.xpe = xpeb;
      passages_ += passed;
      return pb;
    }
    interact(pk, ev.s, ev.line);
  }
}

// Scattering at distance s along the flight: move, draw an isotropic direction, apply
// the Doppler factor; a line absorption is followed by re-emission through newfrq.
void Transport::interact(Packet& pk, double s, bool line) {
  // The re-emission reads the absorbing line's record: start loading it now, while the
  // move and the Doppler shift are computed.
  if (line) __builtin_prefetch(&maps_.absorber(pk.kn));
  const double r = 1 / pk.xe;
  const double rp = std::sqrt(r * r + 2 * r * s * pk.dc + s * s);
  const double mup = (r * pk.dc + s) / rp;
  pk.xe = 1 / rp;
  const double beta = beta_lb_ * rp;
  const float r5 = rng_.uniform();
  pk.dc = static_cast<double>(2.0f * r5 - 1.0f);
  const double ratio = (1 - beta * mup) / (1 - beta * pk.dc);
  pk.frl = pk.frl * ratio;
  pk.xpe = (1 - beta * pk.dc) * pk.frl;
  est_.pw(5) += pk.ep * ratio - pk.ep;
  pk.ep = pk.ep * ratio;
  if (!line) return;
  newfrq(pk.kn, pk.xpe, pk.j, maps_, in_.ll.frq, in_.op.br, iopt2_, rng_, out_);
  pk.knlast = pk.kn;
  pk.frl = pk.xpe / (1 - beta * pk.dc);
  pk.kn += 1;
  pk.lineflag = 1;
}

// Geometric anomalies from rounding: reported, and the flight goes on.
void Transport::report_cb2(const Packet& pk, int pb, double xb, double cb2) {
  out_.write("(4I4 4F10.5 D15.6)", pk.j, pk.l, pb, pk.idir, xb, pk.xe, 1 - pk.dc * pk.dc, pk.dc, cb2);
}

void Transport::report_distance(const Packet& pk, double d, double dcn, double xb) {
  if (boundary_ == Boundary::TopHat) {
    out_.write("(/ 5X 'ERROR MONTEC')");
  } else if (d < 0) {
    out_.write("(/ 5X 'ERROR MONTEC - Strecke<0')");
    out_.write("(A F11.8 A F11.8 A F11.8 A F11.8)", "-DC:", -pk.dc, "  XE:", pk.xe, " DCN:", dcn, "  XB:", xb);
  } else {
    out_.write("(/ 5X 'HINT MONTEC - Strecke=0')");
  }
}

void Transport::report_negative_line_distance() {
  if (boundary_ == Boundary::TopHat) {
    out_.write("(/ 5X 'ERROR MONTEC')");
  } else {
    out_.write("(/ 5X 'ERROR MONTEC - SP<0')");
  }
}

}  // namespace mcspec
