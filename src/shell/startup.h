#pragma once
// Start-up: the command line is read once and chooses one of four outcomes: the help text, the
// message about a missing project file, compile mode (build one project without a window) or
// window mode.
//
// Options are recognised at the start of a parameter only, without regard to case:
//   /?  -h  --help                                   the help text, exit 0
//   /C<path>  -c <path>  --compile <path>  --compile=<path>   build the project without a window
//   /O<path>  -o <path>  --open <path>  --open=<path>         open the project in the window
// A parameter that names an existing file or folder is never an option, so an absolute path such
// as /home/me/Code/p.KelvaneProj is not taken for "/C". The help wins over everything before it;
// a later /C or /O replaces an earlier one.
#include <iosfwd>
#include <string>
#include <vector>

namespace kelvane {

// Exit statuses of start-up itself; compile mode uses 0 to 3 (shell/compilemode.h).
constexpr int kExitOk = 0;
constexpr int kExitMissingFile = 4;  // the project file to compile does not exist
constexpr int kExitUsage = 5;        // an option that needs a path got none

struct TCommandLine {
  bool help = false;
  std::string compilePath;  // empty: no compile mode
  std::string openPath;     // empty: no /O
  std::string error;        // a usage error, e.g. "-c" as the last parameter
};

// Scans the parameters (without the program name).
TCommandLine ScanCommandLine(const std::vector<std::string>& params);

// The help text, every line ending in "\n".
std::string HelpText();

// The hand-overs (shell/compilemode.cpp and the window); each returns the process exit status.
int RunCompileMode(const std::string& path);
int RunWindowMode(const std::string& projectToOpen);

// The whole start-up: scan, then help, missing-file message, compile mode or window mode.
// Console lines go to `out`. Window mode gets the project to open at first show: the open path,
// else the first parameter when it names an existing file. Returns the exit status.
int RunStartup(const std::vector<std::string>& params, std::ostream& out);

}  // namespace kelvane
