// The command line: the usage text and the version. Nothing here reads or writes a file.
#include "app/command_line.hpp"

#include <algorithm>
#include <string_view>

namespace mcspec {
namespace {

// The environment variables the program reads, one line each.
struct EnvVar {
  const char* name;
  const char* meaning;
};
constexpr EnvVar kEnvironment[] = {
    {"MCDATA", "directory of the atomic data (required)"},
    {"MCSPEC_THREADS", "N (1..1024) or auto (default: all cores): threads of the opacities,\n"
                       "                  the formal integral and, with streams, the Monte Carlo;\n"
                       "                  the output is the same for any N"},
    {"MCSPEC_STREAMS", "=1: a random stream per packet; the Monte Carlo on the threads (another\n"
                       "                  realisation than the default single sequence of draws)"},
    {"MCSPEC_ION_SPECTRUM", "=1: also write ionspec.dat (escaping spectrum by last-emitting ion)"},
    {"MCSPEC_PACKET_RAMP", "f (0 < f <= 1, default 1): the early temperature passes with f NPK\n"
                           "                  packets, until TR changes by less than 5 % (pass 8 at most)"},
    {"MCSPEC_QUIET", "=1: no progress lines on standard error"},
};

}  // namespace

std::string usage_text() {
  std::string s =
      "usage: mcspec            run the model of the working directory\n"
      "       mcspec --help     this text (also -h)\n"
      "       mcspec --version  the program's version\n"
      "\n"
      "Synthesises the photospheric-phase spectrum of a supernova by Monte Carlo radiative\n"
      "transfer in homologously expanding ejecta. A run reads, in the working directory:\n"
      "  dica.dat   run parameters\n"
      "  comp.ind   composition: one record per element Z = 1, 2, ... (Z, symbol, mass fraction)\n"
      "  hydro.dat  density profile (optional; otherwise the data directory's rhw7.dat)\n"
      "  warmstart.dat  radiation field to start from (optional: an earlier run's radfield.dat)\n"
      "and the atomic data of the directory named by MCDATA. It writes new files in the\n"
      "working directory and never overwrites one: stst.dat (run log), sbib.dat (summary),\n"
      "spct.dat (observed-flux spectrum), spcp.dat, sica.dat, eica.dat, atmd.oud, ptfn.dat,\n"
      "yhea.dat, lhea.dat, diagn.dat, taul.dat, radfield.dat (radiation field). Its messages\n"
      "go to standard output, the progress (one line per pass) to standard error. A run\n"
      "that is interrupted or stopped by an error once it has begun computing moves its\n"
      "files into a new subdirectory incomplete-YYYYMMDD-HHMMSS/.\n"
      "\n"
      "Environment:\n";
  for (const EnvVar& v : kEnvironment) {
    std::string name = "  " + std::string(v.name);
    name.resize(std::max<std::size_t>(18, name.size() + 1), ' ');
    s += name + v.meaning + "\n";
  }
  s +=
      "\n"
      "Exit status: 0 finished; 2 input error or bad argument; 3 run stopped by a failed\n"
      "check or write (full disk, closed pipe); 4 internal error; 130 interrupted\n"
      "(SIGINT), 143 terminated (SIGTERM).\n"
      "\n"
      "Documentation: README.md and docs/ in the source tree.\n";
  return s;
}

int command_line(int argc, const char* const* argv, std::FILE* out, std::FILE* err) {
  if (argc <= 1) return -1;
  const std::string_view arg = argv[1];
  if (argc == 2 && (arg == "--help" || arg == "-h")) {
    std::fputs(usage_text().c_str(), out);
    return 0;
  }
  if (argc == 2 && arg == "--version") {
    std::fprintf(out, "mcspec %s\n", kVersion);
    return 0;
  }
  // The first argument that cannot stand where it is.
  const bool known = arg == "--help" || arg == "-h" || arg == "--version";
  const char* wrong = known ? argv[2] : argv[1];
  std::fprintf(err, "mcspec: unexpected argument \"%s\": a run takes no arguments\n\n%s", wrong,
               usage_text().c_str());
  return 2;
}

}  // namespace mcspec
