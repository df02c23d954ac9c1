// Packet transport in homologous flow. Along a straight path the comoving frequency
// falls linearly, nu'(s) = nu' - beta nu s, so the packet meets the lines of the
// frequency-ordered list one after another (Sobolev point resonances) and never a line
// twice; Thomson scattering adds kappa rho R per unit length. Scattering is isotropic
// and coherent in the comoving frame, so the lab-frame energy changes by the Doppler
// factor (1 - beta mu') / (1 - beta mu_new).
#include "montecarlo/transport.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>

#include "base/errors.hpp"
#include "montecarlo/transport_steps.hpp"
#include "montecarlo/line_walk.hpp"

namespace mcspec {

// The exact event search: walks the frequency-ordered lines from kn in one shell. Line
// k lies at SL = (FRQ(k) - XPE) DNU, DNU = -1/(beta nu) the path per unit drop of
// comoving frequency; between lines the remaining depth TREM is used up by electrons at
// RLE per unit length, so Thomson scattering would happen at SE = S + TREM/RLE.
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
    if (ej != nullptr) ej[kn - 1] += ep;  // (the stream runs book the flight as a whole)
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

Transport::Transport(const McInputs& in, Boundary boundary, double vhi, Rng& rng, Estimators& est, OutFile& out,
                     LineTally* tally)
    : in_(in), boundary_(boundary), rng_(&rng), est_(&est), out_(&out), tally_(tally), bins_(in.grid, in.p, in.c) {
  const Shells& s = in.s;
  nx_ = s.nx;
  nl_ = in.ll.nl;
  iopt2_ = in.p.iopt[2];
  vhi_ = vhi;
  beta_lb_ = in.p.vph * 1e5 / std::pow(10.0, in.c.log_c());
  for (int i = 1; i <= nx_; ++i) {
    const auto ii = static_cast<std::size_t>(i);
    us_[ii] = beta_lb_ / s.xs(i);
    xs_[ii] = s.xs(i);
    inv_xs_[ii] = 1 / s.xs(i);
    for (int b = std::max(i - 1, 1); b <= std::min(i + 1, nx_); ++b) {
      ratio_[static_cast<std::size_t>(3 * i + (b - i + 1))] = s.xs(i) / s.xs(b);
    }
  }
  frq_ = in.ll.frq.data();
  frq_ordered_ = true;
  for (int k = 1; k <= nl_; ++k) frq_ordered_ = frq_ordered_ && in.ll.frq(k) >= in.ll.frq(k + 1);
  if (tally != nullptr) {
    walk_avx2_ = walk_avx2_available();
    dnu_line_ = std::make_shared<std::vector<double>>(static_cast<std::size_t>(nl_));
    for (int k = 1; k <= nl_; ++k) (*dnu_line_)[static_cast<std::size_t>(k - 1)] = 1 / (beta_lb_ * in.ll.frq(k));
  }
  maps_ = std::make_shared<EmissionMaps>();
  maps_->build(in.ll);
  for (int j = 1; j <= s.js; ++j) {
    ShellView& v = shells_[static_cast<std::size_t>(j)];
    // XL = 1 / (rho R): RLE = KAPES rho R, the Thomson optical depth per unit length
    const double xl = std::pow(10.0, -(s.logrh(j) + in.p.logr));
    v.rle = in.pl.kapes(j) / xl;
    v.rle_inv_lo = electron_depth_lower_factor(v.rle);
    v.rle_inv = 1 / v.rle;
    const std::size_t column = static_cast<std::size_t>(j - 1) * static_cast<std::size_t>(nl_);
    v.tau = in.op.tau.data() + column;
    v.ej = tally == nullptr ? est.ej.data() + column : nullptr;  // the tally books a flight's lines
    v.br = in.op.br.data() + column;
    if (tally != nullptr) {
      v.sums = est.depth_sums.column(j);
      v.masers = std::any_of(v.tau, v.tau + nl_, [](double t) { return t < 0; });
    }
  }
}

void Transport::launch(Packet& pk) {
  pk.xe = 1;
  pk.ep = 1;
  pk.knlast = 0;
  pk.lineflag = 0;
  pk.kn = first_reachable_line(in_.ll.frq, nl_, pk.xpe);
  if (tally_ != nullptr) {
    follow_stream(pk);
  } else if (iopt2_ != 0) {
    follow<true>(pk);
  } else {
    follow<false>(pk);
  }
  if (escapes_ != nullptr && pk.l == nx_) {
    const int ib = bins_.bin(pk.frl);
    if (ib != 0) escapes_->push_back({ib, pk.knlast == 0 ? 0 : maps_->absorber(pk.knlast).species, pk.ep});
  }
  if (tally_ == nullptr) {
    packet_end(*est_, bins_, pk.l == nx_, pk.frl, pk.ep, pk.knlast, pk.lineflag);
    return;
  }
  packet_end(*est_, bins_, pk.l == nx_, pk.frl, pk.ep, 0, pk.lineflag);
  if (pk.l == nx_ && pk.knlast != 0) LineTally::book_escape(*book_, pk.knlast, LineTally::units(pk.ep));
}

void Transport::bind(Rng& rng, Estimators& est, OutFile& out, LineTally::Book* book) {
  book_ = book;
  rng_ = &rng;
  est_ = &est;
  out_ = &out;
}

// One flight: draws the optical depth tau_r = -ln(1 - r) to the next event and walks
// the lines the comoving frequency sweeps through towards the exit point ex.
inline Transport::FlightEnd Transport::fly(State& st, const ExitPoint& ex) {
  // A flight that reaches its grid point walks on from about the same line in the
  // shell beyond: start loading those columns now (a flight that ends in a scattering
  // has spent two loads).
  const int j_next = std::clamp((st.l + ex.idir + 1) / 2, 1, in_.s.js);
  const ShellView& next = shells_[static_cast<std::size_t>(j_next)];
  __builtin_prefetch(next.tau + (st.kn - 1));
  __builtin_prefetch(next.ej + (st.kn - 1));

  const float r = rng_->uniform();
  const double taur = static_cast<double>(-std::log(1.0f - r));
  const ShellView& sh = *st.sh;
  if (frq_ordered_ && first_line_ahead(frq_, st.kn, st.xpe, st.dnu)) {
    const WalkEnd w = walk_lines(frq_, sh.tau, sh.ej, st.kn, st.xpe, st.dnu, sh.rle, sh.rle_inv_lo, taur, ex.d, st.ep);
    st.kn = w.kn;
    return {w.s, w.line, w.passed};
  }
  const EventSearch ev = search_event(frq_, sh.tau, sh.ej, st.kn, st.xpe, st.dnu, sh.rle, taur, ex.d, st.ep);
  // The search itself writes nothing else, so its messages keep their order.
  for (int n = 0; n < ev.negative; ++n) report_negative_line_distance();
  st.kn = ev.kn;
  return {ev.s, ev.line, ev.passed};
}

// Grid-point crossings from the lower boundary (point 1) until the core (l = 0) or the
// outer edge (l = NX), and inside each segment the flights from scattering to
// scattering. Each line reached adds EP to EJ and its Sobolev depth to the path's
// optical depth; the packet interacts with the line at which the summed depth
// (electrons and lines) first reaches tau_r, or Thomson-scatters between two lines, or
// reaches the grid point first. Crossing a shell's mid-point feeds the estimators.
//
// The packet lives in registers. What a flight needs that is unchanged since the last
// event is kept, not recomputed: DNU until the lab frequency changes, 1/XE and DC/XE
// from the event that set them, and after a grid point the ratios of grid coordinates.
// The next flight's exit point is worked out as soon as its start is known, before
// the draw of its depth (no draw depends on it, and its messages keep their place
// between the previous and the next walk).
template <bool kCascades>
void Transport::follow(Packet& pk) {
  // Crossing point 1 into segment 1 (NX >= 3): RLE of shell 1.
  State st{1, 1, pk.kn, pk.knlast, pk.lineflag, pk.xe, pk.dc, pk.frl, pk.xpe, pk.ep, 0, 0, &shells_[1]};
  st.inv_xe = 1 / st.xe;
  st.dnu = -1 / (beta_lb_ * st.frl);
  double pw5 = est_->pw(5);
  long long passed = 0;
  ExitPoint ex = exit_point<false>(st, 0, st.dc / st.xe);
  for (;;) {
    // Flights in segment l until the packet reaches one of its grid points (also when
    // d is not a number: nothing else can happen then).
    for (;;) {
      const FlightEnd f = fly(st, ex);
      passed += f.passed;
      if (!f.line && !(f.s < ex.d)) break;
      scatter<kCascades>(st, f.s, f.line, pw5);
      ex = exit_point<false>(st, 0, st.dc / st.xe);
    }
    // At grid point PB.
    const int pb = ex.pb;
    if (!cross_point(st, ex)) break;
    if (pb == 2 * st.j) {
      midpoint_crossing(*est_, st.j, st.xpe, st.frl, st.dc, st.ep, us_[static_cast<std::size_t>(pb)], vhi_);
    }
    ex = exit_point<true>(st, pb, ex.dcn_xb);
  }
  passages_ += passed;
  est_->pw(5) = pw5;
  store(st, pk);
}

// Geometric anomalies from rounding: reported, and the flight goes on.
void Transport::report_cb2(int j, int l, int pb, int idir, double xb, double xe, double dc, double cb2) const {
  out_->write("(4I4 4F10.5 D15.6)", j, l, pb, idir, xb, xe, 1 - dc * dc, dc, cb2);
}

void Transport::report_distance(double d, double dc, double xe, double dcn, double xb) const {
  if (boundary_ == Boundary::TopHat) {
    out_->write("(/ 5X 'ERROR MONTEC')");
  } else if (d < 0) {
    out_->write("(/ 5X 'ERROR MONTEC - Strecke<0')");
    out_->write("(A F11.8 A F11.8 A F11.8 A F11.8)", "-DC:", -dc, "  XE:", xe, " DCN:", dcn, "  XB:", xb);
  } else {
    out_->write("(/ 5X 'HINT MONTEC - Strecke=0')");
  }
}

void Transport::report_negative_line_distance() const {
  if (boundary_ == Boundary::TopHat) {
    out_->write("(/ 5X 'ERROR MONTEC')");
  } else {
    out_->write("(/ 5X 'ERROR MONTEC - SP<0')");
  }
}
}  // namespace mcspec
