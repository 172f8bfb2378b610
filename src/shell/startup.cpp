#include "shell/startup.h"

#include <ostream>

#include "platform/paths.h"

namespace kelvane {

namespace {

bool StartsWithOption(const std::string& param, char letter) {
  return param.size() >= 2 && param[0] == '/' &&
         (param[1] == letter || param[1] == static_cast<char>(letter - 'A' + 'a'));
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

TCommandLine ScanCommandLine(const std::vector<std::string>& params) {
  TCommandLine result;
  for (std::size_t i = 0; i < params.size(); ++i) {
    const std::string& p = params[i];
    // An absolute path starts with "/" too; one that exists is a path, never an option.
    if (FileExists(p) || DirectoryExists(p)) continue;

    // A long or short alias whose path is the next parameter, or glued on with "=".
    auto takePath = [&](const char* shortName, const char* longName, std::string& into) {
      if (p == shortName || p == longName) {
        if (i + 1 < params.size()) {
          into = params[++i];
        } else {
          result.error = "The option " + p + " needs a project file";
        }
        return true;
      }
      const std::string glued = std::string(longName) + "=";
      if (StartsWith(p, glued)) {
        into = p.substr(glued.size());
        return true;
      }
      return false;
    };

    if (StartsWith(p, "/?") || p == "-h" || p == "--help") {
      // The help wins over everything before it; nothing after it is looked at.
      return TCommandLine{true, {}, {}, {}};
    } else if (StartsWithOption(p, 'C')) {
      result.compilePath = p.substr(2);
    } else if (StartsWithOption(p, 'O')) {
      result.openPath = p.substr(2);
    } else if (takePath("-c", "--compile", result.compilePath)) {
    } else if (takePath("-o", "--open", result.openPath)) {
    }
  }
  return result;
}

std::string HelpText() {
  const std::string rule(41, '-');
  const std::string project = "\"[Kelvane project file (.KelvaneProj extension)]\"";
  return "\n" + rule + "\n" + "Kelvane - application update publisher\n" + rule + "\n" + "\n" +
         "Command line parameters:\n" + "\n" + "/? : Show Help\n" + "\n" + "/C" + project +
         " : Compile project file\n" + "\n" + "/O" + project + " : Open project file\n" + "\n" +
         "Aliases:\n" + "-h, --help : Show Help\n" +
         "-c PATH, --compile PATH, --compile=PATH : Compile project file\n" +
         "-o PATH, --open PATH, --open=PATH : Open project file\n";
}

int RunStartup(const std::vector<std::string>& params, std::ostream& out) {
  const TCommandLine line = ScanCommandLine(params);
  if (line.help) {
    out << HelpText();
    out.flush();
    return kExitOk;
  }
  if (!line.error.empty()) {
    out << line.error << "\n";
    out.flush();
    return kExitUsage;
  }
  if (!line.compilePath.empty()) {
    if (FileExists(line.compilePath)) return RunCompileMode(line.compilePath);
    out << "The file " << line.compilePath << " does not exist\n";
    out.flush();
    return kExitMissingFile;
  }
  // The window opens the /O project, else a first parameter that names an existing file.
  std::string projectToOpen = line.openPath;
  if (projectToOpen.empty() && !params.empty() && FileExists(params[0])) projectToOpen = params[0];
  return RunWindowMode(projectToOpen);
}

}  // namespace kelvane
