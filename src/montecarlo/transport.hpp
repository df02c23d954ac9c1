// Transport of one indivisible energy packet through the homologously expanding
// shells: Thomson scattering and Sobolev line interactions, both coherent and
// energy-conserving in the comoving frame, with fluorescence through the branching
// ratios (reemit_after_line_event). Positions are x = R/r, path lengths in units of R.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <memory>
#include <vector>

#include "montecarlo/estimators.hpp"
#include "montecarlo/line_tally.hpp"
#include "montecarlo/line_walk.hpp"
#include "montecarlo/montecarlo.hpp"

namespace mcspec {

inline constexpr int kMaxGridPoints = 2 * kMaxShells + 1;

// c ? a : b formed without a branch: which exit point a flight heads for is a coin toss
// for the branch predictor, and a wrong guess would discard the work already under way.
inline double branchless_select(bool c, double a, double b) {
  const std::uint64_t m = 0 - static_cast<std::uint64_t>(c);
  return std::bit_cast<double>((std::bit_cast<std::uint64_t>(a) & m) | (std::bit_cast<std::uint64_t>(b) & ~m));
}

// The running sums of the Sobolev depths of every shell for the walk of the
// per-packet-stream runs (walk_depth_sums): sums(1, j) = 0, sums(k + 1, j) = TAU(1, j)
// + ... + TAU(k, j), each depth held within +-kDepthSumLimit (a depth that is not a
// number counts as opaque). Shells side by side on `threads` threads; sums is sized
// (NL + 1) x JS once.
void form_depth_sums(const Array2<double>& tau, int nl, int js, Array2<double>& sums, int threads);

// One packet in flight. The lab frame is the frame of the supernova centre.
struct Packet {
  int l = 0;         // segment between grid points l and l+1; 0 = in the core, NX = escaped
  int idir = 1;      // +1 heading for point l+1, -1 for point l
  int j = 1;         // shell of segment l
  int kn = 1;        // list position of the next line the packet can reach
  int knlast = 0;    // list position of the line that last emitted the packet (0: none)
  int lineflag = 0;  // 1 after the first line interaction
  double xe = 1;     // x = R/r of the position
  double dc = 1;     // lab-frame direction cosine
  double frl = 0;    // lab-frame frequency [Hz]
  double xpe = 0;    // comoving-frame frequency [Hz]
  double ep = 1;     // energy [packet units]
  double rle = 0;    // electron-scattering optical depth per unit length in shell j [1/R]
};

// KN for a packet of comoving frequency xpe: 1 above every line, NL+1 below every line
// (the end marker FRQ(NL+1) = 0 is next), else by bisection on the decreasing list the
// first position hi with XPE > FRQ(hi) (or hi = NL when XPE equals FRQ(NL)).
int first_reachable_line(const Array1<double>& frq, int nl, double xpe);

// The line-list maps that re-emission reads (list position -> transition -> upper
// level -> its downward range -> list position), packed once per run: the packet loop
// reads an 8-byte record per absorbing line and a 4-byte KPOS per emitting transition;
// the full records serve the checked re-emission.
class EmissionMaps {
 public:
  struct Absorber {    // by list position p
    int m;             // transition number LORIG(NL + 1 - p)
    int upper;         // |LUP(m)|, the excited upper level
    int first, last;   // IDN1, IDN2 of that level: the range of its downward transitions
    int lcasc;         // 0 for an effective resonance line
    int species;       // 100 Z + stage
  };
  struct Branch {      // by transition number n
    int kpos;          // list position
    int upper;         // |LUP(n)|
    int species;       // 100 Z + stage
  };
  // What the packet loop reads after an absorption in line p:
  //   first > 0: fluorescence over the transitions first..last, all of them downward
  //              lines of the absorbing upper level in the absorber's own ion, so the
  //              choice needs no checks;
  //   first = 0: an effective resonance line (LCASC = 0), re-emitted in itself;
  //   first < 0: a range that needs the checks of the full re-emission (lines of other
  //              levels or ions inside it, or no range at all).
  struct Reemission {
    int first, last;
  };
  // Packs the maps of ll; the tables keep their storage from one build to the next.
  void build(const LineList& ll);
  const Absorber& absorber(int p) const { return absorbers_[static_cast<std::size_t>(p - 1)]; }
  const Branch& branch(int n) const { return branches_[static_cast<std::size_t>(n - 1)]; }
  const Reemission& reemission(int p) const { return reemissions_[static_cast<std::size_t>(p - 1)]; }
  int lines() const { return static_cast<int>(branches_.size()); }
  // KPOS(n): list position of transition n.
  int kpos(int n) const { return kpos_[static_cast<std::size_t>(n - 1)]; }

 private:
  std::vector<Absorber> absorbers_;
  std::vector<Branch> branches_;
  std::vector<Reemission> reemissions_;
  std::vector<int> kpos_;
};

// Re-emission after the packet was absorbed in the line at list position kn in shell j.
// Resonance scattering (IOPT(2) = 0, or an effective resonance line) keeps the line;
// otherwise one draw picks the downward line of the absorbing upper level by the
// branching ratios BR(n, j), with the last line of the level when the draw exceeds
// their sum. On return kn is the emitting line and xpe its rest frequency. A chosen
// line of another species is a corrupt line table: messages, then RunError. The packet
// energy is not an argument: re-emission conserves it in the comoving frame.
void reemit_after_line_event(int& kn, double& xpe, int j, const EmissionMaps& maps, const Array1<double>& frq,
            const Array2<double>& br, int iopt2, Rng& rng, OutFile& out);

// The fluorescent choice of reemit_after_line_event for an absorber whose range needs checks
// (Reemission::first < 0): lines of other upper levels inside IDN1..IDN2 are passed
// over, a missing range and a line of another ion stop the run. Draws once. Returns
// the list position of the emitting line.
int checked_fluorescence(int kn, int j, const EmissionMaps& maps, const Array1<double>& frq, const double* brj,
                         Rng& rng, OutFile& out);

// The fluorescent re-emission of reemit_after_line_event (IOPT(2) = 1) after an absorption in line kn,
// brj the BR column of the shell (0-based): the list position of the emitting line.
// For a range without checks the running sum of the branching ratios is formed in the
// order of the transitions, as always; the last line needs no sum, it is the choice
// whenever the draw passes the others.
inline int fluorescent_line(int kn, int j, const EmissionMaps& maps, const Array1<double>& frq, const double* brj,
                            Rng& rng, OutFile& out) {
  const EmissionMaps::Reemission re = maps.reemission(kn);
  if (re.first == 0) return kn;
  if (re.first < 0) return checked_fluorescence(kn, j, maps, frq, brj, rng, out);
  const double r = static_cast<double>(rng.uniform());
  double sumb = 0;
  for (int n = re.first; n < re.last; ++n) {
    sumb += brj[n - 1];
    if (r < sumb) return maps.kpos(n);
  }
  return maps.kpos(re.last);
}

// The next event of a flight that starts with comoving frequency xpe and optical depth
// tau_r to go, and reaches its grid point at distance d [R].
struct EventSearch {
  double s;      // distance of the event [R]
  int kn;        // the interacting line (line event), else the next reachable line
  bool line;     // a line event; otherwise Thomson scattering when s < d, else the point
  int negative;  // resonances found behind the packet (rounding): reported by the caller
  int passed;    // resonances reached, each adding EP to EJ
};

// Walks the frequency-ordered lines of one shell from kn (frq, tau and ej 0-based:
// frq[k-1] = FRQ(k), tau and ej the shell's columns), adding ep to EJ of every line
// reached (ej null: none), until the drawn depth tau_r is used up by the lines and the electrons (rle
// per unit length) or the grid point at d comes first. dnu = -1/(beta nu), the path per
// unit drop of the comoving frequency. The exact search, one division per line, which
// also counts the lines found behind the packet; the packet loop takes it where the
// walk of line_walk.hpp does not apply.
EventSearch search_event(const double* __restrict frq, const double* __restrict tau, double* __restrict ej, int kn,
                         double xpe, double dnu, double rle, double taur, double d, double ep);

// A packet leaving a black-body lower boundary at temperature TB, drawn from interval
// i (2..KB) of the frequency sampling table: mu = sqrt(1 - r) (the flux through the
// boundary), z uniform inside the interval except for the first and last intervals,
// whose densities rise from and fall to zero; nu = sqrt(z / (1 - z)) * SF,
// SF = XSCL TB k / h. Draws r1, r2 and, in the end intervals, r3 and r4, in this order.
Packet emit_black_body(Rng& rng, const SamplingTable& t, int i, int kb, double sf, double beta_lb);

// A packet of the top-hat boundary: mu as above, nu uniform in (FTH2, FTH1].
Packet emit_top_hat(Rng& rng, double fth1, double fth2, double beta_lb);

// Which lower boundary emits. The single-pass top-hat run differs from the black-body
// runs only in its emission law, the RQ(J,4) threshold, two messages and the report.
enum class Boundary { BlackBody, TopHat };

// The per-run set-up of the transport and the packet loop body shared by every run.
class Transport {
 public:
  // Precomputes per shell what the packet loop reads: US at every grid point, RLE and
  // the TAU, EJ and BR columns. vhi: the RQ(J,4) frequency threshold [Hz].
  // With a tally (the per-packet-stream runs) the line passages and the lines of last
  // emission are booked for it in fixed point (see bind), not added to EJ and ELINE.
  Transport(const McInputs& in, Boundary boundary, double vhi, Rng& rng, Estimators& est, OutFile& out,
            LineTally* tally = nullptr);
  // A copy shares the set-up (the emission maps too); bind points it at a thread's own
  // generator, accumulators, message buffer and (with a tally) book of line passages.
  void bind(Rng& rng, Estimators& est, OutFile& out, LineTally::Book* book);
  // Escaped packets are also listed here with their bin and last-emitting ion (null: not).
  void list_escapes(std::vector<IonEscape>* escapes) { escapes_ = escapes; }

  // Sets the packet's first reachable line, follows it from the lower boundary until
  // it falls into the core or escapes, and books its end in the estimators.
  void launch(Packet& pk);

  double beta_lb() const { return beta_lb_; }
  // US(i) = beta / XS(i), the velocity in units of c at grid point i (1-based).
  double us(int i) const { return us_[static_cast<std::size_t>(i)]; }
  long long line_passages() const { return passages_; }

 private:
  // The flight's target grid point and the path to it (see exit_point).
  struct ExitPoint {
    int idir;       // +1 outwards, -1 inwards
    int pb;         // target point
    double xb;      // XS(PB)
    double dcn;     // direction cosine there
    double xpeb;    // comoving frequency there
    double d;       // path length [R]
    double dcn_xb;  // DCN/XB, the term DC/XE of the next flight when the point is reached
  };
  // What the packet loop reads of shell j.
  struct ShellView {
    const double* tau = nullptr;  // TAU column, 0-based
    double* ej = nullptr;         // EJ column, 0-based
    const double* br = nullptr;   // BR column, 0-based
    double rle = 0;               // Thomson optical depth per unit length [1/R]
    double rle_inv_lo = 0;        // lower bound factor of 1/RLE for the line walk
    double rle_inv = 0;           // 1/RLE (the stream runs' walk)
    const double* sums = nullptr; // running sums of TAU (the stream runs' walk), sums[k] after line k
    bool masers = false;          // a line of the shell has a negative depth (the stream runs)
  };

  // The packet in the loop (kept in registers: it never leaves the inlined loop) with
  // what a flight reuses from the event that started it.
  struct State {
    int l, j, kn, knlast, lineflag;
    double xe, dc, frl, xpe, ep;
    double inv_xe;          // 1/XE, as the move forms it
    double dnu;             // -1/(beta FRL), the path per unit drop of comoving frequency
    const ShellView* sh;    // shell j
  };
  // How a flight ended: at distance s, in a line interaction or not, after `passed`
  // line resonances.
  struct FlightEnd {
    double s;
    bool line;
    int passed;
  };

  template <bool kCascades>
  void follow(Packet& pk);
  // The packet loop of the per-packet-stream runs (stream_transport.cpp).
  void follow_stream(Packet& pk);
  template <bool kCascades>
  void follow_stream(Packet& pk);
  template <bool kAtPoint, bool kProducts = false>
  [[gnu::always_inline]] ExitPoint exit_point(const State& st, int at, double dc_xe) const;
  [[gnu::always_inline]] FlightEnd fly(State& st, const ExitPoint& ex);
  template <bool kCascades, bool kProducts = false>
  [[gnu::always_inline]] void scatter(State& st, double s, bool line, double& pw5);
  [[gnu::always_inline]] bool cross_point(State& st, const ExitPoint& ex) const;
  [[gnu::always_inline]] static void store(const State& st, Packet& pk);
  double grid_ratio(int a, int b) const { return ratio_[static_cast<std::size_t>(3 * a + (b - a + 1))]; }
  void report_cb2(int j, int l, int pb, int idir, double xb, double xe, double dc, double cb2) const;
  void report_distance(double d, double dc, double xe, double dcn, double xb) const;
  void report_negative_line_distance() const;

  const McInputs& in_;
  Boundary boundary_;
  Rng* rng_;
  Estimators* est_;
  OutFile* out_;
  LineTally* tally_ = nullptr;
  LineTally::Book* book_ = nullptr;
  std::vector<IonEscape>* escapes_ = nullptr;
  EscapeBinning bins_;
  std::shared_ptr<EmissionMaps> maps_;
  int nx_ = 0;
  int nl_ = 0;
  int iopt2_ = 0;
  bool frq_ordered_ = false;  // FRQ(1..NL+1) non-increasing: the fast line walk applies
  bool walk_avx2_ = false;    // the stream runs walk with AVX2
  std::shared_ptr<std::vector<double>> dnu_line_;  // stream runs: 1 / (beta FRQ(k)), 0-based
  double beta_lb_ = 0;
  double vhi_ = 0;
  long long passages_ = 0;
  const double* frq_ = nullptr;  // FRQ, 0-based: frq_[k - 1] = FRQ(k), FRQ(NL+1) = 0
  std::array<double, kMaxGridPoints + 1> us_{};
  std::array<double, kMaxGridPoints + 1> xs_{};      // XS(i)
  std::array<double, kMaxGridPoints + 1> inv_xs_{};  // 1/XS(i), as the move computes 1/XE
  // XS(a)/XS(b) for |a - b| <= 1 at ratio_[3a + b - a + 1]: the ratios a flight that
  // starts on a grid point needs, formed once as the flight would form them.
  std::array<double, 3 * (kMaxGridPoints + 2)> ratio_{};
  std::array<ShellView, kMaxShells + 1> shells_{};
};

}  // namespace mcspec
