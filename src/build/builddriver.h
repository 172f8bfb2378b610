#pragma once
// The build driver: turns the current update project into published files.
//
//   TProjectState state;  TFileTransfer transfer;  TCABFile cab;
//   TBuildDriver driver(state, transfer, cab);
//   driver.View = &myView;             // optional: what shows the build (buildview.h)
//   driver.RunBuild();                 // returns when the build has ended
//   if (driver.Outcome() == TBuildOutcome::boFinished) { /* everything published */ }
//
// A build validates the project, writes the final control file into the update file folder,
// makes a "_NEW" copy beside every application component and a CAB archive (LZX) for every CAB
// group head, and transfers the licence, the what's-new text, every update file and finally the
// control file to the project's UNC directory or FTP server. Steps are reported to the view and
// logged; the total progress runs through fixed milestones: 0, 10, 20, 30, 35, one per list entry
// up to 75, one per completed transfer up to 100.
//
// How a build fails:
//  - validation problems are logged as warnings and counted (validation.h); the build asks the
//    error-log question and ends as boValidationFailed (cancelled);
//  - any error raised by a step (control file not writable, "_NEW" copy failed, a member of an
//    archive unreadable, the cabinet writer's errors, a local read/write failure inside a transfer)
//    is logged as an error message and ends the build as boFailed (cancelled); nothing queued
//    is transferred;
//  - a failed transfer is logged and the next file goes on; the control file is then withheld
//    (clients never see a control file naming files that are not published), the build reports
//    "Update not uploaded: <n>" and ends as boFinishedWithErrors;
//  - a cancel (CancelBuild confirmed, or RequestCancel) stops the file loop after the current entry
//    and a running transfer after its current block: boCancelled.
//
// One thread: the driver lets the window process pending messages (platform/messages.h) during
// every progress report, which is when a cancel can arrive.
#include <cstdint>
#include <string>

#include "build/buildview.h"
#include "build/projectlog.h"
#include "cabinet/cabfile.h"
#include "controlfile/generator.h"
#include "transfer/filetransfer.h"

namespace kelvane {

enum class TBuildOutcome {
  boNone,                // no build has run yet
  boFinished,            // every step done, every file transferred
  boFinishedWithErrors,  // every step done, at least one transfer failed
  boValidationFailed,    // the project has problems; nothing was written or transferred
  boCancelled,           // the user (or a signal in compile mode) cancelled it
  boFailed,              // an error ended it
};

// Percentages as the build shows them: part / whole scaled to `scale`, rounded to the nearest
// integer with halves going to the even neighbour, computed exactly (no floating point). A whole
// of 0 gives `scale` when part is 0 too (nothing to do is all done), else 0.
int RoundedShare(std::uint64_t part, std::uint64_t whole, int scale = 100);
// The total-progress milestones, rounded as a whole: after list entry i (0-based) of n,
// 35 + 40 (i + 1) / n; after transfer k (1-based) of count queued files, 75 + 25 k / count.
int EntryMilestone(int i, int n);
int TransferMilestone(int k, int count);

class TBuildDriver {
 public:
  // The driver uses, but does not own, the project state, the transfer engine (whose Items are the
  // transfer queue) and the cabinet writer. It installs its handlers on the transfer engine's
  // OnCopyProgress, OnErrorInfo and OnCopyCancel (and, to log failures that come without a text,
  // OnFileStart, OnConnectError and OnURLNotFound).
  TBuildDriver(TProjectState& state, TFileTransfer& transfer, TCABFile& cabinet);
  TBuildDriver(const TBuildDriver&) = delete;
  TBuildDriver& operator=(const TBuildDriver&) = delete;

  TBuildView* View = nullptr;  // not owned; none: nothing is shown and every question reads No
  // Passed to the control file generator (the editor's title and preview); none in compile mode.
  TControlFileView* ControlFileView = nullptr;

  // Starts a build and returns when it has ended. During a build (called from a handler that runs
  // inside ProcessMessages) it only asks "Project is currently building. Do you want to cancel the
  // build process?" and, on Yes, cancels.
  void RunBuild();
  // The cancel button: during a build, asks "Are you sure you want to cancel the build process?"
  // and, on Yes, cancels. Does nothing when no build runs.
  void CancelBuild();
  // Cancels without asking (a confirmed question elsewhere, or a signal in compile mode): sets the
  // cancel flag, stops the running transfer and shows "Waiting for project to be cancelled".
  // Does nothing when no build runs.
  void RequestCancel();

  bool Building() const { return building_; }
  bool CancelFlag() const { return cancel_; }
  TBuildOutcome Outcome() const { return outcome_; }
  // Files that were queued but could not be transferred in the last build.
  int FailedTransfers() const { return failedTransfers_; }
  int TotalProgress() const { return totalProgress_; }
  std::string StatusText() const { return statusText_; }

  // The build's own operations, public for the window's tests.
  // Adds `path` to the transfer queue unless an item with that URL (compared without regard to
  // case) is queued already: a wpFile item to `uncdir` for a UNC project, otherwise a
  // wpFtpUpload item with the project's host, user, password, port and ftpdir.
  void QueueForTransfer(const std::string& path);
  // Packs the members of the CAB group headed by entry `index` into its archive (LZX).
  void MakeArchive(int index);
  // The current-file bar, the three labels, the tray hint and, in compile mode, the console line
  // "[<source>] To [<destination>] Progress : [<done> / <total>]" followed by two empty lines.
  void ReportFileProgress(int percent, const std::string& source, const std::string& destination,
                          std::int64_t done, std::int64_t total);
  // The total bar and, in compile mode, the "@TOTAL:<percent>" line (projectlog.h).
  void ReportTotalProgress(int percent);

 private:
  void RunSteps();
  void ValidationFailed();
  void TransferQueue();
  void MakeNewCopy(const std::string& source, const std::string& target);
  void Report(const std::string& text);
  void SetStatus(const std::string& text);
  bool Ask(const std::string& title, const std::string& message);
  void OnCopyProgress(int fileidx, std::uint64_t size, std::uint64_t totsize);

  TProjectState& state_;
  TFileTransfer& transfer_;
  TCABFile& cabinet_;

  bool building_ = false;
  bool cancel_ = false;
  bool failed_ = false;
  bool validationFailed_ = false;
  TBuildOutcome outcome_ = TBuildOutcome::boNone;
  int failedTransfers_ = 0;
  int totalProgress_ = 0;
  std::string statusText_;

  // The control file's path: queued like every file, transferred after all others.
  std::string controlFile_;
  // During Execute: queue position of the run's first item, the number of files queued and the
  // last file whose completion moved the total progress (a file reports its end only once).
  int runOffset_ = 0;
  int queueCount_ = 0;
  int lastCompleted_ = 0;
  int currentItem_ = -1;  // index of the item being transferred
};

}  // namespace kelvane
