// The packet loop against a plain transcription of the transport algorithm (one
// function per step, every quantity recomputed where the algorithm forms it, the line
// search with its division at every line): on small ejecta with electrons, opaque and
// transparent lines, shared upper levels, resonance lines, a level range that needs the
// checked re-emission and shells without electrons, a Monte Carlo run must leave the
// estimators, the reports and the generator in exactly the state of the transcription.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "montecarlo/estimators.hpp"
#include "montecarlo/transport.hpp"
#include "toy_model.hpp"

namespace mcspec {
namespace {

using test::ToyLine;
using test::ToyModel;

// ---- the transcription ----

struct RefPacket {
  int l = 0, idir = 1, j = 1, kn = 1, knlast = 0, lineflag = 0;
  double xe = 1, dc = 1, frl = 0, xpe = 0, ep = 1, rle = 0;
};

struct Reference {
  const McInputs& in;
  Estimators& est;
  Rng& rng;
  OutFile& out;
  double beta_lb;
  double vhi;
  long long passages = 0;

  double xs(int i) const { return in.s.xs(i); }
  double us(int i) const { return beta_lb / xs(i); }
  double rle_of(int j) const { return in.pl.kapes(j) / std::pow(10.0, -(in.s.logrh(j) + in.p.logr)); }

  // reemit_after_line_event as the algorithm states it, from the line list itself.
  void reemit_after_line_event(int& kn, double& xpe, int j) {
    const LineList& ll = in.ll;
    if (in.p.iopt[2] == 0 || ll.lcasc(kn) == 0) {
      xpe = ll.frq(kn);
      return;
    }
    const int m = ll.lorig(ll.nl + 1 - kn);
    const int u = std::abs(ll.lup(m));
    const double r = static_cast<double>(rng.uniform());
    int chosen = ll.idn2(u);
    double sumb = 0;
    for (int n = ll.idn1(u); n >= 1 && n <= ll.idn2(u); ++n) {
      if (std::abs(ll.lup(n)) != u) continue;
      sumb += in.op.br(n, j);
      if (r < sumb) {
        chosen = n;
        break;
      }
    }
    kn = ll.kpos(chosen);
    xpe = ll.frq(kn);
  }

  void interact(RefPacket& pk, double s, bool line) {
    const double r = 1 / pk.xe;
    const double rp = std::sqrt(r * r + 2 * r * s * pk.dc + s * s);
    const double mup = (r * pk.dc + s) / rp;
    pk.xe = 1 / rp;
    const double beta = beta_lb * rp;
    const float r5 = rng.uniform();
    pk.dc = static_cast<double>(2.0f * r5 - 1.0f);
    const double ratio = (1 - beta * mup) / (1 - beta * pk.dc);
    pk.frl = pk.frl * ratio;
    pk.xpe = (1 - beta * pk.dc) * pk.frl;
    est.pw(5) += pk.ep * ratio - pk.ep;
    pk.ep = pk.ep * ratio;
    if (!line) return;
    reemit_after_line_event(pk.kn, pk.xpe, pk.j);
    pk.knlast = pk.kn;
    pk.frl = pk.xpe / (1 - beta * pk.dc);
    pk.kn += 1;
    pk.lineflag = 1;
  }

  int fly_to_boundary(RefPacket& pk) {
    for (;;) {
      if (pk.dc >= 0) {
        pk.idir = 1;
      } else {
        const double t = pk.xe / xs(pk.l);
        pk.idir = (t * t - (1 - pk.dc * pk.dc) > 0) ? -1 : 1;
      }
      const int pb = pk.l + (pk.idir + 1) / 2;
      const double xb = xs(pb);
      const float rr = rng.uniform();
      const double taur = static_cast<double>(-std::log(1.0f - rr));
      double cb2 = 1 - (1 - pk.dc * pk.dc) * ((xb / pk.xe) * (xb / pk.xe));
      if (cb2 <= 0) {
        out.write("(4I4 4F10.5 D15.6)", pk.j, pk.l, pb, pk.idir, xb, pk.xe, 1 - pk.dc * pk.dc, pk.dc, cb2);
        cb2 = -cb2;
      }
      const double dcn = pk.idir * std::sqrt(cb2);
      const double xpeb = (1 - us(pb) * dcn) * pk.frl;
      const double d = dcn / xb - pk.dc / pk.xe;
      if (d < 0) {
        out.write("(/ 5X 'ERROR MONTEC - Strecke<0')");
        out.write("(A F11.8 A F11.8 A F11.8 A F11.8)", "-DC:", -pk.dc, "  XE:", pk.xe, " DCN:", dcn, "  XB:", xb);
      } else if (d == 0) {
        out.write("(/ 5X 'HINT MONTEC - Strecke=0')");
      }
      // The event search, one division per line.
      const double dnu = -1 / (beta_lb * pk.frl);
      const double* tau = in.op.tau.column(pk.j);
      double* ej = est.ej.column(pk.j);
      double tsum = -taur, s = 0, trem = taur, ev_s = 0;
      bool line = false;
      for (;;) {
        const double se = s + trem / pk.rle;
        const double cand = se < d ? se : d;
        const double sl = (in.ll.frq(pk.kn) - pk.xpe) * dnu;
        if (sl < 0) out.write("(/ 5X 'ERROR MONTEC - SP<0')");
        if (!(cand > sl)) {
          ev_s = cand;
          break;
        }
        ej[pk.kn - 1] += pk.ep;
        ++passages;
        tsum += tau[pk.kn - 1];
        pk.kn += 1;
        trem = -tsum - sl * pk.rle;
        s = sl;
        if (!(trem > 0)) {
          pk.kn -= 1;
          ev_s = sl;
          line = true;
          break;
        }
      }
      if (!line && !(ev_s < d)) {
        pk.xe = xb;
        pk.dc = dcn;
        pk.xpe = xpeb;
        return pb;
      }
      interact(pk, ev_s, line);
    }
  }

  void follow(RefPacket& pk) {
    pk.l = 0;
    pk.idir = 1;
    int crossed = 1;
    for (;;) {
      pk.l += pk.idir;
      if (pk.l == 0 || pk.l == in.s.nx) return;
      pk.j = (pk.l + 1) / 2;
      if (crossed == 2 * pk.j) {
        midpoint_crossing(est, pk.j, pk.xpe, pk.frl, pk.dc, pk.ep, us(crossed), vhi);
      } else {
        pk.rle = rle_of(pk.j);
      }
      crossed = fly_to_boundary(pk);
    }
  }
};

// run_monte_carlo with mode 0 written out step by step, on the transcription.
void reference_montec(const McInputs& in, Rng& rng, Estimators& est, Scaling& sc, McOutput& o) {
  o.out.write("(/ 5X 'Start Monte Carlo')");
  clear_estimators(est, in.ll.nl, in.s.js);
  const int np1 = in.p.npk;
  est.pw(1) = np1;
  const Constants& c = in.c;
  const double beta_lb = in.p.vph * 1e5 / std::pow(10.0, c.log_c());
  const double vhi = 5 * sc.tb * std::pow(10.0, c.log_k() - c.log_h());
  Reference ref{in, est, rng, o.out, beta_lb, vhi};
  const EscapeBinning bins(in.grid, in.p, c);
  const int kb = in.p.kb;
  const double sf = in.samp.xscl * sc.tb * std::pow(10.0, c.log_k() - c.log_h());
  const double h_over_k = std::pow(10.0, c.log_h() - c.log_k());
  double xmsum = 0;
  for (int i = 2; i <= kb; ++i) {
    for (int n = 1; n <= np1 / (kb - 1); ++n) {
      const Packet e = emit_black_body(rng, in.samp, i, kb, sf, beta_lb);
      xmsum += e.frl * h_over_k / sc.tb / np1;
      RefPacket pk;
      pk.frl = e.frl;
      pk.xpe = e.xpe;
      pk.dc = e.dc;
      pk.kn = first_reachable_line(in.ll.frq, in.ll.nl, pk.xpe);
      ref.follow(pk);
      packet_end(est, bins, pk.l == in.s.nx, pk.frl, pk.ep, pk.knlast, pk.lineflag);
    }
  }
  est.xm = xmsum;
  est.line_passages = ref.passages;
  std::vector<double> us(static_cast<std::size_t>(in.s.nx) + 1, 0.0);
  for (int i = 1; i <= in.s.nx; ++i) us[static_cast<std::size_t>(i)] = ref.us(i);
  finish_run({false, McMode::kTemperaturePass, 0, np1, xmsum, us.data()}, in, est, sc, o);
}

// ---- the ejecta ----

// 48 lines from x = h nu / k TB = 9 down to 0.7, a few of equal frequency; per shell a
// depth from a fixed pseudo-random sequence (transparent, moderate and opaque lines);
// transitions grouped by upper level in runs of 1 to 5 with branching ratios that sum
// to one in every shell; every seventh line an effective resonance line.
struct Ejecta {
  static constexpr int kLines = 48;
  ToyModel m;
  explicit Ejecta(int iopt2, double tau_es) : m(5, 21, 3000, tau_es, lines()) {
    m.p.iopt[2] = iopt2;
    std::uint32_t state = 12345;
    auto next = [&state] {
      state = state * 1664525u + 1013904223u;
      return static_cast<double>(state >> 8) * 0x1p-24;
    };
    for (int j = 1; j <= m.s.js; ++j) {
      for (int n = 1; n <= kLines; ++n) {
        const double u = next();
        m.op.tau(n, j) = u < 0.3 ? 0.0 : u < 0.8 ? 2 * next() : 30 * next();
      }
    }
    // Upper levels: runs of transitions 1..5 long; level numbers 2, 3, ...
    m.ll.idn1.assign(kLines + 3, 0);
    m.ll.idn2.assign(kLines + 3, 0);
    int level = 1;
    for (int n = 1; n <= kLines;) {
      const int run = 1 + static_cast<int>(next() * 5);
      ++level;
      const int last = std::min(n + run - 1, kLines);
      m.ll.idn1(level) = n;
      m.ll.idn2(level) = last;
      for (int k = n; k <= last; ++k) m.ll.lup(k) = level;
      for (int j = 1; j <= m.s.js; ++j) {
        double sum = 0;
        for (int k = n; k <= last; ++k) sum += (m.op.br(k, j) = 0.05 + next());
        for (int k = n; k <= last; ++k) m.op.br(k, j) /= sum;
      }
      n = last + 1;
    }
    for (int k = 7; k <= kLines; k += 7) m.ll.lcasc(k) = 0;
    m.ll.lup(31) = -m.ll.lup(31);  // a negative field: the level is |LUP|
    // The first line of the level of line 20 moves to a level of its own, while the
    // range of its old level still covers it: that range needs the checked re-emission.
    const int f = m.ll.idn1(m.ll.lup(20));
    m.ll.lup(f) = level + 1;
    m.ll.idn1(level + 1) = f;
    m.ll.idn2(level + 1) = f;
  }

  static std::vector<ToyLine> lines() {
    ToyModel probe(5, 21, 1, 0.0);
    std::vector<ToyLine> v;
    for (int n = 0; n < kLines; ++n) {
      const double x = 9.0 - (n / 2) * (8.3 / (kLines / 2));  // pairs of equal frequency
      v.push_back({probe.nu_of_x(x, probe.p.tb), 1.0});
    }
    return v;
  }
};

// Fluorescence with electrons; resonance scattering with shells 2 and 4 free of
// electrons (RLE = 0: electron scattering never happens there); lines only.
TEST(ReferenceTransport, MonteCarloRunMatchesTheTranscriptionBitForBit) {
  const struct { int iopt2; double tau_es; bool empty_shells; } cases[] = {{1, 1.5, false}, {0, 1.5, true}, {1, 0.0, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "IOPT(2) = " << c.iopt2 << ", tau_es = " << c.tau_es);
    Ejecta a(c.iopt2, c.tau_es), b(c.iopt2, c.tau_es);
    for (Ejecta* e : {&a, &b})
      if (c.empty_shells) e->m.pl.kapes(2) = e->m.pl.kapes(4) = 0.0;
    Rng rng_a(a.m.p.iseed), rng_b(b.m.p.iseed);
    run_monte_carlo(McMode::kTemperaturePass, 0, a.m.in, rng_a, a.m.est, a.m.sc, a.m.mo);
    reference_montec(b.m.in, rng_b, b.m.est, b.m.sc, b.m.mo);
    ASSERT_GT(a.m.est.line_passages, 10000) << "the ejecta should make the packets pass many lines";
    EXPECT_GT(a.m.est.ncnt(3), 0);  // packets escaped after line events
    EXPECT_EQ(a.m.est.line_passages, b.m.est.line_passages);
    EXPECT_EQ(rng_a.iseed(), rng_b.iseed()) << "number or order of draws differs";
    const auto differing = [](const double* x, const double* y, std::size_t n) {
      std::size_t differ = 0;
      for (std::size_t i = 0; i < n; ++i) differ += std::bit_cast<std::uint64_t>(x[i]) != std::bit_cast<std::uint64_t>(y[i]);
      return differ;
    };
    const Estimators &ea = a.m.est, &eb = b.m.est;
    EXPECT_EQ(differing(ea.ej.data(), eb.ej.data(), std::size_t{Ejecta::kLines} * 5), 0u) << "EJ entries differ";
    EXPECT_EQ(differing(ea.eline.data(), eb.eline.data(), Ejecta::kLines), 0u) << "ELINE entries differ";
    EXPECT_EQ(differing(ea.rq.data(), eb.rq.data(), 86 * 10), 0u) << "RQ entries differ";
    EXPECT_EQ(differing(ea.pw.data(), eb.pw.data(), 5), 0u) << "PW entries differ";
    EXPECT_EQ(ea.ncnt.vec(), eb.ncnt.vec());
    EXPECT_EQ(ea.nspec.vec(), eb.nspec.vec());
    EXPECT_EQ(a.m.out.text() + a.m.stst.text() + a.m.sica.text() + a.m.eica.text(),
              b.m.out.text() + b.m.stst.text() + b.m.sica.text() + b.m.eica.text());
  }
}

}  // namespace
}  // namespace mcspec
