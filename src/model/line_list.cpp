// Line list: reads the lines of every included ion and keeps those that matter for
// this ejecta. A line is kept when its largest Sobolev optical depth over the shells,
//   tau = (pi e^2 / m_e c) gf lambda t n_ion (g_l/U) exp(-E_l hc/kTR) [W],
// exceeds tau_g, when it is the strongest line (largest gf) of its upper or lower
// level, or when it is a helium line. Kept lines get nu [Hz], A_ul [s^-1] and
// B_lu = A_ul g_u / (g_l 2 h nu^3 / c^2).
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/errors.hpp"
#include "model/ion_blocks.hpp"
#include "model/line_list.hpp"
#include "base/text.hpp"

namespace mcspec {
namespace {

constexpr int kMaxLineBlocks = 1000;
constexpr double kPiE2OverMeC = 0.02654;    // pi e^2 / (m_e c) [cm^2 s^-1]
constexpr double kEinsteinA = 6.67e7;       // A_ul = 6.67e7 gf / (g_u lambda^2), lambda in micron
constexpr double kNoLine = -99.0;           // log gf below any real line
constexpr const char* kTooManyLines = "Too many lines - check TAU limit!";

// The raw entries of one ion block: level fields (the sign is a flag) and log gf.
// Sized to the largest block met and reused.
struct LineBlock {
  std::vector<int> up, lo;
  std::vector<double> loggf;
  long first_record = 0;  // record number of the first data record
  long record_of(int i) const { return first_record + i / 4; }  // i counts from 0
  int field_of(int i, int which) const { return (i % 4) * 3 + which; }
};

// The kept lines in transition order; lines beyond the table's capacity are counted
// only.
struct KeptLines {
  long count = 0;
  std::vector<double> frql, loggf, zcode, aul, blu, taumax, elowt;
  std::vector<int> lup, llo;
};

// Per-level work storage of one ion, over its N retained levels (index 1..N).
struct LevelWork {
  std::vector<double> best_up_gf, best_lo_gf;  // largest log gf with the level as upper / lower level
  std::vector<int> best_up, best_lo;           // entry (1-based) of that line, 0: none
  std::vector<double> column;                  // column(l, k): the line-independent part of tau
  std::vector<double> column_max;              // max over shells of column(l, k)
  int js = 0;
  double& col(int l, int k) { return column[static_cast<std::size_t>(l - 1) * static_cast<std::size_t>(js) + static_cast<std::size_t>(k - 1)]; }
};

// Four entries (upper, lower, log gf) per record; a short last record reads its
// missing entries as zeros.
void read_entries(InFile& varn2, int nlines, LineBlock& b) {
  const Format fmt("(4(2I6, F8.3))");
  b.up.resize(static_cast<std::size_t>(nlines));
  b.lo.resize(static_cast<std::size_t>(nlines));
  b.loggf.resize(static_cast<std::size_t>(nlines));
  b.first_record = varn2.record_number() + 1;
  std::array<int, 4> up{}, lo{};
  std::array<double, 4> gf{};
  const InItem items[] = {up[0], lo[0], gf[0], up[1], lo[1], gf[1], up[2], lo[2], gf[2], up[3], lo[3], gf[3]};
  for (int i = 0; i < nlines; i += 4) {
    fmt.read(varn2, items);
    for (int q = 0; q < 4 && i + q < nlines; ++q) {
      const auto e = static_cast<std::size_t>(i + q);
      b.up[e] = up[static_cast<std::size_t>(q)];
      b.lo[e] = lo[static_cast<std::size_t>(q)];
      b.loggf[e] = gf[static_cast<std::size_t>(q)];
    }
  }
}

// Level numbers count the ion's stored levels from 1; anything else would address
// the levels of another ion.
void check_level_numbers(const LineBlock& b, int nlines, int nstored, const std::string& ion, const std::string& file) {
  for (int i = 0; i < nlines; ++i) {
    const auto e = static_cast<std::size_t>(i);
    for (int which = 1; which <= 2; ++which) {
      const int level = std::abs(which == 1 ? b.up[e] : b.lo[e]);
      if (level < 1 || level > nstored)
        throw InputError(file, b.record_of(i), b.field_of(i, which),
                         "level number " + std::to_string(level) + " of " + ion + " is outside 1.." +
                             std::to_string(nstored) + ", the levels stored for this ion");
    }
  }
}

// Counts fixed for three ions, bounded by what the data hold: NLEV of He I, He II and
// Si I, and the number of Si I lines used.
int apply_count_overrides(int z, int j, int nlines, Atoms& a) {
  auto bounded = [&](int count) { return std::min(count, a.stored_levels(z, j)); };
  if (z == 14 && j == 1) {
    a.nlev(14, 1) = bounded(803);
    return std::min(nlines, 6795);
  }
  if (z == 2 && j == 1) a.nlev(2, 1) = bounded(737);
  if (z == 2 && j == 2) a.nlev(2, 2) = bounded(13);
  return nlines;
}

// A line takes part when both of its levels are among the ion's retained levels.
bool candidate(const LineBlock& b, int i, int n) {
  const auto e = static_cast<std::size_t>(i);
  return std::abs(b.up[e]) <= n && std::abs(b.lo[e]) <= n;
}

// The strongest line (largest log gf, the earlier one on ties) of every retained
// level, as upper and as lower level.
void find_strongest_lines(const LineBlock& b, int nlines, int n, LevelWork& lw) {
  lw.best_up_gf.assign(static_cast<std::size_t>(n + 1), kNoLine);
  lw.best_lo_gf.assign(static_cast<std::size_t>(n + 1), kNoLine);
  lw.best_up.assign(static_cast<std::size_t>(n + 1), 0);
  lw.best_lo.assign(static_cast<std::size_t>(n + 1), 0);
  for (int i = 0; i < nlines; ++i) {
    if (!candidate(b, i, n)) continue;
    const auto e = static_cast<std::size_t>(i);
    const auto u = static_cast<std::size_t>(std::abs(b.up[e]));
    const auto l = static_cast<std::size_t>(std::abs(b.lo[e]));
    if (b.loggf[e] > lw.best_up_gf[u]) {
      lw.best_up_gf[u] = b.loggf[e];
      lw.best_up[u] = i + 1;
    }
    if (b.loggf[e] > lw.best_lo_gf[l]) {
      lw.best_lo_gf[l] = b.loggf[e];
      lw.best_lo[l] = i + 1;
    }
  }
}

// Everything of tau(line, shell) but the line's own factor s = (pi e^2/m_e c) gf / nu
// depends only on the lower level l and the shell k:
//   column(l, k) = t n_el(k) f_ion(k) / U(k) exp(-|E_l| hc/kTR(k)) [x W(k) if E_l > 0].
// Precomputed once per ion for its N retained levels, so a line costs one multiply.
void fill_level_columns(const Params& p, double c2, const Shells& s, const Plasma& pl, const Atoms& a, int z, int j,
                        int n, LevelWork& lw) {
  lw.js = s.js;
  lw.column.assign(static_cast<std::size_t>(n) * static_cast<std::size_t>(s.js), 0.0);
  lw.column_max.assign(static_cast<std::size_t>(n + 1), 0.0);
  std::vector<double> ion_column(static_cast<std::size_t>(s.js + 1));
  for (int k = 1; k <= s.js; ++k)
    ion_column[static_cast<std::size_t>(k)] = p.tday * pl.nelem(z, k) * pl.fion(j, z, k) / pl.pf(k, z, j);
  const int i0 = a.lev1(z, j) - 1;
  for (int l = 1; l <= n; ++l) {
    const double e = a.elev(i0 + l);
    double cmax = 0.0;
    for (int k = 1; k <= s.js; ++k) {
      double v = ion_column[static_cast<std::size_t>(k)] * std::exp(-std::fabs(e) * c2 / s.tr(k));
      if (e > 0.0) v *= s.w(k);
      lw.col(l, k) = v;
      if (v > cmax) cmax = v;
    }
    lw.column_max[static_cast<std::size_t>(l)] = cmax;
  }
}

// Largest tau over the shells, starting from 0. For s > 0 the product is monotonic
// in the column, so the largest column gives the largest tau exactly; a line with
// nu <= 0 (s not positive and finite) is evaluated shell by shell.
double largest_depth(double s, int l, LevelWork& lw) {
  if (s > 0.0 && std::isfinite(s)) return s * lw.column_max[static_cast<std::size_t>(l)];
  double tmax = 0.0;
  for (int k = 1; k <= lw.js; ++k) {
    const double t = s * lw.col(l, k);
    if (t > tmax) tmax = t;
  }
  return tmax;
}

struct LineConstants {
  double log_c, log_h;
  double c;      // speed of light [cm/s]
  double c_um;   // [micron/s]
  double c2;     // hc/k [cm K]
};

// Censors the first nlines entries of an ion's block; returns the number kept.
int censor_block(const Params& p, const LineConstants& lc, const Shells& s, const Plasma& pl, const Atoms& a,
                 int z, int j, const LineBlock& b, int nlines, LevelWork& lw, KeptLines& kept, const std::string& file) {
  const int n = a.nlev(z, j);
  find_strongest_lines(b, nlines, n, lw);
  fill_level_columns(p, lc.c2, s, pl, a, z, j, n, lw);
  const double taug = std::pow(10.0, p.logtaug);
  const int i0 = a.lev1(z, j) - 1;
  const double zcode = z + 0.01 * (j - 1);
  int nkept = 0;
  for (int i = 0; i < nlines; ++i) {
    if (!candidate(b, i, n)) continue;
    const auto e = static_cast<std::size_t>(i);
    const int ua = std::abs(b.up[e]), la = std::abs(b.lo[e]);
    const int u = ua + i0, l = la + i0;
    const double nu = lc.c * (std::fabs(a.elev(u)) - std::fabs(a.elev(l)));
    // A line whose upper level does not lie above its lower one has no frequency: its
    // Einstein B and every rate built on it would be NaN.
    if (!(nu > 0.0))
      throw InputError(file, b.record_of(i), b.field_of(i, 1),
                       "line " + std::to_string(ua) + " -> " + std::to_string(la) + " of " + a.ion_label(z, j) +
                           ": the upper level (" + text_of(a.elev(u)) + " cm^-1 in the level file) does not lie above the lower level (" +
                           text_of(a.elev(l)) + " cm^-1)");
    const double sline = kPiE2OverMeC * std::pow(10.0, b.loggf[e] + lc.log_c) / nu;
    const double taumax = largest_depth(sline, la, lw);
    const bool keep = taumax > taug || lw.best_up[static_cast<std::size_t>(ua)] == i + 1 ||
                      lw.best_lo[static_cast<std::size_t>(la)] == i + 1 || z == 2;
    if (!keep) continue;
    ++nkept;
    ++kept.count;
    if (kept.count > kMaxLines) continue;  // counted for the capacity message only
    const double gu = 2.0 * a.xj(u) + 1.0, gl = 2.0 * a.xj(l) + 1.0;
    const double lambda_um = std::pow(10.0, 4.0 + lc.log_c) / nu;
    const double aul = kEinsteinA * std::pow(10.0, b.loggf[e]) / (gu * lambda_um * lambda_um);
    const double blu = aul * gu / (gl * 2.0 * std::pow(10.0, 3.0 * std::log10(nu) + lc.log_h - 2.0 * lc.log_c));
    if (!(std::isfinite(aul) && std::isfinite(blu)))
      throw InputError(file, b.record_of(i), b.field_of(i, 3),
                       "line " + std::to_string(ua) + " -> " + std::to_string(la) + " of " + a.ion_label(z, j) +
                           ": log gf " + text_of(b.loggf[e]) + " gives Einstein coefficients beyond the double range");
    kept.frql.push_back(nu);
    kept.loggf.push_back(b.loggf[e]);
    kept.llo.push_back(b.lo[e] < 0 ? -l : l);
    kept.lup.push_back(b.up[e] < 0 ? -u : u);
    kept.zcode.push_back(zcode);
    kept.taumax.push_back(taumax);
    kept.elowt.push_back(a.elev(l));
    kept.aul.push_back(aul);
    kept.blu.push_back(blu);
  }
  return nkept;
}

template <class T>
void move_into(Array1<T>& table, std::vector<T>& v) {
  v.shrink_to_fit();
  table.vec() = std::move(v);
}

void store_line_table(KeptLines& kept, const Atoms& a, LineList& ll) {
  ll.nl = static_cast<int>(kept.count);
  move_into(ll.frql, kept.frql);
  move_into(ll.loggf, kept.loggf);
  move_into(ll.zcode, kept.zcode);
  move_into(ll.lup, kept.lup);
  move_into(ll.llo, kept.llo);
  move_into(ll.aul, kept.aul);
  move_into(ll.blu, kept.blu);
  move_into(ll.taumax, kept.taumax);
  move_into(ll.elowt, kept.elowt);
  ll.nlevels = a.nlvtot;
}

}  // namespace

void read_line_list(const Params& p, const Constants& c, const Shells& s, const Plasma& pl, Atoms& a, LineList& ll,
           InFile& varn2, OutFile& out, OutFile& stst, OutFile& sbib, OutFile& lhea) {
  out.write("(/ 5X 'Read & censor' ' line list' /)");
  const LineConstants lc{c.log_c(), c.log_h(), std::pow(10.0, c.log_c()), std::pow(10.0, 4.0 + c.log_c()),
                         std::pow(10.0, c.log_h() + c.log_c() - c.log_k())};
  const std::string& file = varn2.source_name();
  LineBlock block;
  LevelWork lw;
  KeptLines kept;
  std::vector<int> iln1{1};
  a.nion = 0;

  for (int nblock = 1; nblock <= kMaxLineBlocks; ++nblock) {
    const IonBlockHeader h = read_ion_block_header(
        varn2, 2, nblock - 1, "line", kMaxBlockLines,
        "expected a number of lines between 0 and " + std::to_string(kMaxBlockLines) + " (one ion block)");
    read_entries(varn2, h.count, block);
    const bool last = h.z == kLastBlockZ && h.stage == kLastBlockStage;
    if (a.ionflag(h.z, h.stage) == 0) {
      if (last) break;
      continue;
    }
    const std::string ion = a.ion_label(h.z, h.stage);
    const int nlines = apply_count_overrides(h.z, h.stage, h.count, a);
    const int nstored = a.stored_levels(h.z, h.stage);
    check_level_numbers(block, nlines, nstored, ion, file);
    if (a.nlev(h.z, h.stage) > kMaxBookkeepingLevels)
      throw InputError(file, h.record, 0,
                       ion + " has " + std::to_string(a.nlev(h.z, h.stage)) + " retained levels; the line selection handles at most " +
                           std::to_string(kMaxBookkeepingLevels) + " levels per ion");
    int nkept = 0;
    if (nstored > 0) {
      const double e1 = a.elev(a.lev1(h.z, h.stage));
      if (e1 != 0.0)
        throw RunError("the first level of " + ion + " has energy " + text_of(e1) +
                       " cm^-1; the line list needs the ground level at exactly 0");
      nkept = censor_block(p, lc, s, pl, a, h.z, h.stage, block, nlines, lw, kept, file);
    }
    out.write("( 8X A3 A5 5X 'No. of lines =' I6 3X 'Included =' I6 )", a.elsym[static_cast<std::size_t>(h.z)],
              a.stlab[static_cast<std::size_t>(h.stage)], nlines, nkept);
    if (nkept > 0) {
      if (a.nion == kMaxIonsWithLines)
        throw InputError(file, h.record, 0,
                         "more than " + std::to_string(kMaxIonsWithLines) + " ions have lines, the capacity of the ion list");
      ++a.nion;
      a.ionz(a.nion) = h.z;
      a.ionj(a.nion) = h.stage;
      iln1.push_back(static_cast<int>(std::min<long>(kept.count, kMaxLines)) + 1);
    }
    if (last) break;
  }

  const char* summary = "( / 5X 'No. of ions =' I4 12X 'Total No. ' 'Included =' I6 / )";
  const long nl = kept.count;
  out.write(summary, a.nion, nl);
  stst.write(summary, a.nion, nl);
  sbib.write(summary, a.nion, nl);
  if (nl > kMaxLines) {
    out.list(kTooManyLines);
    throw RunError(kTooManyLines);
  }
  store_line_table(kept, a, ll);
  ll.iln1.vec() = std::move(iln1);
  order_lines_by_frequency(c, ll, out, stst, lhea);
}

}  // namespace mcspec
