// The packet loop of the per-packet-stream runs (MCSPEC_STREAMS=1). The physics and
// the events are those of follow (transport.cpp); a packet that draws from a stream of
// its own leaves the loop free in three ways, each the same in distribution:
//  - the optical depth left when a flight reaches a grid point is carried into the
//    next flight instead of a new draw (the exponential law has no memory; in a shell
//    with masers, lines of negative depth, a new depth is drawn as before);
//  - the line walk decides each line on its own from running sums of the depths
//    (walk_depth_sums), several lines at a time, instead of summing along the flight;
//  - quotients are shared (one reciprocal for several divisions), and the lines a
//    packet passes with one energy in one shell, over several flights, are booked as
//    one run of lines.
#include <algorithm>
#include <cmath>

#include "base/array.hpp"
#include "base/parallel.hpp"
#include "montecarlo/line_walk.hpp"
#include "montecarlo/transport.hpp"
#include "montecarlo/transport_steps.hpp"

namespace mcspec {

void form_depth_sums(const Array2<double>& tau, int nl, int js, Array2<double>& sums, int threads) {
  if (sums.rows() != nl + 1 || sums.cols() != js) sums.assign(nl + 1, js);
  parallel_for(js, threads, [&](int task, int) {
    const double* t = tau.column(task + 1);
    double* s = sums.column(task + 1);
    double sum = 0;
    s[0] = 0;
    for (int k = 0; k < nl; ++k) {
      double d = t[k];
      if (!(d <= kDepthSumLimit)) {
        d = kDepthSumLimit;  // also a depth that is not a number: opaque
      } else if (d < -kDepthSumLimit) {
        d = -kDepthSumLimit;
      }
      sum += d;
      s[k + 1] = sum;
    }
  });
}

template <bool kCascades>
void Transport::follow_stream(Packet& pk) {
  State st{1, 1, pk.kn, pk.knlast, pk.lineflag, pk.xe, pk.dc, pk.frl, pk.xpe, pk.ep, 0, 0, &shells_[1]};
  st.inv_xe = 1 / st.xe;
  st.dnu = -1 / (beta_lb_ * st.frl);
  double pw5 = 0;
  long long passed = 0;
  double taur = 0;  // the depth to go (0: draw one)
  // The run of lines to book next: shell, first line, count, units of the energy.
  int book_j = 1, book_k = st.kn, book_n = 0;
  std::uint64_t book_q = LineTally::units(st.ep);
  ExitPoint ex = exit_point<false, true>(st, 0, st.dc * st.inv_xe);
  for (;;) {
    // Flights in segment l until the packet reaches one of its grid points.
    for (;;) {
      if (!(taur > 0)) {
        const float r = rng_->uniform();
        taur = static_cast<double>(-std::log(1.0f - r));
      }
      // A flight that reaches its grid point walks on from the same line in the shell
      // beyond: start loading those sums now.
      const int j_next = std::clamp((st.l + ex.idir + 1) / 2, 1, in_.s.js);
      __builtin_prefetch(shells_[static_cast<std::size_t>(j_next)].sums + (st.kn - 1));
      const ShellView& sh = *st.sh;
      double s = 0, left = 0;
      bool line = false;
      int n = 0;
      if (frq_ordered_ && first_line_ahead(frq_, st.kn, st.xpe, st.dnu)) {
        const SumWalkEnd w =
            walk_avx2_ ? walk_depth_sums_avx2(frq_, sh.sums, st.kn, nl_, st.xpe, st.dnu, sh.rle, sh.rle_inv, taur, ex.d)
                       : walk_depth_sums(frq_, sh.sums, st.kn, nl_, st.xpe, st.dnu, sh.rle, sh.rle_inv, taur, ex.d);
        s = w.s;
        line = w.line;
        n = w.passed;
        left = w.left;
        st.kn = w.kn;
      } else {
        // Lines behind the packet: the exact search, which reports them (a new depth
        // is drawn after it).
        const EventSearch ev = search_event(frq_, sh.tau, nullptr, st.kn, st.xpe, st.dnu, sh.rle, taur, ex.d, st.ep);
        for (int m = 0; m < ev.negative; ++m) report_negative_line_distance();
        s = ev.s;
        line = ev.line;
        n = ev.passed;
        st.kn = ev.kn;
      }
      passed += n;
      book_n += n;
      if (!line && !(s < ex.d)) {
        // The rest of the depth is a new draw's equal only when no line of the flight
        // gave depth back: a maser's gain ends with its flight, as in the single sequence.
        taur = sh.masers ? 0 : left;
        break;
      }
      taur = 0;
      scatter<kCascades, true>(st, s, line, pw5);
      tally_->book_flight(*book_, book_j, book_k, book_n, book_q);
      book_k = st.kn;
      book_n = 0;
      book_q = LineTally::units(st.ep);
      ex = exit_point<false, true>(st, 0, st.dc * st.inv_xe);
    }
    // At grid point PB.
    const int pb = ex.pb;
    if (!cross_point(st, ex)) break;
    if (pb == 2 * st.j) {
      midpoint_crossing_stream(*est_, st.j, st.xpe, st.frl, st.dc, st.ep, us_[static_cast<std::size_t>(pb)], vhi_);
    } else {
      // Another shell: its lines are another run.
      tally_->book_flight(*book_, book_j, book_k, book_n, book_q);
      book_j = st.j;
      book_k = st.kn;
      book_n = 0;
    }
    ex = exit_point<true, true>(st, pb, ex.dcn_xb);
  }
  tally_->book_flight(*book_, book_j, book_k, book_n, book_q);
  passages_ += passed;
  est_->pw(5) += pw5;
  store(st, pk);
}

void Transport::follow_stream(Packet& pk) {
  if (iopt2_ != 0) {
    follow_stream<true>(pk);
  } else {
    follow_stream<false>(pk);
  }
}

}  // namespace mcspec
