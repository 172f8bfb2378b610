#pragma once
// The project log: the running record of what Kelvane did since it started (build steps, files
// added or removed, projects opened, created or saved, validation problems, errors), the error
// count of a build, the total-progress report and the status-line text.
//
// The log keeps its own lines; what shows them is a TProjectLogView (the editor's log page, build
// view and status bar implement it later). In compile mode there is no view: with the compile
// flag set, progress goes to the console as "@TOTAL:<percent>" lines.
//
// TProjectState bundles what one running project needs, so the build driver and compile mode
// reach the same things through one reference; modules below the build (the control file
// generator) take the parts they need: the project, the TEnvironmentSettings and the log as a
// TMessageLog.
//
//   TProjectState state;                      // compile mode or the editor owns one
//   state.Log.LogMessage("Building Project...", mkInformational);
//   state.Log.CompileFlag = true;             // compile mode, around its build
//   state.Log.ReportTotalProgress(10);        // also prints "@TOTAL:10" while the flag is set
#include <iosfwd>
#include <string>
#include <vector>

#include "platform/datetime.h"
#include "project/projectstate.h"
#include "project/updateproject.h"

namespace kelvane {

// What shows the log; every member has an empty default so a view takes only what it shows.
class TProjectLogView {
 public:
  virtual ~TProjectLogView() = default;
  virtual void LogLineAdded(const std::string& /*line*/) {
  }  // may hold CR LF: one entry, several rows
  virtual void LogCleared() {}
  virtual void TotalProgressChanged(int /*percent*/) {}              // the build view's total bar
  virtual void ProjectStatusChanged(const std::string& /*text*/) {}  // first status-bar panel
};

// "[Informational message] [12/9/2026 6:45:03 PM] : text" (short date, blank, long time of the
// given settings); the prefix is "[Warning message] [" for mkWarning and "[Error message] [" for
// mkError (and any other kind).
std::string FormatLogLine(const std::string& text, int kind, TDateTime when,
                          const TFormatSettings& settings = FormatSettings());

// "Current Project : <projectname>      Location : <projectpath>", the location being
// "Project Not Saved" when no file exists at the project's path.
std::string ProjectStatusText(const TUpdateProject& project);

class TProjectLog : public TMessageLog {
 public:
  // Appends one line stamped with the current local date and time; tells the view.
  void LogMessage(const std::string& text, int kind) override;
  const std::vector<std::string>& Lines() const { return lines_; }
  void ClearLog();  // the Clear button
  // Writes every line followed by CR LF, in Windows-1252, replacing the file as a whole.
  // Throws EInOutError "Unable to write to <path>" when refused; the log is unchanged either way.
  void SaveLog(const std::string& path) const;

  // Moves the total progress bar; while CompileFlag is set also writes "@TOTAL:<percent>" and two
  // empty lines to Console.
  void ReportTotalProgress(int percent);
  // Sets the status-line text (ProjectStatusText) in the view.
  void ShowProjectStatus(const TUpdateProject& project);

  // Number of validation problems of the current build; the build resets it, validation counts
  // up. Errors logged as mkError do not change it.
  int ErrorCount = 0;
  // The compile flag of the build state: set by compile mode around its build. It lives with the
  // log because it decides where progress goes; the build driver's file progress reads it too.
  bool CompileFlag = false;
  TProjectLogView* View = nullptr;  // not owned; none: nothing shows the log
  std::ostream* Console;            // where compile-mode lines go; standard output by default

  TProjectLog();

 private:
  std::vector<std::string> lines_;
};

// One running project: the update project, its log and the environment settings in memory.
struct TProjectState {
  TUpdateProject Project;
  TProjectLog Log;
  TEnvironmentSettings Environment;
};

}  // namespace kelvane
