#pragma once
// What the modules that work on a project share with the program around them, declared here at
// the bottom of the layers so that every module above (control file, build, shell, editor) can
// take it without depending on the module that implements it:
//
//   TMessageLog          where log lines go. build/projectlog.h implements it (TProjectLog);
//                        the project reader and the control file generator only see this.
//   TEnvironmentSettings the values of the environment file Kelvane.ini that the process holds in
//                        memory (shell/environment.h reads and writes the file).
//
// The whole state of one running project (project, log, environment, compile flag) is
// TProjectState in build/projectlog.h.
#include <string>

namespace kelvane {

enum TMessageKind : int {
  mkInformational = 0,
  mkWarning = 1,
  mkError = 2,
};

class TMessageLog {
 public:
  virtual ~TMessageLog() = default;
  // Appends one line of the given TMessageKind; a text with CR LF inside stays one entry.
  virtual void LogMessage(const std::string& text, int kind) = 0;
};

// Kelvane's own settings (not a project's), as read by ReadEnvironment.
struct TEnvironmentSettings {
  std::string KelvaneProjectPath;  // initial folder of the save dialog, with a trailing "/"
  std::string UpdateFilePath;      // folder the control file is written to, with a trailing "/"
  bool UpdateEnabled = true;       // start-up check for a newer Kelvane
  int Style = -1;                  // window style 0..11; -1 none
  bool ScenicRibbon = false;       // the ribbon's Windows 7 scenic look
};

}  // namespace kelvane
