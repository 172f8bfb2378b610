#include "transfer/filetransfer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>

#include "platform/errors.h"
#include "platform/messages.h"
#include "platform/paths.h"
#include "transfer/engine.h"
#include "transfer/rules.h"

namespace kelvane {

TTransferItem& TTransferItems::Add() {
  items_.push_back(std::make_unique<TTransferItem>());
  return *items_.back();
}

int TTransferItems::ActiveCount() const {
  int n = 0;
  for (const auto& item : items_)
    if (item->Active) ++n;
  return n;
}

TFileTransfer::TFileTransfer() : progress_(std::make_unique<TTransferProgress>(*this)) {}
TFileTransfer::~TFileTransfer() = default;

void TFileTransfer::Cancel() { cancelled_ = true; }

void TFileTransfer::DialogCancelClicked() {
  if (OnCopyCancel) OnCopyCancel(*this);
  if (!progress_->Finished) cancelled_ = true;
}

void TFileTransfer::Execute() {
  TTransferRunner runner(*this);
  runner.Run();
}

// ---------------------------------------------------------------------------------------------
namespace transfer {

TLocalTarget::~TLocalTarget() {
  if (!committed_) Discard();
}

bool TLocalTarget::Create(const std::string& target) {
  target_ = target;
  const auto sep = target.find_last_of('/');
  const std::string folder =
      sep == std::string::npos ? std::string(".") : target.substr(0, sep + 1);
  if (sep != std::string::npos && !CreateFolders(folder)) return false;
  // The temporary name starts with a dot so that folder listings of readers skip it; process id
  // and a counter keep runs side by side apart, and O_EXCL settles any remaining clash.
  static unsigned counter = 0;
  for (int attempt = 0; attempt < 16 && fd_ < 0; ++attempt) {
    temp_ = (sep == std::string::npos ? std::string() : target.substr(0, sep + 1)) + "." +
            FileNameOf(target) + ".part" + std::to_string(getpid()) + "-" +
            std::to_string(++counter);
    fd_ = open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd_ < 0 && errno != EEXIST) break;
  }
  if (fd_ < 0) {
    temp_.clear();
    return false;
  }
  buffer_.reserve(256 * 1024);
  return true;
}

bool TLocalTarget::Flush() {
  const char* p = buffer_.data();
  std::size_t left = buffer_.size();
  while (left > 0) {
    const ssize_t n = write(fd_, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  buffer_.clear();
  return true;
}

bool TLocalTarget::Write(const char* data, std::size_t n) {
  if (fd_ < 0) return false;
  if (buffer_.size() + n > buffer_.capacity() && !Flush()) return false;
  if (n >= buffer_.capacity()) {
    buffer_.assign(data, n);
    return Flush();
  }
  buffer_.append(data, n);
  return true;
}

long TLocalTarget::CopyFrom(int in, std::size_t n) {
  if (fd_ < 0 || !buffer_.empty()) return -1;
  ssize_t got = copy_file_range(in, nullptr, fd_, nullptr, n, 0);
  while (got < 0 && errno == EINTR) got = copy_file_range(in, nullptr, fd_, nullptr, n, 0);
  return got < 0 ? -1 : static_cast<long>(got);
}

bool TLocalTarget::Commit() {
  if (fd_ < 0) return false;
  bool ok = Flush();
  // An existing target keeps its permissions; a new one gets the usual ones.
  struct stat st;
  if (ok && stat(target_.c_str(), &st) == 0) fchmod(fd_, st.st_mode & 07777);
  if (close(fd_) != 0) ok = false;
  fd_ = -1;
  if (ok && rename(temp_.c_str(), target_.c_str()) != 0) ok = false;
  if (!ok) {
    unlink(temp_.c_str());
    return false;
  }
  committed_ = true;
  return true;
}

void TLocalTarget::Discard() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  if (!temp_.empty()) unlink(temp_.c_str());
  temp_.clear();
}

}  // namespace transfer

// ---------------------------------------------------------------------------------------------

TTransferRunner::TTransferRunner(TFileTransfer& owner) : T(owner), P(*owner.progress_) {}

TTransferRunner::~TTransferRunner() {
  cached_.reset();
  session_.reset();
}

void TTransferRunner::Pump() { ProcessMessages(); }

namespace {
constexpr std::size_t kNetBlock = 4096;
}

bool TTransferRunner::ReceiveBlocks(transfer::TLocalTarget& out, const std::string& target,
                                    const char* data, std::size_t n, std::uint64_t& done,
                                    std::uint64_t size, const std::string& word) {
  // The library hands over what arrived; it moves on in blocks, each reported, each a chance to
  // cancel.
  while (n > 0) {
    const std::size_t block = std::min(n, kNetBlock);
    if (!out.Write(data, block)) throw EInOutError("Unable to write to " + target);
    done += block;
    data += block;
    n -= block;
    Progress(done, size, word, false);
    Pump();
    if (Cancelled()) return false;
  }
  return true;
}

long TTransferRunner::SendBlocks(int fd, const std::string& source, char* buffer,
                                 std::size_t capacity, std::uint64_t& done, std::uint64_t size,
                                 const std::string& word) {
  if (Cancelled()) return -1;
  std::size_t filled = 0;
  while (filled < capacity && done < size) {
    const std::size_t want = std::min(kNetBlock, capacity - filled);
    ssize_t got = read(fd, buffer + filled, want);
    while (got < 0 && errno == EINTR) got = read(fd, buffer + filled, want);
    if (got < 0) throw EInOutError("Error reading source file " + source);
    if (got == 0) break;
    filled += static_cast<std::size_t>(got);
    done += static_cast<std::uint64_t>(got);
    Progress(done, size, word, false);
    Pump();
    if (Cancelled()) break;
  }
  return static_cast<long>(filled);
}

void TTransferRunner::Error(int code, const std::string& info) {
  if (T.OnError) T.OnError(T, code);
  if (T.OnErrorInfo) T.OnErrorInfo(T, code, info);
}

void TTransferRunner::URLNotFound(const std::string& url) {
  if (T.OnURLNotFound) T.OnURLNotFound(T, url);
}

void TTransferRunner::ConnectError() {
  if (T.OnConnectError) T.OnConnectError(T);
}

void TTransferRunner::SetAnimation(TTransferAnimation a) {
  P.Animation = a;
  P.Notify();
}

void TTransferRunner::SetStandardCountPrefix() {
  if (T.Items.Count() < 2) {
    P.CountPrefix.clear();
  } else {
    P.CountPrefix = std::to_string(FileIdx) + " " + T.DlgFileOfLabel + " " +
                    std::to_string(T.Items.ActiveCount()) + " : ";
  }
}

void TTransferRunner::SetFileLine(const std::string& name, const std::string& word,
                                  const std::string& place) {
  P.FileLine = T.DlgFileLabel + " " + P.CountPrefix + name;
  if (!word.empty()) P.FileLine += " " + word + " " + place;
  P.Notify();
}

void TTransferRunner::StartClock() { start_ = std::chrono::steady_clock::now(); }

double TTransferRunner::ElapsedMs() const {
  return static_cast<double>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now() - start_)
                                 .count());
}

void TTransferRunner::Progress(std::uint64_t done, std::uint64_t total, const std::string& word,
                               bool copy) {
  const auto size32 = [](std::uint64_t n) { return static_cast<std::uint32_t>(n); };
  if (copy && T.OnCopyProgress) T.OnCopyProgress(T, FileIdx, done, total);
  if (copy) {
    P.BarPosition = total == 0 ? 100
                               : static_cast<int>(std::nearbyint(static_cast<double>(done) /
                                                                 static_cast<double>(total) * 100));
    P.ProgressLine = T.DlgProgressLabel + " " + TransferSizeText(size32(done)) + " " +
                     T.DlgFileOfLabel + " " + TransferSizeText(size32(total));
  } else if (total > 0) {
    P.BarPosition = static_cast<int>(
        std::nearbyint(static_cast<double>(done) / static_cast<double>(total) * 100));
    P.ProgressLine = T.DlgProgressLabel + " " + TransferSizeText(size32(done)) + " " +
                     T.DlgFileOfLabel + " " + TransferSizeText(size32(total));
  } else {
    P.ProgressLine = T.DlgProgressLabel + " " + TransferSizeText(size32(done));
  }
  if (!copy && T.OnCopyProgress) T.OnCopyProgress(T, FileIdx, done, total);
  const double ms = ElapsedMs();
  const auto rateLine = [&] {
    const double rate = std::nearbyint(static_cast<double>(done) * 1000 / (ms + 1));
    P.RateLine = T.DlgRateLabel + " " +
                 TransferRateText(static_cast<std::int32_t>(std::min(rate, 2147483647.0)));
  };
  if (copy) rateLine();
  if (T.ShowCompletion)
    P.Caption = word + " : " + std::to_string(P.BarPosition) + "% " + T.DlgCompleted;
  if (!copy) rateLine();
  P.TimeLine = T.DlgTimeLabel + " " + TransferTimeText(ms, done, total);
  P.ElapsedLine = T.DlgElapsedTimeLabel + " " + TransferTimeText(ms, 0, total);
  P.Notify();
}

void TTransferRunner::SetLastTarget(const std::string& file, const std::string& folder) {
  P.LastTargetFile = file;
  P.LastTargetFolder = folder;
}

bool TTransferRunner::DateCheckWanted(const TTransferItem& item) const {
  return item.CopyNewerOnly || static_cast<bool>(T.OnFileDateCheck);
}

bool TTransferRunner::NewerOnly(const TTransferItem& item, int index, TDateTime compared,
                                bool upload, bool copy, const std::string& name) {
  if (!DateCheckWanted(item)) return true;
  if (T.OnFileDateCheck) {
    bool allow = true;
    T.OnFileDateCheck(T, index, compared, allow);
    if (allow || !copy) WorkDate = compared;
    return allow;
  }
  const bool go = upload ? !(compared > WorkDate) : compared > WorkDate;
  WorkDate = compared;
  if (!go) {
    NoNewFile = true;
    if (T.OnNoNewFileFound) T.OnNoNewFileFound(T, name, compared, compared);
  }
  return go;
}

bool TTransferRunner::OverwriteAllowed(std::string& target) {
  bool allow = true;
  if (T.OnCopyOverWrite) T.OnCopyOverWrite(T, target, allow);
  if (!allow) return false;
  if (T.CreateUniqueFilenames) target = transfer::UniqueName(target);
  return true;
}

transfer::TInternetSession& TTransferRunner::Session() {
  if (!session_)
    session_ = std::make_unique<transfer::TInternetSession>(T.Agent, T.Proxy, T.ProxyUserID,
                                                            T.ProxyPassword);
  return *session_;
}

void TTransferRunner::FtpHost(const TTransferItem& item, std::string& name, int& port) {
  transfer::SplitHostPort(item.FTPHost, item.FTPPort, name, port);
}

// Host, port, user and password, kept apart so that different logins never share a key.
std::string TTransferRunner::FtpKey(const TTransferItem& item) {
  std::string host;
  int port = 0;
  FtpHost(item, host, port);
  return host + '\n' + std::to_string(port) + '\n' + item.FTPUserID + '\n' + item.FTPPassword;
}

std::unique_ptr<transfer::TFtpConnection> TTransferRunner::FtpConnect(const TTransferItem& item,
                                                                      bool reuse) {
  const std::string key = FtpKey(item);
  if (reuse && cached_ && cachedKey_ == key) return std::move(cached_);
  std::string host;
  int port = 0;
  FtpHost(item, host, port);
  transfer::TNetResult result;
  auto c = Session().FtpConnect(host, port, item.FTPUserID, item.FTPPassword, T.FTPPassive, result);
  if (!c) Error(6, "Cannot connect to FTP server " + item.FTPHost);
  return c;
}

void TTransferRunner::FtpRelease(std::unique_ptr<transfer::TFtpConnection> c,
                                 const TTransferItem& item, bool stayOpen) {
  if (stayOpen && c) {
    cached_ = std::move(c);
    cachedKey_ = FtpKey(item);
  } else {
    c.reset();
    ForgetFtp();
  }
}

void TTransferRunner::ForgetFtp() {
  cached_.reset();
  cachedKey_.clear();
}

namespace {

bool IsFtpSingle(TTransferProtocol p) {
  return p == TTransferProtocol::wpFtp || p == TTransferProtocol::wpFtpUpload;
}

std::unique_ptr<TTransferKind> KindFor(TTransferProtocol p) {
  switch (p) {
    case TTransferProtocol::wpFile:
      return MakeFileCopyKind();
    case TTransferProtocol::wpHttp:
      return MakeHttpKind(false);
    case TTransferProtocol::wpHttpUpload:
      return MakeHttpKind(true);
    default:
      return MakeFtpKind(p);
  }
}

}  // namespace

void TTransferRunner::Run() {
  T.cancelled_ = false;
  P.Build(T.ProgressView);
  if (T.ShowDialog) {
    if (T.OnBeforeDialogShow) T.OnBeforeDialogShow(T, P);
    P.Visible = true;
    if (T.ProgressView) T.ProgressView->Show(P);
    if (T.AlwaysOnTop) P.Topmost = true;
  }

  // Whatever leaves the loop (an EInOutError from a block loop included), the connections are
  // closed and the dialog does not stay behind.
  struct TDialogGuard {
    TTransferRunner& r;
    bool done = false;
    ~TDialogGuard() {
      if (!done) {
        r.ForgetFtp();
        r.P.Close();
      }
    }
  } guard{*this};

  FileIdx = 0;
  for (int i = 0; i < T.Items.Count(); ++i) {
    TTransferItem& item = T.Items[i];
    if (!item.Active) continue;
    ++FileIdx;
    if (T.OnFileStart) T.OnFileStart(T, i);
    switch (item.Protocol) {
      case TTransferProtocol::wpHttp:
      case TTransferProtocol::wpFtp:
        P.Caption = T.DlgDwnload + " ...";
        break;
      case TTransferProtocol::wpFile:
        P.Caption = T.DlgCopying + " ...";
        break;
      case TTransferProtocol::wpFtpUpload:
      case TTransferProtocol::wpHttpUpload:
        P.Caption = T.DlgUpload + " ...";
        break;
      default:
        break;
    }
    P.Notify();
    KeepOpen = false;
    if (IsFtpSingle(item.Protocol) && i + 1 < T.Items.Count()) {
      const TTransferItem& next = T.Items[i + 1];
      KeepOpen = IsFtpSingle(next.Protocol) && FtpKey(next) == FtpKey(item);
    }
    WorkDate = item.FileDate;
    NoNewFile = false;
    StartClock();
    const bool ok = KindFor(item.Protocol)->Run(*this, item, i);
    item.NewFileDate = WorkDate;
    item.Success = ok && !T.cancelled_;
    item.NoNewFile = NoNewFile;
    if (T.cancelled_) break;
    if (T.OnFileDone) T.OnFileDone(T, i);
  }
  ForgetFtp();
  session_.reset();
  guard.done = true;

  if (T.ShowOpenFile || T.ShowOpenFolder) {
    if (T.OnCopyDone) T.OnCopyDone(T);
    P.CancelCaption = T.DlgClose;
    P.Finished = true;
    P.AnimationRunning = false;
    if (!T.cancelled_) {
      P.OpenFileEnabled = P.HasOpenFileButton;
      P.OpenFolderEnabled = P.HasOpenFolderButton;
    }
    P.Notify();
  } else {
    P.Finished = true;
    P.Close();
    if (T.OnCopyDone) T.OnCopyDone(T);
  }
}

}  // namespace kelvane
