// Transport of one indivisible energy packet through the homologously expanding
// shells: Thomson scattering and Sobolev line interactions, both coherent and
// energy-conserving in the comoving frame, with fluorescence through the branching
// ratios (newfrq). Positions are x = R/r, path lengths in units of R.
#pragma once

#include <array>
#include <vector>

#include "montecarlo/estimators.hpp"
#include "montecarlo/montecarlo.hpp"

namespace mcspec {

inline constexpr int kMaxGridPoints = 2 * kMaxShells + 1;

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

// The line-list maps that re-emission reads, gathered per line so that one
// re-emission touches a few cache lines instead of a chain of separate tables
// (list position -> transition -> upper level -> its downward range -> list position).
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
  // Packs the maps of ll; the tables keep their storage from one build to the next.
  void build(const LineList& ll);
  const Absorber& absorber(int p) const { return absorbers_[static_cast<std::size_t>(p - 1)]; }
  const Branch& branch(int n) const { return branches_[static_cast<std::size_t>(n - 1)]; }

 private:
  std::vector<Absorber> absorbers_;
  std::vector<Branch> branches_;
};

// Re-emission after the packet was absorbed in the line at list position kn in shell j.
// Resonance scattering (IOPT(2) = 0, or an effective resonance line) keeps the line;
// otherwise one draw picks the downward line of the absorbing upper level by the
// branching ratios BR(n, j), with the last line of the level when the draw exceeds
// their sum. On return kn is the emitting line and xpe its rest frequency. A chosen
// line of another species is a corrupt line table: messages, then RunError. The packet
// energy is not an argument: re-emission conserves it in the comoving frame.
void newfrq(int& kn, double& xpe, int j, const EmissionMaps& maps, const Array1<double>& frq,
            const Array2<double>& br, int iopt2, Rng& rng, OutFile& out);

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
// reached, until the drawn depth tau_r is used up by the lines and the electrons (rle
// per unit length) or the grid point at d comes first. dnu = -1/(beta nu), the path per
// unit drop of the comoving frequency.
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
  // the TAU and EJ columns. vhi: the RQ(J,4) frequency threshold [Hz].
  Transport(const McInputs& in, Boundary boundary, double vhi, Rng& rng, Estimators& est, OutFile& out);

  // Sets the packet's first reachable line, follows it from the lower boundary until
  // it falls into the core or escapes, and books its end in the estimators.
  void launch(Packet& pk);

  double beta_lb() const { return beta_lb_; }
  // US(i) = beta / XS(i), the velocity in units of c at grid point i (1-based).
  double us(int i) const { return us_[static_cast<std::size_t>(i)]; }
  long long line_passages() const { return passages_; }

 private:
  void follow(Packet& pk);
  int fly_to_boundary(Packet& pk);
  void interact(Packet& pk, double s, bool line);
  void report_cb2(const Packet& pk, int pb, double xb, double cb2);
  void report_distance(const Packet& pk, double d, double dcn, double xb);
  void report_negative_line_distance();

  const McInputs& in_;
  Boundary boundary_;
  Rng& rng_;
  Estimators& est_;
  OutFile& out_;
  EscapeBinning bins_;
  EmissionMaps maps_;
  int nx_ = 0;
  int nl_ = 0;
  int iopt2_ = 0;
  double beta_lb_ = 0;
  double vhi_ = 0;
  long long passages_ = 0;
  const double* frq_ = nullptr;  // FRQ, 0-based: frq_[k - 1] = FRQ(k), FRQ(NL+1) = 0
  std::array<double, kMaxGridPoints + 1> us_{};
  std::array<double, kMaxShells + 1> rle_{};
  std::array<const double*, kMaxShells + 1> tau_{};  // TAU column of shell j, 0-based
  std::array<double*, kMaxShells + 1> ej_{};         // EJ column of shell j, 0-based
};

}  // namespace mcspec
