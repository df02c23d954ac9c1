// Monte Carlo estimators. Counting packet crossings of a sphere weighted by 1/|mu|
// estimates the angle-integrated intensity there; the moments are normalised by the
// lab-frame net flux of the outermost shell, so that RQ(J,1) becomes the mean
// intensity in units of that flux times (R/r)^2 and the escaping flux is 1.
#include "montecarlo/estimators.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include "base/errors.hpp"
#include "montecarlo/scale.hpp"

namespace mcspec {

namespace {

// Mean h nu / k T of packets of equal energy drawn from a black body (weighted by
// x^3/(e^x-1)): <x> = (integral x^4/(e^x-1) dx) / (integral x^3/(e^x-1) dx) = 4 zeta(5)/zeta(4).
constexpr double kBlackBodyMeanX = 3.8322295;

void report_counters(const RunSummary& run, const Estimators& est, McOutput& o) {
  const double ecc = (est.pw(3) - est.pw(5) - est.pw(1)) / est.pw(1);
  const char* check =
      run.top_hat ? "(/ 9X 'En consv' ' check' D12.3 / /)" : "(/ 9X 'En consv.' ' check' D12.3 / /)";
  o.out.write(check, ecc);
  o.stst.write(check, ecc);
  o.stst.write("(6X 'NPK' 8X 'ABS' 6X 'ESC' 6X 'event' 6X 'no event' 12X 'out of rg')");
  o.stst.write("(/ 7I10 /)", run.np1, est.ncnt(1), est.ncnt(2), est.ncnt(3), est.ncnt(4), est.ncnt(5),
               est.ncnt(6));
  const char* pkts = "(/ 25X 'No. pkts   =' I8 / 25X 'Esc to inf =' I8 / 25X 'No line ev =' I8)";
  o.out.write(pkts, run.np1, est.ncnt(2), est.ncnt(6));
  o.stst.write(pkts, run.np1, est.ncnt(2), est.ncnt(6));
}

template <class Count>
void write_shell(OutFile& stst, const char* fmt, const Estimators& est, int j, double us, Count crossings) {
  stst.write(fmt, est.rq(j, 1), est.rq(j, 2), est.rq(j, 3), est.rq(j, 4), est.rq(j, 5), est.rq(j, 8), us, j,
             crossings);
}

// Divides the moments by the outer lab-frame flux RQ(JS,5) (CL = 1/RQ(JS,5)) and scales
// the mean-intensity moments by x^2/4 (x = R/r at the mid-point), so that they read as
// J relative to the escaping flux; columns 4 and 8 become averages over the intensity,
// column 10 sqrt(sum w^2) / sum w, the relative standard error of such an average per
// unit relative spread of the averaged quantity.
// Writes one record per shell.
void normalise_shells(const RunSummary& run, const McInputs& in, Estimators& est, double cl, OutFile& stst) {
  const char* fmt =
      run.top_hat ? "(3F9.5 E11.3 F10.5 E11.3 F9.4 I4 I8)" : "(3F9.5 E11.3 F10.5 E11.3 F9.4 I4 ES10.3)";
  for (int j = 1; j <= in.s.js; ++j) {
    const double x = in.s.xs(2 * j);
    const double r1 = est.rq(j, 1);
    const double g = 0.25 * cl * (x * x);
    est.rq(j, 4) = est.rq(j, 4) / r1;
    est.rq(j, 8) = est.rq(j, 8) / r1;
    est.rq(j, 10) = std::sqrt(est.rq(j, 10)) / r1;  // 1 / sqrt(effective number of crossings)
    est.rq(j, 2) = est.rq(j, 2) * cl;
    est.rq(j, 1) = r1 * g;
    est.rq(j, 3) = est.rq(j, 3) * g;
    est.rq(j, 5) = est.rq(j, 5) * cl;
    const double us = run.us[2 * j];
    if (run.top_hat) {
      write_shell(stst, fmt, est, j, us, static_cast<long long>(est.rq(j, 9)));
    } else {
      write_shell(stst, fmt, est, j, us, est.rq(j, 9));
    }
  }
}

}  // namespace

void Estimators::allocate(int nl, int js, int kg) {
  if (js < 1 || js > kMaxShells) {
    throw InputError("dica.dat", 4, 1,
                     "JS = " + std::to_string(js) + " shells: expected 1 to " + std::to_string(kMaxShells));
  }
  if (kg < 1 || kg > kMaxBins) {
    throw InputError("dica.dat", 16, 3,
                     "KG = " + std::to_string(kg) + " wavelength bins: expected 1 to " + std::to_string(kMaxBins));
  }
  if (nl < 0 || nl > kMaxLines) {
    throw RunError(std::to_string(nl) + " lines kept: the line tables hold at most " + std::to_string(kMaxLines));
  }
  rq.assign(kEstimatorRows, kEstimatorCols);
  pw.assign(5);
  ncnt.assign(10);
  ej.assign(nl, js);
  eline.assign(nl);
  espec.assign(kg);
  nspec.assign(kg);
}

void clear_estimators(Estimators& est, int nl, int js) {
  std::fill(est.espec.vec().begin(), est.espec.vec().end(), 0.0);
  std::fill(est.nspec.vec().begin(), est.nspec.vec().end(), 0);
  std::fill(est.ncnt.vec().begin(), est.ncnt.vec().end(), 0);
  std::fill(est.pw.vec().begin(), est.pw.vec().end(), 0.0);
  std::fill(est.rq.data(), est.rq.data() + static_cast<std::size_t>(est.rq.rows()) * est.rq.cols(), 0.0);
  if (nl > 0) {
    std::fill(est.eline.data(), est.eline.data() + nl, 0.0);
    std::fill(est.ej.data(), est.ej.data() + static_cast<std::size_t>(nl) * static_cast<std::size_t>(js), 0.0);
  }
  est.line_passages = 0;
}

EscapeBinning::EscapeBinning(const WavelengthGrid& g, const Params& p, const Constants& c)
    : kg(g.kg),
      wlb1(g.kg > 0 ? g.wlb(1) : 0),
      dwl(g.dwl),
      log_c(c.log_c()),
      c_ang(std::pow(10.0, c.log_c() + 8)),
      wv1v(p.wv1v),
      wv2v(p.wv2v) {}

int EscapeBinning::bin(double frl) const {
  // Truncated in floating point first, so that no frequency (0, infinite, not a
  // number) can overflow the integer conversion.
  const double b = std::trunc((4 - wlb1 - std::log10(frl) + log_c) / dwl + 1);
  return (b >= 1 && b <= kg) ? static_cast<int>(b) : 0;
}

void packet_end(Estimators& est, const EscapeBinning& bins, bool escaped, double frl, double ep, int knlast,
                int lineflag) {
  est.pw(3) += ep;
  if (!escaped) {
    est.ncnt(1) += 1;
    return;
  }
  est.ncnt(2) += 1;
  if (lineflag == 1) {
    est.ncnt(3) += 1;
  } else {
    est.ncnt(4) += 1;
    est.ncnt(6) += 1;
  }
  est.pw(2) += ep;
  if (knlast != 0) est.eline(knlast) += ep;
  const int ib = bins.bin(frl);
  if (ib == 0) {
    est.ncnt(5) += 1;
    return;
  }
  est.nspec(ib) += 1;
  est.espec(ib) += ep;
  const double lambda = bins.c_ang / frl;  // vacuum wavelength [Angstrom]
  if (bins.wv1v < lambda && lambda < bins.wv2v) est.pw(4) += ep;
}

void finish_run(const RunSummary& run, const McInputs& in, Estimators& est, Scaling& sc, McOutput& o) {
  if (run.top_hat) {
    o.out.write("(/ 5X 'Finish ' 'Monte ' 'Carlo')");
  } else {
    o.out.write("(/ 5X 'XM =' F9.6 4X 'FRE =' D10.2)", run.xm, (run.xm - kBlackBodyMeanX) / kBlackBodyMeanX);
  }
  report_counters(run, est, o);

  const bool last_pass = run.irf == in.p.itt && (!run.top_hat || run.mode == McMode::kFinalPass);
  if (last_pass) write_strong_lines(in, o.sbib);

  const int js = in.s.js;
  o.stst.list(" PW(2)= ", est.pw(2), " RQ(JS,5)= ", est.rq(js, 5));
  // CL normalises to the escaping flux; CLP is the boundary flux (TB/T*)^4 per packet.
  const double tstar = std::pow(10.0, in.p.logteff);
  const double cl = 1 / est.rq(js, 5);
  const double clp = std::pow(sc.tb / tstar, 4) / run.np1;
  est.flxout = est.rq(js, 5) / run.np1;
  o.stst.list(" TB=", sc.tb, " CLP=", clp, " CL=", cl);
  est.rq(kEstimatorRows, 5) = est.rq(js, 5) * clp;

  o.stst.write("(/ 5X 'JP' 7X 'LP' 7X 'KP' 8X 'KJ' 9X 'L' 8X 'NUJ' 8X 'BT' 8X 'NPK' /)");
  normalise_shells(run, in, est, cl, o.stst);
  o.stst.write("(F48.5)", est.rq(kEstimatorRows, 5));
  o.out.write("(/ 5X 'Finish ' 'Monte ' 'Carlo')");

  if (run.top_hat) {
    scale_luminosity_top_hat(run.np1, in, est, sc, o);
  } else {
    scale_luminosity(run.np1, in, est, sc, o);
  }
  // write_escaping_spectrum of the single-pass run is write_escaping_spectrum itself: same files, formats, messages.
  write_escaping_spectrum(run.irf, in, est, sc, o);
}

}  // namespace mcspec
