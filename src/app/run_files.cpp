// The files of a run. No physics here: every file is connected once to its unit at
// the start and closed at the end, so the unit table below is the one place where
// names, directories and open modes are settled. Atomic data come from the directory
// named by MCDATA; the run's own inputs and all results live in the working directory.
#include "app/run_files.hpp"

#include <array>
#include <cstddef>
#include <ctime>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include "base/errors.hpp"

namespace mcspec {
namespace {

// Environment values are held in 256-character fields: longer values are cut, and
// trailing blanks are not part of the value.
constexpr std::size_t kEnvFieldLength = 256;

constexpr const char* kZonesFile = "zones.dat";               // optional input
constexpr const char* kUniformFile = "comp.ind";              // unit 12
constexpr const char* kCompositionFile = "composition.dat";   // output with zones.dat

enum class Where { kWorkdir, kDataDir };
// kRead: the file must exist. Atomic-data files are never created: a missing one is
// reported at once instead of leaving an empty file behind in the shared data directory.
// kCreateNew: the file must not exist and is created; results are never overwritten.
enum class Status { kRead, kCreateNew };

struct Unit {
  int number;
  const char* name;      // bare name in the working directory, or the literal after DATAPATH
  Where where;
  Status status;
  const char* role;
  InFile Files::*in;     // the input connected to this unit, or null
  OutFile Files::*out;   // the output connected to this unit, or null
  const char* fallback;  // data-directory literal used when the file is absent (unit 19)
  bool closed_by_closing;
};

// The units in the order in which opening connects them.
constexpr std::array<Unit, 22> kUnits{{
    {2, "dica.dat", Where::kWorkdir, Status::kRead, "run parameters", &Files::dica, nullptr, nullptr, true},
    {11, "/ihea.ind", Where::kDataDir, Status::kRead, "ionisation potentials", &Files::ihea, nullptr, nullptr,
     true},
    {12, "comp.ind", Where::kWorkdir, Status::kRead, "composition", &Files::comp, nullptr, nullptr, true},
    {13, "/lines/varn2", Where::kDataDir, Status::kRead, "line list", &Files::varn2, nullptr, nullptr, true},
    {15, "/lines/varn1.new", Where::kDataDir, Status::kRead, "energy levels", &Files::varn1, nullptr, nullptr,
     true},
    {16, "/nbia.ind", Where::kDataDir, Status::kRead, "atomic weights", &Files::nbia, nullptr, nullptr, true},
    {17, "/nama.ind", Where::kDataDir, Status::kRead, "partition-function data", &Files::nama, nullptr, nullptr,
     true},
    {18, "/nbba.ind", Where::kDataDir, Status::kRead, "element symbols and stage labels", &Files::nbba, nullptr,
     nullptr, true},
    {19, "hydro.dat", Where::kWorkdir, Status::kRead, "density profile", &Files::hydro, nullptr, "/rhw7.dat",
     true},
    {41, "/filters.dat", Where::kDataDir, Status::kRead, "filter curves", &Files::filters, nullptr, nullptr, true},
    {3, "stst.dat", Where::kWorkdir, Status::kCreateNew, "run log", nullptr, &Files::stst, nullptr, true},
    {10, "diagn.dat", Where::kWorkdir, Status::kCreateNew, "diagnostics (left empty)", nullptr, &Files::diagn,
     nullptr, true},
    {20, "yhea.dat", Where::kWorkdir, Status::kCreateNew, "ionisation table", nullptr, &Files::yhea, nullptr,
     true},
    {21, "lhea.dat", Where::kWorkdir, Status::kCreateNew, "kept lines", nullptr, &Files::lhea, nullptr, true},
    {29, "spcp.dat", Where::kWorkdir, Status::kCreateNew, "wavelength grid and spectrum", nullptr, &Files::spcp,
     nullptr, true},
    {30, "sica.dat", Where::kWorkdir, Status::kCreateNew, "Monte Carlo spectrum", nullptr, &Files::sica, nullptr,
     true},
    {31, "eica.dat", Where::kWorkdir, Status::kCreateNew, "lines of last emission", nullptr, &Files::eica,
     nullptr, true},
    {32, "spct.dat", Where::kWorkdir, Status::kCreateNew, "observed-flux spectrum", nullptr, &Files::spct,
     nullptr, true},
    // Unit 37 stays open until the process ends.
    {37, "atmd.oud", Where::kWorkdir, Status::kCreateNew, "energy levels of the ions", nullptr, &Files::atmd,
     nullptr, false},
    {42, "ptfn.dat", Where::kWorkdir, Status::kCreateNew, "partition functions", nullptr, &Files::ptfn, nullptr,
     true},
    {43, "taul.dat", Where::kWorkdir, Status::kCreateNew, "line optical depths (left empty)", nullptr,
     &Files::taul, nullptr, true},
    {46, "sbib.dat", Where::kWorkdir, Status::kCreateNew, "summary", nullptr, &Files::sbib, nullptr, true},
}};

// An environment value as a 256-character field: cut to 256 characters, trailing
// blanks removed; empty when the variable is not set.
std::string env_field(const char* value) {
  if (value == nullptr) return {};
  std::string s(value);
  if (s.size() > kEnvFieldLength) s.resize(kEnvFieldLength);
  const std::size_t last = s.find_last_not_of(' ');
  s.resize(last == std::string::npos ? 0 : last + 1);
  return s;
}

// Data-directory names are DATAPATH followed directly by the literal (which begins with
// "/"), without any separator handling: a DATAPATH ending in "/" gives "//".
std::string path_of(const Files& f, Where where, const char* name) {
  return where == Where::kDataDir ? f.datapath + name : std::string(name);
}

std::string unit_label(const Unit& u) { return "unit " + std::to_string(u.number); }

// Opens an existing input; a missing file is an input error naming the file's role.
void open_input(InFile& file, const std::string& path, const Unit& u) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) {
    const char* dir = u.where == Where::kDataDir ? "the data directory named by MCDATA" : "the working directory";
    throw InputError(path, 0, 0,
                     "file not found: the " + std::string(u.role) + " (" + unit_label(u) + ") must exist in " + dir);
  }
  file.open(path, u.role);
}

// The density profile: "hydro.dat" in the working directory when it can be opened,
// otherwise the default W7 profile of the data directory.
void open_model(Files& f, const Unit& u) {
  try {
    open_input(f.*(u.in), u.name, u);
    return;
  } catch (const InputError&) {
  }
  f.out.list("File hydro.dat not found in current working directory.");
  f.out.list("Will use default W7 model.");
  const std::string fallback = path_of(f, Where::kDataDir, u.fallback);
  std::error_code ec;
  if (!std::filesystem::exists(fallback, ec))
    throw InputError(fallback, 0, 0,
                     "file not found: without hydro.dat in the working directory, the default density profile (" +
                         unit_label(u) + ") must exist in the data directory named by MCDATA");
  (f.*(u.in)).open(fallback, u.role);
}

bool name_taken(const std::string& path) {
  std::error_code ec;
  // symlink_status: a dangling link also blocks exclusive creation.
  return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

// Results of an earlier run are never overwritten, and a refused run leaves no file of
// its own behind: every output name is checked before the first one is created.
void refuse_existing_outputs() {
  for (const Unit& u : kUnits) {
    if (u.status != Status::kCreateNew || !name_taken(u.name)) continue;
    throw InputError(u.name, 0, 0,
                     "output file already exists (" + std::string(u.role) + ", " + unit_label(u) +
                         "); a run needs a working directory without the output files of an earlier run");
  }
}

// The data directory must be named, and must be a directory: otherwise every data file
// would be looked for in the wrong place ("/ihea.ind" with MCDATA unset).
void check_data_directory(const char* mcdata, const std::string& datapath) {
  const char* what = "the environment variable MCDATA must name the directory of the atomic data";
  if (mcdata == nullptr) throw InputError(std::string("MCDATA is not set: ") + what);
  const std::string shown = "MCDATA=\"" + std::string(mcdata) + "\"";
  if (datapath.empty()) throw InputError(shown + " is empty: " + what);
  std::error_code ec;
  const auto st = std::filesystem::status(datapath, ec);
  if (!std::filesystem::exists(st))
    throw InputError(shown + " does not exist: " + what);
  if (!std::filesystem::is_directory(st))
    throw InputError(shown + " is not a directory: " + what);
}

}  // namespace

void open_run_files(Files& f, const char* mcdata, const char* pwd) {
  f.datapath = env_field(mcdata);
  f.workdir = env_field(pwd);
  f.out.list(" opening");

  // The layered composition replaces the uniform one; both at once would leave it
  // open which of them the run is meant to use.
  f.layered = name_taken(kZonesFile);
  if (f.layered && name_taken(kUniformFile))
    throw InputError(kZonesFile, 0, 0,
                     std::string("both \"") + kZonesFile + "\" (the composition by velocity zones) and \"" +
                         kUniformFile + "\" (the uniform composition) are in the working directory; remove one of them");

  bool data_checked = false;  // before the first data-directory file
  for (const Unit& u : kUnits) {
    if (u.status != Status::kRead) continue;
    if (u.where == Where::kDataDir && !data_checked) {
      check_data_directory(mcdata, f.datapath);
      data_checked = true;
    }
    if (u.fallback != nullptr) {
      open_model(f, u);
    } else if (f.layered && u.in == &Files::comp) {
      f.zones.open(kZonesFile, "composition by velocity zones");
    } else {
      open_input(f.*(u.in), path_of(f, u.where, u.name), u);
    }
  }

  refuse_existing_outputs();
  if (f.layered && name_taken(kCompositionFile))
    throw InputError(kCompositionFile, 0, 0,
                     "output file already exists (mass fractions by shell); a run needs a working directory without "
                     "the output files of an earlier run");
  for (const Unit& u : kUnits) {
    if (u.status == Status::kCreateNew) (f.*(u.out)).create_new(u.name);
  }
  if (f.layered) f.composition.create_new(kCompositionFile);

  if (!f.workdir.empty() && f.workdir.back() == '/') f.out.write("(A)", "Interesting: snipped workdir");
}

void open_run_files(Files& f) { open_run_files(f, std::getenv("MCDATA"), std::getenv("PWD")); }

void close_run_files(Files& f) {
  for (const Unit& u : kUnits) {
    if (!u.closed_by_closing) continue;
    if (u.in != nullptr) (f.*(u.in)).close();
    if (u.out != nullptr) (f.*(u.out)).close();
  }
  if (f.zones.is_open()) f.zones.close();
  if (f.composition.is_open()) f.composition.close();
  if (f.ionspec.is_open()) f.ionspec.close();
}

namespace {

// Every output file this run has open: those of the unit table, then the optional ones.
template <class F>
void for_each_open_output(Files& f, F&& fn) {
  for (const Unit& u : kUnits)
    if (u.out != nullptr && (f.*(u.out)).is_open()) fn(f.*(u.out));
  if (f.composition.is_open()) fn(f.composition);
  if (f.ionspec.is_open()) fn(f.ionspec);
}

}  // namespace

void discard_outputs(Files& f) {
  for_each_open_output(f, [](OutFile& o) {
    const std::string path = o.name();
    try {
      o.close();
    } catch (const InputError&) {
      // The file is deleted anyway.
    }
    std::error_code ec;
    std::filesystem::remove(path, ec);
  });
}

namespace {

// "incomplete-YYYYMMDD-HHMMSS" of the local time now.
std::string incomplete_stem() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
  return std::string("incomplete-") + stamp;
}

}  // namespace

std::string set_aside_outputs(Files& f, std::string* problem) {
  // A new directory: create_directory says whether it made it, so an existing one
  // (of an earlier run in the same second) is never reused.
  const std::string stem = incomplete_stem();
  std::string dir;
  std::error_code ec;
  for (int n = 1; n <= 1000 && dir.empty(); ++n) {
    const std::string name = n == 1 ? stem : stem + "-" + std::to_string(n);
    if (std::filesystem::create_directory(name, ec)) dir = name;
    if (ec) break;
  }
  if (dir.empty()) {
    if (problem) *problem = "cannot create a directory " + stem + " for them" + (ec ? ": " + ec.message() : "");
    return {};
  }
  for_each_open_output(f, [&](OutFile& o) {
    const std::string path = o.name();
    try {
      o.close();
    } catch (const InputError&) {
      // Whatever could be written is moved with the rest.
    }
    std::filesystem::rename(path, dir + "/" + path, ec);
    if (ec && problem) *problem = "cannot move " + path + " into " + dir + ": " + ec.message();
  });
  return dir;
}

}  // namespace mcspec
