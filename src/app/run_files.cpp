// The files of a run. No physics here: every file is connected once to its unit at
// the start and closed at the end, so the unit table below is the one place where
// names, directories and open modes are settled. Atomic data come from the directory
// named by MCDATA; the run's own inputs and all results live in the working directory.
#include "app/run_files.hpp"

#include <algorithm>
#include <array>
#include <climits>
#include <cstddef>
#include <ctime>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "base/errors.hpp"

namespace mcspec {
namespace {

// The longest literal that follows MCDATA in a data file's path ("/lines/varn1.new").
constexpr std::size_t kLongestDataName = 16;

constexpr const char* kZonesFile = "zones.dat";               // optional input
constexpr const char* kUniformFile = "comp.ind";              // unit 12
constexpr const char* kCompositionFile = "composition.dat";   // output with zones.dat

enum class Where { kWorkdir, kDataDir };
// kRead: the file must exist. Atomic-data files are never created: a missing one is
// reported at once instead of leaving an empty file behind in the shared data directory.
// kReadIfPresent: an optional input, read when it exists in the working directory.
// kCreateNew: the file must not exist and is created; results are never overwritten.
enum class Status { kRead, kReadIfPresent, kCreateNew };

struct Unit {
  int number;
  const char* name;      // bare name in the working directory, or the literal after DATAPATH
  Where where;
  Status status;
  const char* role;
  InFile Files::*in;     // the input connected to this unit, or null
  OutFile Files::*out;   // the output connected to this unit, or null
  const char* fallback;  // data-directory literal used when the file is absent (unit 19)
};

// The units in the order in which opening connects them.
constexpr std::array<Unit, 24> kUnits{{
    {2, "dica.dat", Where::kWorkdir, Status::kRead, "run parameters", &Files::dica, nullptr, nullptr},
    {11, "/ihea.ind", Where::kDataDir, Status::kRead, "ionisation potentials", &Files::ihea, nullptr, nullptr},
    {12, "comp.ind", Where::kWorkdir, Status::kRead, "composition", &Files::comp, nullptr, nullptr},
    {13, "/lines/varn2", Where::kDataDir, Status::kRead, "line list", &Files::varn2, nullptr, nullptr},
    {15, "/lines/varn1.new", Where::kDataDir, Status::kRead, "energy levels", &Files::varn1, nullptr, nullptr},
    {16, "/nbia.ind", Where::kDataDir, Status::kRead, "atomic weights", &Files::nbia, nullptr, nullptr},
    {17, "/nama.ind", Where::kDataDir, Status::kRead, "partition-function data", &Files::nama, nullptr, nullptr},
    {18, "/nbba.ind", Where::kDataDir, Status::kRead, "element symbols and stage labels", &Files::nbba, nullptr,
     nullptr},
    {19, "hydro.dat", Where::kWorkdir, Status::kRead, "density profile", &Files::hydro, nullptr, "/rhw7.dat"},
    {41, "/filters.dat", Where::kDataDir, Status::kRead, "filter curves", &Files::filters, nullptr, nullptr},
    {47, "warmstart.dat", Where::kWorkdir, Status::kReadIfPresent, "radiation field to start from", &Files::warm,
     nullptr, nullptr},
    {3, "stst.dat", Where::kWorkdir, Status::kCreateNew, "run log", nullptr, &Files::stst, nullptr},
    {10, "diagn.dat", Where::kWorkdir, Status::kCreateNew, "diagnostics (left empty)", nullptr, &Files::diagn,
     nullptr},
    {20, "yhea.dat", Where::kWorkdir, Status::kCreateNew, "ionisation table", nullptr, &Files::yhea, nullptr},
    {21, "lhea.dat", Where::kWorkdir, Status::kCreateNew, "kept lines", nullptr, &Files::lhea, nullptr},
    {29, "spcp.dat", Where::kWorkdir, Status::kCreateNew, "wavelength grid and spectrum", nullptr, &Files::spcp,
     nullptr},
    {30, "sica.dat", Where::kWorkdir, Status::kCreateNew, "Monte Carlo spectrum", nullptr, &Files::sica, nullptr},
    {31, "eica.dat", Where::kWorkdir, Status::kCreateNew, "lines of last emission", nullptr, &Files::eica,
     nullptr},
    {32, "spct.dat", Where::kWorkdir, Status::kCreateNew, "observed-flux spectrum", nullptr, &Files::spct,
     nullptr},
    {37, "atmd.oud", Where::kWorkdir, Status::kCreateNew, "energy levels of the ions", nullptr, &Files::atmd,
     nullptr},
    {42, "ptfn.dat", Where::kWorkdir, Status::kCreateNew, "partition functions", nullptr, &Files::ptfn, nullptr},
    {43, "taul.dat", Where::kWorkdir, Status::kCreateNew, "line optical depths (left empty)", nullptr,
     &Files::taul, nullptr},
    {46, "sbib.dat", Where::kWorkdir, Status::kCreateNew, "summary", nullptr, &Files::sbib, nullptr},
    {48, "radfield.dat", Where::kWorkdir, Status::kCreateNew, "radiation field", nullptr, &Files::radfield, nullptr},
}};

// An environment value whole, trailing blanks removed; empty when the variable is not set.
std::string env_field(const char* value) {
  if (value == nullptr) return {};
  std::string s(value);
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
  // Used whole or not at all: a path cut short could name another directory.
  if (datapath.size() + kLongestDataName >= PATH_MAX)
    throw InputError("MCDATA is " + std::to_string(datapath.size()) + " characters long: the paths of the data files "
                     "in it must stay below PATH_MAX = " + std::to_string(PATH_MAX) + " characters, so MCDATA may have at most " +
                     std::to_string(PATH_MAX - 1 - kLongestDataName) + "; " + what);
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
    if (u.status == Status::kCreateNew) continue;
    if (u.status == Status::kReadIfPresent) {
      std::error_code ec;
      if (std::filesystem::exists(path_of(f, u.where, u.name), ec)) open_input(f.*(u.in), path_of(f, u.where, u.name), u);
      continue;
    }
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
  // Every output is closed and its closing flush checked (atmd.oud, which the run keeps
  // open to the end, too): a result whose last bytes did not reach the disk is no result.
  for (const Unit& u : kUnits) {
    if (u.in != nullptr) (f.*(u.in)).close();
    if (u.out != nullptr) (f.*(u.out)).close();
  }
  if (f.zones.is_open()) f.zones.close();
  if (f.composition.is_open()) f.composition.close();
  if (f.ionspec.is_open()) f.ionspec.close();
}

namespace {

// Every output file this run has created, open or closed: those of the unit table,
// then the optional ones.
template <class F>
void for_each_created_output(Files& f, F&& fn) {
  for (const Unit& u : kUnits)
    if (u.out != nullptr && (f.*(u.out)).created()) fn(f.*(u.out));
  if (f.composition.created()) fn(f.composition);
  if (f.ionspec.created()) fn(f.ionspec);
}

// Closes an output after a failure; the names of those whose data could not all be
// written are collected.
void close_quietly(OutFile& o, std::vector<std::string>& cut_short) {
  try {
    o.close();
  } catch (const std::exception&) {
    cut_short.push_back(o.name());
  }
}

std::string listed(const std::vector<std::string>& names) {
  std::string s;
  for (const std::string& n : names) s += (s.empty() ? "" : ", ") + n;
  return s;
}

}  // namespace

void discard_outputs(Files& f) {
  std::vector<std::string> ignored;
  for_each_created_output(f, [&](OutFile& o) {
    close_quietly(o, ignored);
    std::error_code ec;
    std::filesystem::remove(o.name(), ec);
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

SetAside set_aside_outputs(Files& f) {
  SetAside r;
  std::vector<OutFile*> files;
  for_each_created_output(f, [&](OutFile& o) {
    close_quietly(o, r.cut_short);
    std::error_code ec;
    if (std::filesystem::exists(std::filesystem::symlink_status(o.name(), ec))) files.push_back(&o);
  });
  if (files.empty()) return r;
  // A new directory: create_directory says whether it made it, so an existing one
  // (of an earlier run in the same second) is never reused.
  const std::string stem = incomplete_stem();
  std::error_code ec;
  for (int n = 1; n <= 1000 && r.dir.empty(); ++n) {
    const std::string name = n == 1 ? stem : stem + "-" + std::to_string(n);
    if (std::filesystem::create_directory(name, ec)) r.dir = name;
    if (ec) break;
  }
  if (r.dir.empty()) r.why_not_moved = "cannot create a directory " + stem + " for them" + (ec ? ": " + ec.message() : "");
  // What cannot be moved is removed: left in place it would block the next run.
  for (OutFile* o : files) {
    const std::string path = o->name();
    if (!r.dir.empty()) {
      std::filesystem::rename(path, r.dir + "/" + path, ec);
      if (!ec) {
        r.moved.push_back(path);
        continue;
      }
      r.why_not_moved = "cannot move " + path + " into " + r.dir + ": " + ec.message();
    }
    if (std::filesystem::remove(path, ec))
      r.removed.push_back(path);
    else
      r.left.push_back(path + " (" + ec.message() + ")");
  }
  // Only what is kept can be cut short.
  std::erase_if(r.cut_short, [&](const std::string& n) { return std::find(r.moved.begin(), r.moved.end(), n) == r.moved.end(); });
  if (!r.dir.empty() && r.moved.empty()) {
    std::filesystem::remove(r.dir, ec);
    r.dir.clear();
  }
  return r;
}

std::vector<std::string> SetAside::report() const {
  std::vector<std::string> lines;
  if (!moved.empty()) {
    lines.push_back("the output files of this run were moved into " + dir + "/" +
                    (removed.empty() && left.empty() ? "" : ": " + listed(moved)));
  }
  if (!removed.empty())
    lines.push_back("removed (" + why_not_moved + "): " + listed(removed));
  if (!left.empty())
    lines.push_back("the output files " + listed(left) + " could not be moved (" + why_not_moved +
                    ") nor removed and stay in place; remove them before the next run");
  if (!cut_short.empty())
    lines.push_back("cut short (their last data could not be written): " + listed(cut_short));
  return lines;
}

}  // namespace mcspec
