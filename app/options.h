// The switches for unattended runs. A site that installs the help file on many computers runs
// the installer from a login script or a remote shell:
//
//   instayuda.exe AYUDA [/UNIDAD:X] [/SILENCIOSO] [/REGISTRO:FICHERO]
//
//   /UNIDAD:X         the drive the dialog shows first (X is one of the dialog's letters, C to Z
//                     but W, either case, with or without ":")
//   /SILENCIOSO       no window at all: the search and copy run on the /UNIDAD drive (which it
//                     then needs) and the exit code tells the outcome
//   /REGISTRO:FICHERO the run's record is appended to FICHERO; the silent mode without it
//                     appends to "instayuda.log" in the temp folder
//
// A token that begins with one "/" is a switch, in any position and either case; tokens that
// begin with "//" stay reserved and are skipped as before. Without any switch nothing changes:
// the first token that is not reserved is the help file and the rest are ignored. With a switch
// the command line is read strictly: exactly one help file, known switches each at most once,
// valid values; anything else is an error that stops the run before it installs anything.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace app {

struct Options {
    bool switches = false; // some token is a switch
    std::string helpFile;  // the first token that is neither a switch nor reserved
    std::string drive;     // /UNIDAD: the letter, upper case; "" when not given
    bool silent = false;   // /SILENCIOSO
    std::string logFile;   // /REGISTRO: the file; "" when not given
    std::string error;     // what is wrong with the command line, a sentence; "" when nothing
};

// Reads the switches from every token of the command line (the argument table keeps 19 at most;
// a switch is never lost past it).
Options parseOptions(const std::vector<std::string>& tokens);

// The options of this run (read once by the start-up).
Options& options();

} // namespace app
