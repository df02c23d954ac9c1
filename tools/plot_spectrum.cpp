// plot_spectrum: draws the observed-flux spectrum of a run ("spct.dat") as an SVG picture:
// the formal-integral and the Monte Carlo spectrum with the black-body comparison
// (flux density F_lambda at the object's distance, erg s^-1 cm^-2 A^-1, against air
// wavelength in A), and the Balmer lines H-alpha..H-delta marked at their rest
// wavelengths, so that P-Cygni emission peaks and blueshifted troughs can be read off.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/errors.hpp"
#include "common/io.hpp"
#include "hydrogenic.hpp"  // beside this file

namespace fs = std::filesystem;
using mcspec::InFile;
using mcspec::InItem;
using mcspec::InputError;

namespace {

// One record of spct.dat: wavelength [A, air], then F_lambda: smoothed formal
// integral, the same reddened, smoothed Monte Carlo, the same reddened, reddened black
// body.
struct SpectrumRow {
  double wave, formal, formal_red, mc, mc_red, bb_red;
};

std::vector<SpectrumRow> read_spectrum(const fs::path& path) {
  InFile f;
  f.open(path.string(), "spectrum (spct.dat)");
  std::vector<SpectrumRow> rows;
  SpectrumRow r{};
  while (true) {
    const InItem items[] = {InItem(r.wave), InItem(r.formal), InItem(r.formal_red),
                            InItem(r.mc),   InItem(r.mc_red), InItem(r.bb_red)};
    if (!f.read_list_or_end(items)) break;
    if (!rows.empty() && !(r.wave > rows.back().wave))
      throw InputError(path.string(), f.record_number(), 1, "wavelengths must increase from record to record");
    rows.push_back(r);
  }
  if (rows.size() < 2)
    throw InputError(path.string(), 0, 0,
                     "holds fewer than two spectrum records: was the wavelength grid (KG >= 7, WVM1..WVM2) usable?");
  return rows;
}

std::string num(double v, int decimals) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
  return buf;
}

// An integer with a typographic minus sign.
std::string signed_text(int v) { return (v < 0 ? "\xe2\x88\x92" : "") + std::to_string(v < 0 ? -v : v); }

// Escapes the characters that XML gives a meaning.
std::string xml_text(const std::string& s) {
  std::string t;
  for (char ch : s) {
    if (ch == '&') t += "&amp;";
    else if (ch == '<') t += "&lt;";
    else if (ch == '>') t += "&gt;";
    else if (ch == '"') t += "&quot;";
    else t += ch;
  }
  return t;
}

// A tick step of 1, 2, 2.5 or 5 times a power of ten that cuts span into about
// `target` intervals.
double nice_step(double span, int target) {
  const double raw = span / target;
  const double p = std::pow(10.0, std::floor(std::log10(raw)));
  for (double m : {1.0, 2.0, 2.5, 5.0, 10.0})
    if (m * p >= raw) return m * p;
  return 10.0 * p;
}

int decimals_for(double step) {
  int d = 0;
  while (d < 6 && std::fabs(step * std::pow(10.0, d) - std::round(step * std::pow(10.0, d))) > 1e-6) ++d;
  return d;
}

struct Frame {
  double width = 980, height = 620;
  double left = 100, right = 30, top = 70, bottom = 75;
  double x0, x1, y0, y1;  // data ranges
  double px(double x) const { return left + (x - x0) / (x1 - x0) * (width - left - right); }
  double py(double y) const { return height - bottom - (y - y0) / (y1 - y0) * (height - top - bottom); }
};

// A polyline through the finite points inside the frame; a non-finite value breaks it.
std::string polyline(const Frame& fr, const std::vector<SpectrumRow>& rows, double SpectrumRow::*col,
                     double scale, const std::string& style) {
  std::string svg, pts;
  auto flush = [&] {
    if (!pts.empty()) svg += "<polyline fill=\"none\" " + style + " points=\"" + pts + "\"/>\n";
    pts.clear();
  };
  for (const SpectrumRow& r : rows) {
    const double y = r.*col * scale;
    if (!std::isfinite(y) || r.wave < fr.x0 || r.wave > fr.x1) {
      flush();
      continue;
    }
    pts += num(fr.px(r.wave), 2) + "," + num(fr.py(std::clamp(y, fr.y0, fr.y1)), 2) + " ";
  }
  flush();
  return svg;
}

struct BalmerLine {
  const char* label;  // H-alpha ... as text with the Greek letter
  int upper;
};

std::string draw(const std::vector<SpectrumRow>& rows, const std::string& title) {
  Frame fr;
  // x: the written wavelength range, widened to whole tick steps.
  const double xstep = nice_step(rows.back().wave - rows.front().wave, 8);
  fr.x0 = std::floor(rows.front().wave / xstep) * xstep;
  fr.x1 = std::ceil(rows.back().wave / xstep) * xstep;
  // y: from 0 to above the largest plotted flux, in units of a power of ten.
  double ymax = 0;
  for (const SpectrumRow& r : rows)
    for (double v : {r.formal_red, r.mc_red, r.bb_red})
      if (std::isfinite(v)) ymax = std::max(ymax, v);
  if (!(ymax > 0)) throw InputError("spct.dat holds no positive flux to plot");
  const int exponent = static_cast<int>(std::floor(std::log10(ymax)));
  const double scale = std::pow(10.0, -exponent);
  const double ystep = nice_step(ymax * scale * 1.05, 6);
  fr.y0 = 0;
  fr.y1 = std::ceil(ymax * scale * 1.05 / ystep) * ystep;

  const double pl = fr.left, pr = fr.width - fr.right, pt = fr.top, pb = fr.height - fr.bottom;
  std::string s;
  s += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  s += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + num(fr.width, 0) + "\" height=\"" + num(fr.height, 0) +
       "\" viewBox=\"0 0 " + num(fr.width, 0) + " " + num(fr.height, 0) +
       "\" font-family=\"DejaVu Sans, Helvetica, Arial, sans-serif\">\n";
  s += "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
  s += "<text x=\"" + num((pl + pr) / 2, 1) + "\" y=\"32\" font-size=\"19\" text-anchor=\"middle\">" + xml_text(title) +
       "</text>\n";

  // Grid and ticks.
  const int xd = decimals_for(xstep), yd = decimals_for(ystep);
  for (double x = fr.x0; x <= fr.x1 + 1e-9 * xstep; x += xstep) {
    const double X = fr.px(x);
    s += "<line x1=\"" + num(X, 2) + "\" y1=\"" + num(pt, 2) + "\" x2=\"" + num(X, 2) + "\" y2=\"" + num(pb, 2) +
         "\" stroke=\"#e4e4e4\"/>\n";
    s += "<line x1=\"" + num(X, 2) + "\" y1=\"" + num(pb, 2) + "\" x2=\"" + num(X, 2) + "\" y2=\"" + num(pb + 6, 2) +
         "\" stroke=\"black\"/>\n";
    s += "<text x=\"" + num(X, 2) + "\" y=\"" + num(pb + 22, 2) + "\" font-size=\"13\" text-anchor=\"middle\">" +
         num(x, xd) + "</text>\n";
  }
  for (double y = fr.y0; y <= fr.y1 + 1e-9 * ystep; y += ystep) {
    const double Y = fr.py(y);
    s += "<line x1=\"" + num(pl, 2) + "\" y1=\"" + num(Y, 2) + "\" x2=\"" + num(pr, 2) + "\" y2=\"" + num(Y, 2) +
         "\" stroke=\"#e4e4e4\"/>\n";
    s += "<line x1=\"" + num(pl - 6, 2) + "\" y1=\"" + num(Y, 2) + "\" x2=\"" + num(pl, 2) + "\" y2=\"" + num(Y, 2) +
         "\" stroke=\"black\"/>\n";
    s += "<text x=\"" + num(pl - 10, 2) + "\" y=\"" + num(Y + 4.5, 2) + "\" font-size=\"13\" text-anchor=\"end\">" +
         num(y, yd) + "</text>\n";
  }

  // Balmer lines at their air wavelengths.
  const BalmerLine balmer[] = {{"H\xce\xb1", 3}, {"H\xce\xb2", 4}, {"H\xce\xb3", 5}, {"H\xce\xb4", 6}};
  const double rh = mcspec::hydrogenic::rydberg_hydrogen();
  double previous_x = -1e9;
  int row = 0;
  for (const BalmerLine& b : balmer) {
    const double w = mcspec::hydrogenic::air_wavelength(mcspec::hydrogenic::vacuum_wavelength(1, 2, b.upper, rh));
    if (w < fr.x0 || w > fr.x1) continue;
    const double X = fr.px(w);
    // Labels of neighbouring lines closer than a label's width go one row lower.
    row = std::fabs(X - previous_x) < 70 ? row + 1 : 0;
    previous_x = X;
    const double label_y = pt + 15 + 15 * row;
    s += "<line x1=\"" + num(X, 2) + "\" y1=\"" + num(label_y + 5, 2) + "\" x2=\"" + num(X, 2) + "\" y2=\"" +
         num(pb, 2) + "\" stroke=\"#b03a2e\" stroke-width=\"1\" stroke-dasharray=\"5 4\"/>\n";
    s += "<text x=\"" + num(X, 2) + "\" y=\"" + num(label_y, 2) +
         "\" font-size=\"13\" fill=\"#b03a2e\" text-anchor=\"middle\">" + std::string(b.label) + " " + num(w, 0) +
         "</text>\n";
  }

  // Spectra: black body underneath, Monte Carlo, then the formal integral on top.
  s += polyline(fr, rows, &SpectrumRow::bb_red, scale, "stroke=\"#7f7f7f\" stroke-width=\"1.4\" stroke-dasharray=\"8 5\"");
  s += polyline(fr, rows, &SpectrumRow::mc_red, scale, "stroke=\"#e08a1e\" stroke-width=\"1\" stroke-opacity=\"0.9\"");
  s += polyline(fr, rows, &SpectrumRow::formal_red, scale, "stroke=\"#1b3f8b\" stroke-width=\"1.7\"");

  // Frame and axis labels.
  s += "<rect x=\"" + num(pl, 2) + "\" y=\"" + num(pt, 2) + "\" width=\"" + num(pr - pl, 2) + "\" height=\"" +
       num(pb - pt, 2) + "\" fill=\"none\" stroke=\"black\"/>\n";
  s += "<text x=\"" + num((pl + pr) / 2, 1) + "\" y=\"" + num(fr.height - 22, 1) +
       "\" font-size=\"15\" text-anchor=\"middle\">Wavelength (\xc3\x85, air)</text>\n";
  const double ly = (pt + pb) / 2;
  s += "<text transform=\"translate(30 " + num(ly, 1) + ") rotate(-90)\" font-size=\"15\" text-anchor=\"middle\">" +
       "F<tspan baseline-shift=\"sub\" font-size=\"11\">\xce\xbb</tspan> (10<tspan baseline-shift=\"super\" "
       "font-size=\"11\">" + signed_text(exponent) + "</tspan> erg s<tspan baseline-shift=\"super\" "
       "font-size=\"11\">\xe2\x88\x92" "1</tspan> cm<tspan baseline-shift=\"super\" font-size=\"11\">\xe2\x88\x92"
       "2</tspan> \xc3\x85<tspan baseline-shift=\"super\" font-size=\"11\">\xe2\x88\x92" "1</tspan>)</text>\n";

  // Legend, upper right.
  const double lx = pr - 302, ly0 = pt + 40;
  s += "<rect x=\"" + num(lx, 1) + "\" y=\"" + num(ly0, 1) +
       "\" width=\"290\" height=\"92\" fill=\"white\" fill-opacity=\"0.9\" stroke=\"#999\"/>\n";
  struct Entry {
    const char* text;
    const char* style;
  };
  const Entry entries[] = {
      {"formal integral", "stroke=\"#1b3f8b\" stroke-width=\"1.7\""},
      {"Monte Carlo packets", "stroke=\"#e08a1e\" stroke-width=\"1\""},
      {"black body, boundary temperature", "stroke=\"#7f7f7f\" stroke-width=\"1.4\" stroke-dasharray=\"8 5\""},
      {"Balmer lines, rest wavelength", "stroke=\"#b03a2e\" stroke-width=\"1\" stroke-dasharray=\"5 4\""},
  };
  for (int i = 0; i < 4; ++i) {
    const double y = ly0 + 18 + 20 * i;
    s += "<line x1=\"" + num(lx + 10, 1) + "\" y1=\"" + num(y, 1) + "\" x2=\"" + num(lx + 40, 1) + "\" y2=\"" +
         num(y, 1) + "\" " + entries[i].style + "/>\n";
    s += "<text x=\"" + num(lx + 48, 1) + "\" y=\"" + num(y + 4.5, 1) + "\" font-size=\"13\">" + entries[i].text +
         "</text>\n";
  }
  s += "</svg>\n";
  return s;
}

void write_text_file(const fs::path& path, const std::string& text) {
  const fs::path tmp = path.string() + ".tmp";
  {
    std::ofstream o(tmp, std::ios::binary);
    o << text;
    o.close();
    if (!o) throw InputError(tmp.string(), 0, 0, "cannot be written");
  }
  fs::rename(tmp, path);
}

int run(int argc, char** argv) {
  std::string title = "Synthetic spectrum (observed flux, reddened)";
  std::vector<std::string> paths;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--title" && i + 1 < argc) {
      title = argv[++i];
    } else if (!a.empty() && a[0] == '-') {
      paths.clear();
      break;
    } else {
      paths.push_back(a);
    }
  }
  if (paths.empty() || paths.size() > 2) {
    std::fprintf(stderr, "usage: plot_spectrum SPCT.DAT [OUT.SVG] [--title TEXT]\n"
                         "       writes OUT.SVG (default: spectrum.svg beside SPCT.DAT)\n");
    return 64;
  }
  const fs::path in = paths[0];
  const fs::path out = paths.size() == 2 ? fs::path(paths[1]) : in.parent_path() / "spectrum.svg";
  const std::vector<SpectrumRow> rows = read_spectrum(in);
  write_text_file(out, draw(rows, title));
  std::printf("%s\n", out.string().c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "plot_spectrum: %s\n", e.what());
    return 1;
  }
}
