// The files of a run: the unit table, opening and closing.
#pragma once

#include <string>
#include <vector>

#include "base/io.hpp"

namespace mcspec {

struct Files {
  std::string datapath;  // MCDATA without trailing blanks
  std::string workdir;   // PWD
  // Inputs
  InFile dica;     // unit 2,  "dica.dat"
  InFile ihea;     // unit 11, MCDATA "/ihea.ind"
  InFile comp;     // unit 12, "comp.ind" (not opened when "zones.dat" is present)
  InFile zones;    // "zones.dat": the layered composition, instead of "comp.ind" (optional)
  InFile varn2;    // unit 13, MCDATA "/lines/varn2"
  InFile varn1;    // unit 15, MCDATA "/lines/varn1.new"
  InFile nbia;     // unit 16, MCDATA "/nbia.ind"
  InFile nama;     // unit 17, MCDATA "/nama.ind"
  InFile nbba;     // unit 18, MCDATA "/nbba.ind"
  InFile hydro;    // unit 19, "hydro.dat" or MCDATA "/rhw7.dat"
  InFile filters;  // unit 41, MCDATA "/filters.dat"
  InFile warm;     // unit 47, "warmstart.dat", optional: the radiation field to start from
  // Outputs, created new in the working directory
  OutFile stst;   // unit 3,  "stst.dat"  run log
  OutFile diagn;  // unit 10, "diagn.dat" created, left empty
  OutFile yhea;   // unit 20, "yhea.dat"
  OutFile lhea;   // unit 21, "lhea.dat"
  OutFile spcp;   // unit 29, "spcp.dat"
  OutFile sica;   // unit 30, "sica.dat"
  OutFile eica;   // unit 31, "eica.dat"
  OutFile spct;   // unit 32, "spct.dat"
  OutFile atmd;   // unit 37, "atmd.oud"
  OutFile ptfn;   // unit 42, "ptfn.dat"
  OutFile taul;   // unit 43, "taul.dat"  created, left empty
  OutFile sbib;   // unit 46, "sbib.dat"  summary
  OutFile radfield;  // unit 48, "radfield.dat"  radiation field after the temperature iteration
  OutFile ionspec;  // "ionspec.dat", only with MCSPEC_ION_SPECTRUM=1 (opened by the estimators)
  OutFile composition;  // "composition.dat", only with "zones.dat": the shells' mass fractions
  OutFile out;    // standard output
  // The composition comes by velocity zones from "zones.dat" (else uniform, "comp.ind").
  bool layered = false;
};

// Connects every file of the run. Reads MCDATA and PWD from the environment. With
// "zones.dat" in the working directory it is read instead of "comp.ind" (both present:
// an input error) and "composition.dat" is created with the other outputs.
void open_run_files(Files& f);
// As opening, with the environment given (tests).
void open_run_files(Files& f, const char* mcdata, const char* pwd);
// Closes every file; throws WriteError when an output's last data cannot be written.
void close_run_files(Files& f);
// Closes and deletes the output files this run created (open or already closed). Used when the run stops
// during set-up, before it has computed anything: the files would hold no more than
// the parameter echo and would only stand in the way of the corrected run.
void discard_outputs(Files& f);
// What set_aside_outputs did with the output files this run created.
struct SetAside {
  std::string dir;                       // the new directory, empty when nothing went there
  std::vector<std::string> moved;        // into dir
  std::vector<std::string> removed;      // could not be moved: removed, so the next run can start
  std::vector<std::string> left;         // could be neither moved nor removed ("name (reason)")
  std::vector<std::string> cut_short;    // whose last data could not be written on closing
  std::string why_not_moved;             // the reason for removed and left
  // The lines that say it, for standard error.
  std::vector<std::string> report() const;
};
// Closes the output files this run created (open or already closed) and moves them into
// a new subdirectory "incomplete-YYYYMMDD-HHMMSS" (local time; "-2", "-3", ... appended
// when taken) of the working directory, so that they block no later run and nothing is
// lost. A file that cannot be moved (the directory cannot be made on a full disk) is
// removed. Used when a run that has begun computing is interrupted or stopped by an error.
SetAside set_aside_outputs(Files& f);

}  // namespace mcspec
