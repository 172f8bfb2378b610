#include "build/builddriver.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <ostream>
#include <system_error>
#include <vector>

#include "build/validation.h"
#include "filefacts/filefacts.h"
#include "platform/errors.h"
#include "platform/messages.h"
#include "platform/paths.h"

namespace kelvane {

namespace {

bool SameTextIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<unsigned char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

}  // namespace

int RoundedShare(std::uint64_t part, std::uint64_t whole, int scale) {
  if (whole == 0) return part == 0 ? scale : 0;
  // scale * part / whole, rounded half to even, in 128 bits so that no size overflows.
  const unsigned __int128 num = static_cast<unsigned __int128>(part) * static_cast<unsigned>(scale);
  unsigned __int128 q = num / whole;
  const unsigned __int128 twice = (num % whole) * 2;
  if (twice > whole || (twice == whole && (q & 1) != 0)) ++q;
  return static_cast<int>(q);
}

// The milestone as a whole is rounded (35 + 7.5 gives 42, not 35 + 8).
int EntryMilestone(int i, int n) {
  if (n <= 0) return 75;
  const auto whole = static_cast<std::uint64_t>(n);
  return RoundedShare(35 * whole + 40 * static_cast<std::uint64_t>(i + 1), whole, 1);
}

int TransferMilestone(int k, int count) {
  if (count <= 0) return 100;
  const auto whole = static_cast<std::uint64_t>(count);
  return RoundedShare(75 * whole + 25 * static_cast<std::uint64_t>(k), whole, 1);
}

TBuildDriver::TBuildDriver(TProjectState& state, TFileTransfer& transfer, TCABFile& cabinet)
    : state_(state), transfer_(transfer), cabinet_(cabinet) {
  transfer_.ShowDialog = false;  // the build view shows the progress
  transfer_.Agent = "Ferrow";
  cabinet_.LZXMemory = lzxLowest;
  transfer_.OnCopyProgress = [this](TFileTransfer&, int fileidx, std::uint64_t size,
                                    std::uint64_t totsize) {
    OnCopyProgress(fileidx, size, totsize);
  };
  transfer_.OnErrorInfo = [this](TFileTransfer&, int, const std::string& text) {
    state_.Log.LogMessage(text, mkError);
  };
  // Failures the engine reports without a text (an unreachable share, a missing source) are
  // logged too, so that the log says why a file was not published.
  transfer_.OnFileStart = [this](TFileTransfer&, int idx) { currentItem_ = idx; };
  transfer_.OnConnectError = [this](TFileTransfer&) {
    if (currentItem_ < 0 || currentItem_ >= transfer_.Items.Count()) return;
    const TTransferItem& item = transfer_.Items[currentItem_];
    state_.Log.LogMessage(
        "Cannot connect to " + (item.FTPHost.empty() ? item.TargetDir : item.FTPHost), mkError);
  };
  transfer_.OnURLNotFound = [this](TFileTransfer&, const std::string& url) {
    state_.Log.LogMessage("File not found : " + url, mkError);
  };
  transfer_.OnCopyCancel = [this](TFileTransfer&) {
    if (View) {
      View->AddStepLine("Update Canceled");
      View->SetFileProgress(0);
      View->SetTotalProgress(0);
    }
  };
}

void TBuildDriver::RunBuild() {
  if (building_) {
    if (Ask("Project Build",
            "Project is currently building.\r\nDo you want to cancel the build process?"))
      RequestCancel();
    return;
  }

  building_ = true;
  cancel_ = false;
  failed_ = false;
  validationFailed_ = false;
  failedTransfers_ = 0;
  outcome_ = TBuildOutcome::boNone;
  SetStatus("");
  if (View) {
    View->SetCancelEnabled(true);
    View->SetStatusPicture("");
    View->StartAnimation();
  }
  SetStatus("Project Running");
  if (View) View->ShowBalloon("Project Running");

  RunSteps();

  if (View) View->StopAnimation();
  if (cancel_) {
    if (View) {
      View->SetFileProgress(0);
      View->SetTotalProgress(0);
      View->ShowBalloon("Project Cancelled");
    }
    SetStatus("Project Cancelled");
    if (View) View->SetStatusPicture("cancel");
  } else {
    if (View) View->ShowBalloon("Project Finished");
    SetStatus("Project Finished");
    if (View) View->SetStatusPicture("ok");
  }
  if (View) {
    View->SetCancelEnabled(false);
    View->SetFileLabels("File Source:", "File Destination:", "File Progress:");
  }

  if (validationFailed_) {
    outcome_ = TBuildOutcome::boValidationFailed;
  } else if (failed_) {
    outcome_ = TBuildOutcome::boFailed;
  } else if (cancel_) {
    outcome_ = TBuildOutcome::boCancelled;
  } else if (failedTransfers_ > 0) {
    outcome_ = TBuildOutcome::boFinishedWithErrors;
  } else {
    outcome_ = TBuildOutcome::boFinished;
  }
  building_ = false;
}

void TBuildDriver::CancelBuild() {
  if (!building_) return;
  if (Ask("Project Build",
          "Project is currently building.\r\nAre you sure you want to cancel the build process?"))
    RequestCancel();
}

void TBuildDriver::RequestCancel() {
  if (!building_) return;
  cancel_ = true;
  transfer_.Cancel();
  SetStatus("Waiting for project to be cancelled");
}

void TBuildDriver::RunSteps() {
  TUpdateProject& project = state_.Project;
  TProjectLog& log = state_.Log;
  try {
    if (View) View->ClearStepLines();
    transfer_.Items.Clear();
    controlFile_.clear();
    ProcessMessages();
    log.ErrorCount = 0;

    Report("Building Project...");
    ReportTotalProgress(0);

    transfer_.ShowDialog = false;
    transfer_.Agent = "Ferrow";
    transfer_.FTPPassive = project.ftppass;

    if (!ValidateProject(project, log)) {
      ValidationFailed();
      return;
    }

    Report("Initialize Build Complete...");
    ReportTotalProgress(10);

    Report("Updating final INF file...");
    TControlFileContext context;
    context.UpdateFilePath = state_.Environment.UpdateFilePath;
    context.Log = &log;
    context.View = ControlFileView;
    const std::string inf = GenerateControlFile(project, context);
    // An empty path means the project was being loaded: nothing was written, so nothing valid
    // could be published.
    if (inf.empty())
      throw EKelvaneError("The control file was not written: the project is loading");
    if (View) View->AddStepLine("Updating INF file complete...");
    log.LogMessage("Updating final INF file complete...", mkInformational);
    ReportTotalProgress(20);

    controlFile_ = inf;
    QueueForTransfer(inf);
    Report("Adding INF file : " + inf + " to Update List");
    ReportTotalProgress(30);

    if (!project.eula.empty()) {
      Report("Adding Eula file : " + project.eula + " to Update List");
      QueueForTransfer(project.eula);
    }
    if (!project.whatsnew.empty()) {
      Report("Adding Whats New file : " + project.whatsnew + " to Update List");
      QueueForTransfer(project.whatsnew);
    }
    ReportTotalProgress(35);

    const int n = static_cast<int>(project.files.size());
    for (int i = 0; i < n; ++i) {
      const TFileEntry& entry = project.files[static_cast<std::size_t>(i)];
      if (entry.level == 0 && entry.file) {
        const TFileObject& file = *entry.file;
        std::string source = file.url;
        if (file.compressed == 0 && file.includeappcomps) {
          const std::string target = NewCopyPath(file);
          Report("Copying and renaming file : " + target);
          MakeNewCopy(source, target);
          source = target;
        } else if (file.compressed == 1) {
          source = ArchivePath(file);
          Report("Compressing file... : " + source);
          MakeArchive(i);
          Report("Compressing file completed : " + source);
        }
        Report("Adding file : " + source + " to Update List");
        QueueForTransfer(source);
      }
      ReportTotalProgress(EntryMilestone(i, n));
      ProcessMessages();
      if (cancel_) return;
    }
    // A cancel that arrived before the loop (or with an empty list) must not reach the engine,
    // which forgets earlier cancels when it starts.
    if (cancel_) return;

    Report("Transferring files...");
    TransferQueue();
    if (cancel_) return;
    if (failedTransfers_ > 0) {
      const std::string text = "Update not uploaded: " + std::to_string(failedTransfers_);
      if (View) View->AddStepLine(text);
      log.LogMessage(text, mkError);
    } else {
      Report("Update uploaded");
    }
  } catch (const std::exception& e) {
    failed_ = true;
    cancel_ = true;
    log.LogMessage(e.what(), mkError);
  } catch (...) {
    failed_ = true;
    cancel_ = true;
    log.LogMessage("Unknown error", mkError);
  }
}

void TBuildDriver::ValidationFailed() {
  validationFailed_ = true;
  const int errors = state_.Log.ErrorCount;
  if (errors > 0) {
    if (View) View->AddStepLine("Project has Build errors");
    state_.Log.LogMessage("Project has Build errors", mkError);
    if (Ask("  Project Build Errors", "There are " + std::to_string(errors) +
                                          " errors\r\nDo you want to view the error log?")) {
      if (View) View->ShowLogPage();
    }
  }
  cancel_ = true;
}

void TBuildDriver::QueueForTransfer(const std::string& path) {
  for (int i = 0; i < transfer_.Items.Count(); ++i)
    if (SameTextIgnoringCase(transfer_.Items[i].URL, path)) return;
  const TUpdateProject& project = state_.Project;
  TTransferItem& item = transfer_.Items.Add();
  item.Active = true;
  item.URL = path;
  if (project.unc) {
    item.Protocol = TTransferProtocol::wpFile;
    item.TargetDir = project.uncdir;
  } else {
    item.FTPHost = project.host;  // "name:port" reaches another port than 21
    item.FTPUserID = project.userid;
    item.FTPPassword = project.passwd;
    item.FTPPort = project.ftpport;
    item.Protocol = TTransferProtocol::wpFtpUpload;
    item.TargetDir = project.ftpdir;
    item.TargetFilename = ExtractFileName(path);
  }
}

// The control file goes last and only when every other file arrived, so a client never reads a
// control file that names files which are not (yet) published. Two runs of the engine keep that
// order without the engine knowing about it.
void TBuildDriver::TransferQueue() {
  std::vector<TTransferItem> files;
  const TTransferItem* control = nullptr;
  TTransferItem controlItem;
  for (int i = 0; i < transfer_.Items.Count(); ++i) {
    if (!controlFile_.empty() && transfer_.Items[i].URL == controlFile_ && control == nullptr) {
      controlItem = transfer_.Items[i];
      control = &controlItem;
    } else {
      files.push_back(transfer_.Items[i]);
    }
  }
  transfer_.Items.Clear();
  for (const TTransferItem& item : files) transfer_.Items.Add() = item;
  if (control) transfer_.Items.Add() = *control;

  queueCount_ = transfer_.Items.Count();
  lastCompleted_ = 0;
  const int fileCount = static_cast<int>(files.size());

  // First run: every file but the control file.
  if (control) transfer_.Items[queueCount_ - 1].Active = false;
  runOffset_ = 0;
  if (fileCount > 0) transfer_.Execute();
  if (transfer_.Cancelled()) cancel_ = true;
  for (int i = 0; i < fileCount; ++i)
    if (!transfer_.Items[i].Success) ++failedTransfers_;

  if (control) {
    TTransferItem& last = transfer_.Items[queueCount_ - 1];
    if (failedTransfers_ == 0 && !cancel_) {
      for (int i = 0; i < fileCount; ++i) transfer_.Items[i].Active = false;
      last.Active = true;
      runOffset_ = fileCount;
      transfer_.Execute();
      if (transfer_.Cancelled()) cancel_ = true;
      if (!last.Success && !cancel_) ++failedTransfers_;
      for (int i = 0; i < fileCount; ++i) transfer_.Items[i].Active = true;
    } else {
      last.Active = true;
      if (!cancel_) state_.Log.LogMessage("Control file not uploaded: " + last.URL, mkError);
    }
  }
}

void TBuildDriver::OnCopyProgress(int fileidx, std::uint64_t size, std::uint64_t totsize) {
  const int position = runOffset_ + fileidx;  // 1-based place in the queue
  if (position < 1 || position > transfer_.Items.Count()) return;
  const TTransferItem& item = transfer_.Items[position - 1];
  ReportFileProgress(RoundedShare(size, totsize), item.URL, item.TargetDir,
                     static_cast<std::int64_t>(size), static_cast<std::int64_t>(totsize));
  // The engine may report a file's last block more than once; its milestone counts once.
  if (size == totsize && position > lastCompleted_) {
    lastCompleted_ = position;
    ReportTotalProgress(TransferMilestone(position, queueCount_));
  }
}

void TBuildDriver::MakeArchive(int index) {
  const TUpdateProject& project = state_.Project;
  const TFileObject& head = *project.files.at(static_cast<std::size_t>(index)).file;
  const std::vector<std::string> members = project.CabMembers(index);
  const std::string archive = ArchivePath(head);

  cabinet_.CompressionType = typLZX;
  cabinet_.LZXMemory = lzxLowest;
  cabinet_.CABFile = archive;
  // An old archive must never be published in place of one that could not be made.
  if (unlink(archive.c_str()) != 0 && errno != ENOENT)
    throw EInOutError("Unable to delete " + archive + " : " + std::strerror(errno));
  cabinet_.CABFileContents.Clear();
  for (const std::string& member : members) {
    TCABFileEntry& entry = cabinet_.CABFileContents.Add();
    entry.Name = member;
    entry.RelPath.clear();
  }

  const std::string source = members.size() == 1
                                 ? "Single File...[" + members.front() + "]"
                                 : "Multiple Files...[" + std::to_string(members.size()) + "]";
  cabinet_.OnCompressProgress = [&](TCABFile*, std::int32_t pos, std::int32_t tot) {
    // Both are the low 32 bits of the writer's counters.
    const auto done = static_cast<std::uint32_t>(pos);
    const auto total = static_cast<std::uint32_t>(tot);
    ReportFileProgress(RoundedShare(done, total), source, archive, done, total);
  };
  bool ok = false;
  try {
    ok = cabinet_.Compress();
  } catch (...) {
    cabinet_.OnCompressProgress = nullptr;
    throw;
  }
  cabinet_.OnCompressProgress = nullptr;
  if (!ok) state_.Log.LogMessage("Error creating CAB file", mkError);
}

// The copy is made beside the target and renamed into place: a failed copy leaves no partial
// "_NEW" file behind and ends the build, so an older "_NEW" file is never published as new.
void TBuildDriver::MakeNewCopy(const std::string& source, const std::string& target) {
  namespace fs = std::filesystem;
  const std::string temp =
      ExtractFilePath(target) + "." + ExtractFileName(target) + "." + std::to_string(getpid());
  std::error_code ec;
  fs::copy_file(source, temp, fs::copy_options::overwrite_existing, ec);
  if (!ec) fs::rename(temp, target, ec);
  if (ec) {
    std::error_code ignored;
    fs::remove(temp, ignored);
    throw EInOutError("Unable to copy " + source + " to " + target + " : " + ec.message());
  }
}

void TBuildDriver::ReportFileProgress(int percent, const std::string& source,
                                      const std::string& destination, std::int64_t done,
                                      std::int64_t total) {
  ProcessMessages();
  const std::string doneText = FormatFileSize(done);
  const std::string totalText = FormatFileSize(total);
  if (View) {
    View->SetFileProgress(percent);
    View->SetFileLabels("File Source: " + source, "File Destination: " + destination,
                        "File Progress: " + doneText + " / " + totalText);
    View->SetTrayHint("Project Progress : " + std::to_string(totalProgress_) + "%");
  }
  TProjectLog& log = state_.Log;
  if (log.CompileFlag && log.Console) {
    *log.Console << "[" << source << "] To [" << destination << "] Progress : [" << doneText
                 << " / " << totalText << "]\n\n\n";
    log.Console->flush();
  }
}

void TBuildDriver::ReportTotalProgress(int percent) {
  totalProgress_ = percent;
  if (View) View->SetTotalProgress(percent);
  state_.Log.ReportTotalProgress(percent);
}

void TBuildDriver::Report(const std::string& text) {
  if (View) View->AddStepLine(text);
  state_.Log.LogMessage(text, mkInformational);
}

void TBuildDriver::SetStatus(const std::string& text) {
  statusText_ = text;
  if (View) View->SetStatusText(text);
}

bool TBuildDriver::Ask(const std::string& title, const std::string& message) {
  return View != nullptr && View->AskYesNo(title, message);
}

}  // namespace kelvane
