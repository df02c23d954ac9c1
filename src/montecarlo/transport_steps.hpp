// The steps of a flight shared by the packet loops of transport.cpp and
// stream_transport.cpp: its exit point and the scattering that ends it.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstddef>

#include "montecarlo/transport.hpp"

namespace mcspec {

// The exit point of a flight from x = XE with direction cosine DC in segment l.
// Inwards only when the ray meets the inner sphere of the segment,
// (r_in / r)^2 > 1 - mu^2; the direction cosine there follows from the conservation of
// r sin(theta), and the path length is r_b mu_b - r mu [R]. Both candidate points are
// worked out and one is selected. A flight that starts on grid point `at` (kAtPoint:
// XE = XS(at) exactly) takes its ratios of grid coordinates from the table; dc_xe is
// DC/XE, formed by the event that set them. kProducts (the per-packet-stream runs): the
// quotients are formed as products with the reciprocals 1/XS and 1/XE.
template <bool kAtPoint, bool kProducts>
inline Transport::ExitPoint Transport::exit_point(const State& st, int at, double dc_xe) const {
  const int l = st.l;
  const double xe = st.xe, dc = st.dc;
  const auto il = static_cast<std::size_t>(l);
  double t, q_in, q_out;  // XE/XS(l), XS(l)/XE, XS(l+1)/XE
  if constexpr (kAtPoint) {
    t = grid_ratio(at, l);
    q_in = grid_ratio(l, at);
    q_out = grid_ratio(l + 1, at);
  } else if constexpr (kProducts) {
    t = xe * inv_xs_[il];
    q_in = xs_[il] * st.inv_xe;
    q_out = xs_[il + 1] * st.inv_xe;
  } else {
    t = xe / xs_[il];
    q_in = xs_[il] / xe;
    q_out = xs_[il + 1] / xe;
  }
  const double sin2 = 1 - dc * dc;
  const bool inward = (dc < 0) & (t * t - sin2 > 0);
  const int idir = 1 - 2 * static_cast<int>(inward);
  const int pb = l + 1 - static_cast<int>(inward);
  const double xb = xs_[static_cast<std::size_t>(pb)];
  const double q = branchless_select(inward, q_in, q_out);  // XB/XE
  double cb2 = 1 - sin2 * (q * q);
  if (cb2 <= 0) {
    report_cb2(st.j, l, pb, idir, xb, xe, dc, cb2);
    cb2 = -cb2;
  }
  const double dcn = branchless_select(inward, -1.0, 1.0) * std::sqrt(cb2);  // IDIR sqrt(CB2)
  const double xpeb = (1 - us_[static_cast<std::size_t>(pb)] * dcn) * st.frl;
  const double dcn_xb = kProducts ? dcn * inv_xs_[static_cast<std::size_t>(pb)] : dcn / xb;
  const double d = dcn_xb - dc_xe;
  if (d <= 0) report_distance(d, dc, xe, dcn, xb);
  return {idir, pb, xb, dcn, xpeb, d, dcn_xb};
}

// Scattering at distance s along the flight: move, draw an isotropic direction, apply
// the Doppler factor (the comoving energy is kept; its lab-frame change goes to pw5);
// a line absorption is followed by re-emission (reemit_after_line_event). Sets what the next flight
// reuses: 1/XE, DNU. kProducts (the per-packet-stream runs): one reciprocal 1/r' gives
// XE and mu', one reciprocal of the Doppler denominator 1 - beta mu gives the energy
// ratio and the new lab frequency, and after a line DNU comes from the line's tabulated
// 1/(beta FRQ).
template <bool kCascades, bool kProducts>
inline void Transport::scatter(State& st, double s, bool line, double& pw5) {
  const ShellView& sh = *st.sh;
  if constexpr (kCascades) {
    // The re-emission reads this shell's branching ratios of the absorbing level:
    // start loading them while the move is computed.
    if (line) {
      const EmissionMaps::Reemission& re = maps_->reemission(st.kn);
      if (re.first > 0) __builtin_prefetch(sh.br + (re.first - 1));
    }
  }
  const double r = st.inv_xe;
  const double rp = std::sqrt(r * r + 2 * r * s * st.dc + s * s);
  const double inv_rp = 1 / rp;
  const double mup = kProducts ? (r * st.dc + s) * inv_rp : (r * st.dc + s) / rp;
  st.xe = inv_rp;
  const double beta = beta_lb_ * rp;
  const float r5 = rng_->uniform();
  st.dc = static_cast<double>(2.0f * r5 - 1.0f);
  const double den = 1 - beta * st.dc;
  const double g = kProducts ? 1 / den : 0.0;
  const double ratio = kProducts ? (1 - beta * mup) * g : (1 - beta * mup) / den;
  st.frl = st.frl * ratio;
  pw5 += st.ep * ratio - st.ep;
  st.ep = st.ep * ratio;
  if (line) {
    if constexpr (kCascades) {
      st.kn = fluorescent_line(st.kn, st.j, *maps_, in_.ll.frq, sh.br, *rng_, *out_);
      // The next flight walks on from the emitting line: start loading its columns.
      if constexpr (kProducts) {
        __builtin_prefetch(sh.sums + st.kn);
      } else {
        __builtin_prefetch(sh.tau + st.kn);
        __builtin_prefetch(sh.ej + st.kn);
      }
    }
    st.xpe = frq_[st.kn - 1];
    st.knlast = st.kn;
    st.frl = kProducts ? st.xpe * g : st.xpe / den;
    st.kn += 1;
    st.lineflag = 1;
  } else {
    st.xpe = den * st.frl;
  }
  if constexpr (kProducts) {
    st.inv_xe = rp;
    st.dnu = line ? -den * (*dnu_line_)[static_cast<std::size_t>(st.kn - 2)] : -1 / (beta_lb_ * st.frl);
  } else {
    st.inv_xe = 1 / st.xe;
    st.dnu = -1 / (beta_lb_ * st.frl);
  }
}

// The packet reaches grid point ex.pb: position, direction and comoving frequency there,
// and the segment beyond. False when that is the core (l = 0) or outside (l = NX).
inline bool Transport::cross_point(State& st, const ExitPoint& ex) const {
  st.xe = ex.xb;
  st.dc = ex.dcn;
  st.xpe = ex.xpeb;
  st.inv_xe = inv_xs_[static_cast<std::size_t>(ex.pb)];
  st.l += ex.idir;
  if (st.l == 0 || st.l == nx_) return false;
  st.j = (st.l + 1) / 2;
  st.sh = &shells_[static_cast<std::size_t>(st.j)];
  return true;
}

// The packet as the loop leaves it.
inline void Transport::store(const State& st, Packet& pk) {
  pk.l = st.l;
  pk.j = st.j;
  pk.kn = st.kn;
  pk.knlast = st.knlast;
  pk.lineflag = st.lineflag;
  pk.xe = st.xe;
  pk.dc = st.dc;
  pk.frl = st.frl;
  pk.xpe = st.xpe;
  pk.ep = st.ep;
  pk.rle = st.sh->rle;
}

}  // namespace mcspec
