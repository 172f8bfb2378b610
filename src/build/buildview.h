#pragma once
// What shows a build while it runs: the "Update process" page of the editor (step lines, the two
// progress bars, the three file labels, the status text and picture, the cancel button), the tray
// icon (hint, balloon, animation) and the build's questions. The build driver (builddriver.h) is
// the only caller; the editor implements it with Qt, compile mode on the console, tests record it.
//
// Every member has a default that shows nothing, so a view takes only what it shows. Questions
// default to No: a view that cannot ask never lets the build act on a guess.
#include <string>

namespace kelvane {

class TBuildView {
 public:
  virtual ~TBuildView() = default;

  // The step lines (Memo3): emptied when a build starts, one line per reported step.
  virtual void ClearStepLines() {}
  virtual void AddStepLine(const std::string& /*line*/) {}

  // The two bars, 0..100. The total bar takes every total-progress report of the build (the
  // editor keeps TProjectLogView::TotalProgressChanged empty when it implements this).
  virtual void SetFileProgress(int /*percent*/) {}
  virtual void SetTotalProgress(int /*percent*/) {}
  // The three labels, whole texts: "File Source: <src>", "File Destination: <dst>",
  // "File Progress: <done> / <total>"; reset to "File Source:", "File Destination:",
  // "File Progress:" when a build ends.
  virtual void SetFileLabels(const std::string& /*source*/, const std::string& /*destination*/,
                             const std::string& /*progress*/) {}

  // "Project Running", "Project Finished", "Project Cancelled",
  // "Waiting for project to be cancelled", or empty.
  virtual void SetStatusText(const std::string& /*text*/) {}
  // "" (none), "ok" or "cancel".
  virtual void SetStatusPicture(const std::string& /*name*/) {}
  // The tray icon's and the status picture's animations run while a build runs.
  virtual void StartAnimation() {}
  virtual void StopAnimation() {}
  virtual void SetTrayHint(const std::string& /*hint*/) {}  // "Project Progress : 35%"
  virtual void ShowBalloon(const std::string& /*text*/) {}  // shown for 1500 ms
  virtual void SetCancelEnabled(bool /*enabled*/) {}

  // A Yes/No question; true only for Yes. The message may hold CR LF.
  virtual bool AskYesNo(const std::string& /*title*/, const std::string& /*message*/) {
    return false;
  }
  // The answer Yes to the error-log question: show the "Project Logging" page.
  virtual void ShowLogPage() {}
};

}  // namespace kelvane
