// The Monte Carlo runs: packets of equal energy leave the photosphere, a black body at
// TB sampled by stratification over the inverse cumulative table (or a top-hat band),
// with the flux law mu = sqrt(r); each is followed through the ejecta, then the
// estimators are normalised and the run is scaled to the prescribed luminosity.
#include <cmath>
#include <exception>
#include <mutex>
#include <string>
#include <vector>

#include "base/errors.hpp"
#include "base/parallel.hpp"
#include "base/interrupt.hpp"
#include "montecarlo/estimators.hpp"
#include "montecarlo/transport.hpp"

namespace mcspec {

namespace {

// Packets of a black-body run: NPK, or NPK/2 (kHalf), or
// one million (kMillion).
int black_body_packets(McMode mode, int npk) {
  if (mode == McMode::kHalf) return npk / 2;
  if (mode == McMode::kMillion) return 1000000;
  return npk;
}

// Packets of the single-pass run: 20000 (kTemperaturePass), NPK/2 (kHalf), else NPK.
int top_hat_packets(McMode mode, int npk) {
  if (mode == McMode::kTemperaturePass) return 20000;
  if (mode == McMode::kHalf) return npk / 2;
  return npk;
}

// The tables a run reads and writes must match the model: the line-by-shell tables
// sized for NL lines and JS shells, the end marker of the line list in place, and the
// flow slower than light at the outer edge (otherwise a comoving frequency could fall
// to zero and the line search would run past the end marker).
void check_run_tables(const McInputs& in, const Estimators& est, double beta_lb) {
  const int nl = in.ll.nl, js = in.s.js;
  if (js < 1 || js > kMaxShells || in.s.nx != 2 * js + 1 || in.s.xs.size() < in.s.nx) {
    throw InternalError("montec: shell grid of " + std::to_string(js) + " shells is not built");
  }
  if (in.ll.frq.size() < nl + 1 || in.ll.frq(nl + 1) != 0) {
    throw InternalError("montec: the line list has no end marker FRQ(NL+1) = 0");
  }
  if (in.op.tau.rows() != nl || in.op.tau.cols() < js || est.ej.rows() != nl || est.ej.cols() < js ||
      est.eline.size() < nl) {
    throw InternalError("montec: line-by-shell tables are not sized for " + std::to_string(nl) + " lines and " +
                        std::to_string(js) + " shells");
  }
  if (in.p.kb >= 2 && in.samp.fsamp.size() < in.p.kb) {
    throw InternalError("montec: the frequency sampling table holds fewer than KB entries");
  }
  if (est.espec.size() < in.grid.kg || est.nspec.size() < in.grid.kg || in.s.logrh.size() < js ||
      in.pl.kapes.size() < js) {
    throw InternalError("montec: shell or wavelength tables are not sized");
  }
  const double v_outer = beta_lb / in.s.xs(in.s.nx);
  if (!(v_outer < 1)) {
    throw InputError("dica.dat", 6, 2,
                     "VPH / XE1 = " + std::to_string(v_outer) +
                         " c: the outer edge of the ejecta must move slower than light (lower VPH or raise XE1)");
  }
}

// MODE 4: the share of packets emitted, at every tenth of the run: interval i prints
// when 300 (i-1)/(KB-1) rounds to a multiple of 30. With more than 300 intervals two
// neighbouring intervals can round to the same tenth, and both print it.
void report_progress(int i, int kb, OutFile& out) {
  const double f = static_cast<double>(i - 1) / (kb - 1);
  const long n = std::lround(300 * f);
  if (std::fmod(n / 3.0, 10.0) == 0) out.write("(I5 2X A)", std::lround(100 * f), "%");
}

// Stratified emission: NP1/(KB-1) packets from every interval of the sampling table,
// so (KB-1) floor(NP1/(KB-1)) packets in all. Returns the mean emitted h nu / k TB
// (normalised by NP1).
double emit_black_body_packets(McMode mode, int np1, const McInputs& in, double tb, Rng& rng, Transport& tr,
                               OutFile& out) {
  const int kb = in.p.kb;
  const Constants& c = in.c;
  const double k_over_h = std::pow(10.0, c.log_k() - c.log_h());
  const double h_over_k = std::pow(10.0, c.log_h() - c.log_k());
  const double sf = in.samp.xscl * tb * k_over_h;
  double xmsum = 0;
  if (kb < 2) return xmsum;
  const int npb = np1 / (kb - 1);
  for (int i = 2; i <= kb; ++i) {
    if (mode == McMode::kLastFinalPass) report_progress(i, kb, out);
    for (int n = 1; n <= npb; ++n) {
      Packet pk = emit_black_body(rng, in.samp, i, kb, sf, tr.beta_lb());
      xmsum += pk.frl * h_over_k / tb / np1;
      stop_if_interrupted();
      tr.launch(pk);
    }
  }
  return xmsum;
}

void emit_top_hat_packets(int np1, const McInputs& in, Rng& rng, Transport& tr) {
  for (int n = 1; n <= np1; ++n) {
    Packet pk = emit_top_hat(rng, in.p.fth1, in.p.fth2, tr.beta_lb());
    stop_if_interrupted();
    tr.launch(pk);
  }
}

// The per-packet-stream runs. Packets are taken in fixed blocks of kStreamBlock by
// their index in the run (for the black body: interval by interval, as emitted by the
// single-sequence run); a block is followed on one thread into its own accumulators,
// and the blocks are added to the run's estimators in block order, so every sum is
// formed in the same order whatever the number of threads. The line estimators go to
// the fixed-point tally, whose sums do not depend on the order at all.
constexpr int kStreamBlock = 64;

struct StreamBlock {
  Estimators est;  // RQ, PW, NCNT, ESPEC, NSPEC of the block's packets
  OutFile notes = OutFile::memory("montec");  // the block's messages, in packet order
  double xmsum = 0;
  long long passages = 0;
  std::vector<IonEscape> escapes;  // with the per-ion spectrum: the block's escaped packets
  LineTally::Book book;            // the block's line passages and lines of last emission
  std::exception_ptr error;  // the block stopped at this packet's error
};

// What the packets of a run share: the emission law and the stream names.
struct StreamRun {
  Boundary boundary;
  McMode mode;
  int np1;
  int total;      // packets emitted: (KB - 1) NPB, or NP1
  int npb;        // black body: packets per interval
  std::uint32_t seed, run;
  double sf, tb, h_over_k;
  bool ions = false;  // list the escaped packets for the per-ion spectrum
  LineTally* tally = nullptr;
  std::mutex* tally_lock = nullptr;  // one thread at a time adds to the tally
};

// A block's book of line passages is added to the tally whenever it has grown to this
// many flights (integer sums: when they are added does not matter), so that the memory
// of a thread stays small however many lines a packet passes.
constexpr std::size_t kBookFlights = 1 << 15;

void add_book(const StreamRun& r, LineTally::Book& book) {
  const std::lock_guard<std::mutex> lock(*r.tally_lock);
  r.tally->add(book);
  book.clear();
}

void add_block(Estimators& est, const StreamBlock& blk, int js, int kg) {
  for (int j = 1; j <= js; ++j) {
    for (int c = 1; c <= kEstimatorCols; ++c) est.rq(j, c) += blk.est.rq(j, c);
  }
  for (int i = 2; i <= 5; ++i) est.pw(i) += blk.est.pw(i);
  for (int i = 1; i <= 10; ++i) est.ncnt(i) += blk.est.ncnt(i);
  for (int b = 1; b <= kg; ++b) {
    est.espec(b) += blk.est.espec(b);
    est.nspec(b) += blk.est.nspec(b);
  }
}

// Follows the packets of block b: each from its own stream, named by the seed, the
// run and its index.
void follow_block(const StreamRun& r, int b, const McInputs& in, Transport& tr, StreamBlock& blk) {
  Estimators& e = blk.est;
  std::fill(e.rq.data(), e.rq.data() + static_cast<std::size_t>(e.rq.rows()) * e.rq.cols(), 0.0);
  e.pw.fill(0.0);
  e.ncnt.fill(0);
  e.espec.fill(0.0);
  e.nspec.fill(0);
  blk.notes = OutFile::memory("montec");
  blk.xmsum = 0;
  blk.error = nullptr;
  blk.escapes.clear();
  blk.book.clear();
  Rng rng;
  tr.bind(rng, e, blk.notes, &blk.book);
  tr.list_escapes(r.ions ? &blk.escapes : nullptr);
  const long long before = tr.line_passages();
  const int first = b * kStreamBlock;
  const int last = std::min(first + kStreamBlock, r.total);
  try {
    for (int idx = first; idx < last; ++idx) {
      stop_if_interrupted();
      rng = Rng::packet_stream(r.seed, r.run, static_cast<std::uint64_t>(idx));
      Packet pk;
      if (r.boundary == Boundary::TopHat) {
        pk = emit_top_hat(rng, in.p.fth1, in.p.fth2, tr.beta_lb());
      } else {
        const int i = 2 + idx / r.npb;
        if (r.mode == McMode::kLastFinalPass && idx % r.npb == 0) report_progress(i, in.p.kb, blk.notes);
        pk = emit_black_body(rng, in.samp, i, in.p.kb, r.sf, tr.beta_lb());
        blk.xmsum += pk.frl * r.h_over_k / r.tb / r.np1;
      }
      tr.launch(pk);
      if (blk.book.flights.size() >= kBookFlights) add_book(r, blk.book);
    }
    // Integer sums: the block's lines go to the tally now, on this thread, not at the
    // ordered merge (which holds up the claiming of blocks while it works).
    add_book(r, blk.book);
  } catch (...) {
    blk.error = std::current_exception();
  }
  blk.passages = tr.line_passages() - before;
}

// The packets of a run on the configured threads; returns XM.
double run_streams(Boundary boundary, McMode mode, int np1, const McInputs& in, double tb, Estimators& est,
                   Transport& proto, OutFile& out, std::vector<IonEscape>& escapes) {
  const int kb = in.p.kb;
  StreamRun r{boundary, mode, np1, np1, 0, static_cast<std::uint32_t>(in.p.iseed), 0, 0, tb, 0};
  // The stream key: the run's ordinal number in the program run, the boundary and the mode.
  r.run = (static_cast<std::uint32_t>(est.runs) << 8) | (boundary == Boundary::TopHat ? 0x80u : 0u) |
          (static_cast<std::uint32_t>(mode) & 0x7fu);
  r.ions = est.ions.enabled;
  std::mutex tally_lock;
  r.tally = &est.tally;
  r.tally_lock = &tally_lock;
  if (boundary == Boundary::BlackBody) {
    if (kb < 2) return 0;
    r.npb = np1 / (kb - 1);
    r.total = (kb - 1) * r.npb;
    r.sf = in.samp.xscl * tb * std::pow(10.0, in.c.log_k() - in.c.log_h());
    r.h_over_k = std::pow(10.0, in.c.log_h() - in.c.log_k());
    if (r.total == 0 && mode == McMode::kLastFinalPass) {
      for (int i = 2; i <= kb; ++i) report_progress(i, kb, out);
    }
  }
  const int threads = in.par.threads;
  const int blocks = (r.total + kStreamBlock - 1) / kStreamBlock;
  // Up to eight blocks per thread in flight, so that a thread held up (by the other
  // work of the machine) stalls the others only after that many blocks; a block's
  // storage is small, its book of line passages being added to the tally as it grows.
  const int slots = 8 * std::max(1, std::min(threads, std::max(blocks, 1)));
  std::vector<StreamBlock> store(static_cast<std::size_t>(std::min(slots, std::max(blocks, 1))));
  for (StreamBlock& blk : store) {
    blk.est.rq.assign(kEstimatorRows, kEstimatorCols);
    blk.est.pw.assign(5);
    blk.est.ncnt.assign(10);
    blk.est.espec.assign(in.grid.kg);
    blk.est.nspec.assign(in.grid.kg);
  }
  std::vector<Transport> workers(static_cast<std::size_t>(std::max(1, std::min(threads, std::max(blocks, 1)))), proto);
  double xmsum = 0;
  long long passages = 0;
  ordered_blocks(
      blocks, threads, static_cast<int>(store.size()),
      [&](int b, int slot, int w) {
        follow_block(r, b, in, workers[static_cast<std::size_t>(w)], store[static_cast<std::size_t>(slot)]);
      },
      [&](int, int slot) {
        StreamBlock& blk = store[static_cast<std::size_t>(slot)];
        if (!blk.notes.text().empty()) out.write_text(blk.notes.text());
        if (blk.error) std::rethrow_exception(blk.error);
        add_block(est, blk, in.s.js, in.grid.kg);
        escapes.insert(escapes.end(), blk.escapes.begin(), blk.escapes.end());
        xmsum += blk.xmsum;
        passages += blk.passages;
      });
  est.line_passages = passages;
  est.tally.to_estimators(est, threads);
  return xmsum;
}

// US(i) of the transport as a 1-based table for the report.
std::array<double, kMaxGridPoints + 1> grid_velocities(const Transport& tr, int nx) {
  std::array<double, kMaxGridPoints + 1> us{};
  for (int i = 1; i <= nx; ++i) us[static_cast<std::size_t>(i)] = tr.us(i);
  return us;
}

// What both runs share: start message, cleared estimators, the packets of the chosen
// boundary, the run end.
void run_monte_carlo(Boundary boundary, McMode mode, int irf, const McInputs& in, Rng& rng, Estimators& est,
                     Scaling& sc, McOutput& o) {
  const bool top_hat = boundary == Boundary::TopHat;
  o.out.write("(/ 5X 'Start Monte Carlo')");
  const double beta_lb = in.p.vph * 1e5 / std::pow(10.0, in.c.log_c());
  check_run_tables(in, est, beta_lb);
  clear_estimators(est, in.ll.nl, in.s.js);
  const int np1 = top_hat ? top_hat_packets(mode, in.p.npk) : black_body_packets(mode, in.p.npk);
  est.pw(1) = np1;

  // RQ(J,4) collects the intensity above 5 k TB / h (the Wien tail of the boundary's
  // black body); a top-hat run has no such scale and counts every crossing.
  const double vhi = top_hat ? 0.0 : 5 * sc.tb * std::pow(10.0, in.c.log_k() - in.c.log_h());
  ++est.runs;
  const bool streams = in.par.streams;
  if (streams) {
    est.tally.reset(est, in.ll.nl, in.s.js);
    form_depth_sums(in.op.tau, in.ll.nl, in.s.js, est.depth_sums, in.par.threads);
  }
  Transport tr(in, boundary, vhi, rng, est, o.out, streams ? &est.tally : nullptr);
  std::vector<IonEscape> escapes;  // the per-ion spectrum's escaped packets, in packet order
  if (est.ions.enabled && !streams) tr.list_escapes(&escapes);
  double xm = 0;
  if (streams) {
    xm = run_streams(boundary, mode, np1, in, sc.tb, est, tr, o.out, escapes);
    if (!top_hat) est.xm = xm;
  } else if (top_hat) {
    emit_top_hat_packets(np1, in, rng, tr);
  } else {
    xm = emit_black_body_packets(mode, np1, in, sc.tb, rng, tr, o.out);
    est.xm = xm;
  }
  if (!streams) est.line_passages = tr.line_passages();
  if (est.ions.enabled) est.ions.set_run(escapes);

  const auto us = grid_velocities(tr, in.s.nx);
  const RunSummary run{top_hat, mode, irf, np1, xm, us.data()};
  finish_run(run, in, est, sc, o);
}

}  // namespace

void run_monte_carlo(McMode mode, int irf, const McInputs& in, Rng& rng, Estimators& est, Scaling& sc, McOutput& o) {
  run_monte_carlo(Boundary::BlackBody, mode, irf, in, rng, est, sc, o);
}

void run_single_pass(McMode mode, int irf, const McInputs& in, Rng& rng, Estimators& est, Scaling& sc, McOutput& o) {
  run_monte_carlo(Boundary::TopHat, mode, irf, in, rng, est, sc, o);
}

}  // namespace mcspec
