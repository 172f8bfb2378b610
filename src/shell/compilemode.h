#pragma once
// Compile mode: builds one saved project without a window (`kelvane /C project.KelvaneProj`), for
// build servers and scripts.
//
// Standard output carries exactly the build's console lines, each followed by two empty lines:
//   @TOTAL:<percent>
//   [<source>] To [<destination>] Progress : [<done> / <total>]
// Standard error carries the log's warnings and errors as they happen, and the build's questions.
// A question is answered No at once when standard input is not a terminal (a build server never
// hangs on it); with a terminal it is asked as "(y/N)".
//
// SIGINT and SIGTERM cancel the build as the cancel button would (the file loop stops after the
// current entry, a running transfer after its current block); a second one ends the process.
// KELVANE_FTP_PASSWORD, when set, replaces the project's FTP password, so that build servers need
// not keep passwords in project files.
#include <iosfwd>

#include "build/builddriver.h"
#include "build/buildview.h"
#include "build/projectlog.h"

namespace kelvane {

// Exit statuses of compile mode (start-up adds 4: the project file does not exist).
constexpr int kExitBuildFinished = 0;     // built, every file transferred
constexpr int kExitValidationFailed = 1;  // the project has problems (see standard error)
constexpr int kExitBuildCancelled = 2;    // cancelled, or an error ended the build
constexpr int kExitTransferFailed = 3;    // built, but at least one file was not transferred

int CompileExitStatus(TBuildOutcome outcome);

// The build view of compile mode: only the questions show, on `err`. Answering Yes to the
// error-log question prints the whole log (`Log`) there.
class TConsoleBuildView : public TBuildView {
 public:
  TConsoleBuildView(std::ostream& err, std::istream& in, bool interactive)
      : err_(err), in_(in), interactive_(interactive) {}
  bool AskYesNo(const std::string& title, const std::string& message) override;
  void ShowLogPage() override;

  const TProjectLog* Log = nullptr;  // not owned

 private:
  std::ostream& err_;
  std::istream& in_;
  bool interactive_;
};

// The log as compile mode shows it: warnings and errors on `err`, as they happen.
class TConsoleLogView : public TProjectLogView {
 public:
  explicit TConsoleLogView(std::ostream& err) : err_(err) {}
  void LogLineAdded(const std::string& line) override;

 private:
  std::ostream& err_;
};

}  // namespace kelvane
