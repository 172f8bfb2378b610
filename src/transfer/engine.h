#pragma once
// Inside Execute: the state of one run and the pieces every transfer kind shares (events, the
// newer-only and overwrite rules, progress, the local target written whole or not at all).
// Each kind (filecopy.cpp, ftp.cpp, http.cpp) is one TTransferKind; the run loop is written once.
#include <chrono>
#include <memory>
#include <string>

#include "transfer/filetransfer.h"
#include "transfer/internet.h"

namespace kelvane {

class TTransferRunner;

// One transfer kind: runs one item and says whether it succeeded. Failures are reported through
// the runner's events before returning false.
class TTransferKind {
 public:
  virtual ~TTransferKind() = default;
  virtual bool Run(TTransferRunner& run, TTransferItem& item, int index) = 0;
};

std::unique_ptr<TTransferKind> MakeFileCopyKind();
std::unique_ptr<TTransferKind> MakeHttpKind(bool upload);
std::unique_ptr<TTransferKind> MakeFtpKind(TTransferProtocol protocol);

namespace transfer {

// The transfer library's failures are numbered from 12000 up, as the Internet library of the
// original numbers its own, so they never meet the engine's codes 0 to 6 or an HTTP status.
constexpr int kInternetErrorBase = 12000;

// A local file written under a temporary name beside its target and renamed into place by
// Commit; destroyed without Commit it removes the temporary file. Writes are buffered.
class TLocalTarget {
 public:
  TLocalTarget() = default;
  ~TLocalTarget();
  TLocalTarget(const TLocalTarget&) = delete;
  TLocalTarget& operator=(const TLocalTarget&) = delete;
  // Creates the missing folders and the temporary file. False when either fails.
  bool Create(const std::string& target);
  // False when the platform refuses the bytes.
  bool Write(const char* data, std::size_t n);
  bool Commit();
  void Discard();
  bool IsOpen() const { return fd_ >= 0; }
  // Copies up to `n` bytes from `in` inside the kernel (no pass through this process).
  // Returns the bytes copied, 0 at the end of `in`, -1 when the kernel cannot do it here (the
  // caller then reads and writes itself; nothing was copied).
  long CopyFrom(int in, std::size_t n);

 private:
  bool Flush();
  int fd_ = -1;
  std::string target_, temp_;
  std::string buffer_;
  bool committed_ = false;
};

}  // namespace transfer

class TTransferRunner {
 public:
  explicit TTransferRunner(TFileTransfer& owner);
  ~TTransferRunner();

  void Run();

  TFileTransfer& T;
  TTransferProgress& P;

  // State of the item being run.
  int FileIdx = 0;         // 1-based among active items
  bool KeepOpen = false;   // the FTP connection stays for the next item
  TDateTime WorkDate = 0;  // working copy of FileDate
  bool NoNewFile = false;

  bool Cancelled() const { return T.cancelled_; }
  void ClearCancel() { T.cancelled_ = false; }
  void Pump();  // lets the application process pending messages

  // OnError then OnErrorInfo.
  void Error(int code, const std::string& info);
  void URLNotFound(const std::string& url);
  void ConnectError();

  // Dialog texts.
  void SetAnimation(TTransferAnimation a);
  void SetFileLine(const std::string& name, const std::string& word, const std::string& place);
  void SetCountPrefix(const std::string& prefix) { P.CountPrefix = prefix; }
  void SetStandardCountPrefix();
  void StartClock();
  double ElapsedMs() const;
  // The progress update after every block; `copy` selects the file-copy variant.
  void Progress(std::uint64_t done, std::uint64_t total, const std::string& word, bool copy);
  void SetLastTarget(const std::string& file, const std::string& folder);

  // The block loops of the network kinds, in blocks of 4096 bytes, each reported with `word`
  // and each a chance to cancel. `done` counts the bytes moved so far; `size` is the total (0
  // when unknown).
  // Download: writes what the library delivered to `out`; false when cancelled. A refused local
  // write raises EInOutError "Unable to write to <target>".
  bool ReceiveBlocks(transfer::TLocalTarget& out, const std::string& target, const char* data,
                     std::size_t n, std::uint64_t& done, std::uint64_t size,
                     const std::string& word);
  // Upload: fills the library's buffer from `fd`, never past `size`; the bytes filled, or -1
  // when cancelled before anything was read. A read error raises EInOutError
  // "Error reading source file <source>".
  long SendBlocks(int fd, const std::string& source, char* buffer, std::size_t capacity,
                  std::uint64_t& done, std::uint64_t size, const std::string& word);

  // The newer-only rule. true = go on. `upload`: go on when the compared date is not later;
  // `copy`: a refusal by OnFileDateCheck keeps the working date.
  bool NewerOnly(const TTransferItem& item, int index, TDateTime compared, bool upload, bool copy,
                 const std::string& name);
  bool DateCheckWanted(const TTransferItem& item) const;
  // The overwrite check for an existing target; may turn it into a unique name. true = go on.
  bool OverwriteAllowed(std::string& target);

  // The run's Internet session (opened only when an item needs it).
  transfer::TInternetSession& Session();
  // The FTP connection for an item: the cached one when its key matches, else a new login.
  // nullptr after reporting error 6.
  std::unique_ptr<transfer::TFtpConnection> FtpConnect(const TTransferItem& item, bool reuse);
  // Hands back a connection after an item: cached when it stays open, else closed.
  void FtpRelease(std::unique_ptr<transfer::TFtpConnection> c, const TTransferItem& item,
                  bool stayOpen);
  void ForgetFtp();
  static std::string FtpKey(const TTransferItem& item);
  static void FtpHost(const TTransferItem& item, std::string& name, int& port);

 private:
  std::unique_ptr<transfer::TInternetSession> session_;
  std::unique_ptr<transfer::TFtpConnection> cached_;
  std::string cachedKey_;
  std::chrono::steady_clock::time_point start_;
};

}  // namespace kelvane
