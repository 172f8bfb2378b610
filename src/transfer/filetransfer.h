#pragma once
// TFileTransfer: runs a list of file transfers one after another on the caller's thread.
//
//   TFileTransfer t;
//   TTransferItem& item = t.Items.Add();
//   item.Protocol = TTransferProtocol::wpFtpUpload;
//   item.URL = "/home/me/out/update.inf";      // local source
//   item.FTPHost = "ftp.example.org:2121";     // a ":port" suffix sets the port (FTPPort
//   otherwise) item.FTPUserID = "me"; item.FTPPassword = "secret"; item.TargetDir = "updates/app";
//   t.FTPPassive = true;
//   t.OnErrorInfo = [](TFileTransfer&, int code, const std::string& text) { ... };
//   t.Execute();                                // item.Success tells how it went
//
// An FTP TargetDir is taken relative to the login folder, every missing level being created.
// Consecutive wpFtp / wpFtpUpload items with the same host, port, user and password share one
// login; any other item in between closes it.
//
// A copy to a folder or a mounted share is the same with Protocol = wpFile, URL = the local file
// and TargetDir = the folder (a \\server\share\dir name works when the share is mounted; one
// that no share layer reaches fires OnConnectError and fails the item, see platform/shares.h).
//
// Windows: the progress dialog is a model (TTransferProgress, transfer/progress.h) kept up to
// date even when ShowDialog is false; a TTransferProgressView shows it. HTTP logins go through a
// TTransferLoginForm. Messages are processed through kelvane::ProcessMessages (platform/
// messages.h) after every block and at the waiting points, which is where Cancel arrives.
//
// Kinds (TTransferProtocol): wpHttp download, wpHttpUpload POST/PUT, wpFtp download, wpFtpUpload,
// wpMultiFtp / wpMultiFtpUpload (all files matching a mask), wpFtpDelete, wpFtpList, and wpFile
// (copy between local folders or mounted network shares).
//
// How a run reports:
//  - every item gets Success / NoNewFile / NewFileDate; a failed item never stops the run;
//  - OnError(code) then OnErrorInfo(code, text) for the numbered failures (codes below);
//  - OnURLNotFound, OnConnectError, OnRemovedFileFailed for the failures that carry no code;
//  - Cancel() (from any event handler, or from a handler run by ProcessMessages) stops the running
//    transfer after its current block; the item fails, later items do not run, OnCopyDone fires.
//
// What a run guarantees about files:
//  - a download or copy writes a temporary file beside its target and renames it into place only
//    when every byte arrived; an upload writes a temporary remote name in the target folder and
//    renames it when every byte was sent. A failed or cancelled transfer removes its temporary file
//    and leaves any previous target untouched;
//  - an HTTP body shorter than its Content-Length or a broken connection is a failure.
//
// Error codes passed to OnError / OnErrorInfo (texts are followed by the path, host or number):
//   0 "Cannot copy identical files "          file copy, source equals target
//   1 "Cannot open source file "              file copy, FTP upload
//   2 "Zero length source file "              file copy, size not readable
//   3 "Cannot create target file "            file copy, FTP download
//   3 "Cannot create file "                   HTTP download
//   4 "Error reading source file "            file copy
//   5 "Error writing to destination file "    file copy
//   6 "Cannot connect to FTP server "         every FTP kind
//   6 "Cannot connect to server "             HTTP upload
//   >=300 "Returned http error code <n>"      HTTP download; HTTP upload the server refused
//   12000 + n  the transfer library's text    a connection that broke or failed mid-way
//              for its code n                 (HTTP, FTP)
//
// A local read or write failure inside an HTTP or FTP block loop raises EInOutError, which leaves
// Execute (the rest of the run is abandoned; temporary files are removed first).
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/datetime.h"
#include "transfer/progress.h"

namespace kelvane {

enum class TTransferProtocol {
  wpHttp = 0,
  wpFtp = 1,
  wpFile = 2,
  wpFtpUpload = 3,
  wpHttpUpload = 4,
  wpMultiFtp = 5,
  wpMultiFtpUpload = 6,
  wpFtpDelete = 7,
  wpFtpList = 8,
};
enum class TTransferHTTPCommand { hcPost = 0, hcPut = 1 };
enum class TTransferAuthentication { waNever = 0, waAlways = 1, waAuto = 2 };

// One entry of an FTP listing (wpFtpList).
struct TFileDetailItem {
  std::uint32_t Attributes = 0;  // 0x10 folder, 0x80 plain file
  std::string FileName;
  std::uint64_t FileSize = 0;
  std::uint64_t CreationTime = 0;  // Windows FILETIME: 100 ns since 1601-01-01, UTC
};
using TFileDetailItems = std::vector<TFileDetailItem>;

class TTransferItem {
 public:
  bool Active = true;
  TTransferAuthentication Authenticate = TTransferAuthentication::waNever;
  bool CopyNewerOnly = false;
  TDateTime FileDate = 0;
  // FTP server (wpFile: the network share \\server\share to connect). "name:port" also sets the
  // port, overriding FTPPort.
  std::string FTPHost;
  std::string FTPUserID;
  std::string FTPPassword;
  std::int32_t FTPPort = 21;
  TTransferHTTPCommand HTTPCommand = TTransferHTTPCommand::hcPost;
  TTransferProtocol Protocol = TTransferProtocol::wpHttp;
  std::string TargetDir;
  std::string TargetFilename;
  std::string URL;
  std::string HTTPUserID;
  std::string HTTPPassword;

  // Results, written by Execute.
  bool Success = false;
  bool NoNewFile = false;
  TDateTime NewFileDate = 0;
  std::vector<std::string> FileList;  // wpFtpList: names
  TFileDetailItems FileDetails;       // wpFtpList: one record per name
};

class TTransferItems {
 public:
  TTransferItem& Add();
  TTransferItem& operator[](int index) { return *items_.at(index); }
  const TTransferItem& operator[](int index) const { return *items_.at(index); }
  TTransferItem& Items(int index) { return *items_.at(index); }
  int Count() const { return static_cast<int>(items_.size()); }
  int ActiveCount() const;
  void Clear() { items_.clear(); }

 private:
  std::vector<std::unique_ptr<TTransferItem>> items_;  // stable addresses while adding
};

// The login dialog of HTTP downloads. The editor implements it with a window; tests script it.
// Execute shows it with a caption and empty fields; true = confirmed with OK.
class TTransferLoginForm {
 public:
  virtual ~TTransferLoginForm() = default;
  virtual bool Execute(const std::string& caption, std::string& user, std::string& password) = 0;
};

class TInternetSession;  // one per Execute: the transfer library's state (connections, agent,
                         // proxy)
struct TRunState;

class TFileTransfer {
 public:
  TFileTransfer();
  ~TFileTransfer();
  TFileTransfer(const TFileTransfer&) = delete;
  TFileTransfer& operator=(const TFileTransfer&) = delete;

  // Runs every active item in order. Never throws for a failed item; see EInOutError above.
  void Execute();
  // Stops the running transfer after its current block; no further item starts.
  void Cancel();
  // True from Cancel (or the dialog's cancel button) until the next Execute.
  bool Cancelled() const { return cancelled_; }

  std::string Agent = "Ferrow";
  bool AlwaysOnTop = false;
  bool CreateUniqueFilenames = false;
  std::string DlgCancel = "Cancel";
  std::string DlgCaption = "Downloading";
  std::string DlgCompleted = "completed";
  std::string DlgClose = "Close";
  std::string DlgFileLabel = "File :";
  std::string DlgFileOfLabel = "of";
  std::string DlgFromServerLabel = "from";
  std::string DlgToServerLabel = "to";
  std::string DlgProgressLabel = "Progress :";
  std::string DlgRateLabel = "Transfer rate :";
  std::string DlgTimeLabel = "Estimated time left :";
  std::string DlgElapsedTimeLabel = "Elapsed time :";
  std::string DlgCopying = "Copying";
  std::string DlgDwnload = "Downloading";
  std::string DlgUpload = "Uploading";
  std::string DlgOpenFile = "Open file";
  std::string DlgOpenFolder = "Open folder";
  bool FTPPassive = false;
  bool HTTPKeepAliveAuthentication = false;
  TTransferItems Items;
  std::string Proxy;  // empty: the environment's settings (http_proxy, no_proxy, ...)
  std::string ProxyUserID;
  std::string ProxyPassword;
  bool DlgShowCancel = true;
  bool DlgShowCloseBtn = false;
  bool ShowDialog = true;
  bool ShowDialogOnTop = true;
  bool ShowOpenFile = false;
  bool ShowOpenFolder = false;
  bool ShowCompletion = false;
  bool ShowElapsedTime = false;
  bool ShowFileName = true;
  bool ShowServer = true;
  bool ShowTime = false;
  std::string Version() const { return "2.1.0.0"; }

  // The window side. Without a view the dialog model is still kept up to date (tests read it).
  TTransferProgressView* ProgressView = nullptr;
  // Without a login form every login request counts as cancelled.
  TTransferLoginForm* LoginForm = nullptr;
  // The progress dialog's model of the last Execute (texts, bar, layout, buttons).
  TTransferProgress& Progress() { return *progress_; }

  // Events; sender first, an empty function means the default.
  std::function<void(TFileTransfer&, int idx)> OnFileStart;
  std::function<void(TFileTransfer&, int idx)> OnFileDone;
  std::function<void(TFileTransfer&)> OnCopyDone;
  // fileidx: 1-based position among active items; size: bytes so far; totsize: 0 when unknown.
  std::function<void(TFileTransfer&, int fileidx, std::uint64_t size, std::uint64_t totsize)>
      OnCopyProgress;
  std::function<void(TFileTransfer&)> OnCopyCancel;
  std::function<void(TFileTransfer&, int code)> OnError;
  std::function<void(TFileTransfer&, int code, const std::string& info)> OnErrorInfo;
  std::function<void(TFileTransfer&)> OnConnectError;
  std::function<void(TFileTransfer&, const std::string& url)> OnURLNotFound;
  std::function<void(TFileTransfer&, const std::string& tgtfile, bool& allow)> OnCopyOverWrite;
  std::function<void(TFileTransfer&, int idx, TDateTime newdate, bool& allow)> OnFileDateCheck;
  std::function<void(TFileTransfer&, const std::string& tgtfile, TDateTime curdate,
                     TDateTime newdate)>
      OnNoNewFileFound;
  std::function<void(TFileTransfer&, const std::string& filename)> OnMultiFTPFileDone;
  std::function<void(TFileTransfer&, int idx)> OnRemovedFile;
  std::function<void(TFileTransfer&, int idx)> OnRemovedFileFailed;
  std::function<void(TFileTransfer&, TTransferProgress& dialog)> OnBeforeDialogShow;

  // Used by the dialog's buttons (TTransferProgress); not for callers.
  void DialogCancelClicked();

 private:
  friend struct TRunState;
  friend class TTransferRunner;
  bool cancelled_ = false;
  std::unique_ptr<TTransferProgress> progress_;
};

}  // namespace kelvane
