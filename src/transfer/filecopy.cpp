// wpFile: a copy between local folders or mounted network shares, in blocks of 32768 bytes.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/paths.h"
#include "platform/shares.h"
#include "transfer/engine.h"
#include "transfer/rules.h"

namespace kelvane {

namespace {

constexpr std::size_t kCopyBlock = 32768;

class TFdCloser {
 public:
  explicit TFdCloser(int fd) : fd_(fd) {}
  ~TFdCloser() {
    if (fd_ >= 0) close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

class TFileCopyKind final : public TTransferKind {
 public:
  bool Run(TTransferRunner& run, TTransferItem& item, int index) override {
    const bool shared = !item.FTPHost.empty();
    bool ok = Copy(run, item, index, shared);
    // Every way out releases the share it connected.
    if (shared && !DisconnectShare(item.FTPHost)) {
      run.ConnectError();
      ok = false;
    }
    return ok;
  }

 private:
  static bool Copy(TTransferRunner& run, TTransferItem& item, int index, bool shared) {
    const TFileTransfer& T = run.T;
    run.SetAnimation(TTransferAnimation::aniCopy);
    run.SetStandardCountPrefix();
    const std::string name = transfer::FileNameOf(item.URL);
    const std::string place =
        shared ? item.FTPHost : item.URL.substr(0, item.URL.size() - name.size());
    run.SetFileLine(name, T.DlgFromServerLabel, place);

    if (shared) {
      std::string reason;
      if (!ConnectShare(item.FTPHost, item.FTPUserID, item.FTPPassword, reason)) {
        run.ConnectError();
        return false;
      }
    }

    const std::string source = shared ? item.FTPHost + "\\" + item.URL : item.URL;
    std::string target = transfer::JoinPath(
        item.TargetDir, item.TargetFilename.empty() ? name : item.TargetFilename);
    run.SetLastTarget(target, item.TargetDir);
    if (source == target) {
      run.Error(0, "Cannot copy identical files " + source);
      return false;
    }

    // A UNC name reaches the disk only through the share layer; one that it cannot reach is a
    // connection failure, never a local folder named "\\server".
    std::string localSource, localTarget;
    if (!ResolveSharePath(source, localSource)) {
      run.ConnectError();
      return false;
    }
    const int in = open(localSource.c_str(), O_RDONLY | O_CLOEXEC);
    TFdCloser inCloser(in);
    struct stat st;
    if (in < 0 || fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
      run.Error(1, "Cannot open source file " + source);
      return false;
    }
    if (run.DateCheckWanted(item) &&
        !run.NewerOnly(item, index, UnixToDateTime(st.st_mtime), false, true, source))
      return false;

    const off_t size = lseek(in, 0, SEEK_END);
    if (size < 0 || lseek(in, 0, SEEK_SET) != 0) {
      run.Error(2, "Zero length source file " + source);
      return false;
    }
    if (!ResolveSharePath(target, localTarget)) {
      run.ConnectError();
      return false;
    }
    struct stat tst;
    if (stat(localTarget.c_str(), &tst) == 0) {
      const std::string before = target;
      if (!run.OverwriteAllowed(target)) return false;
      if (target != before) {
        run.SetLastTarget(target, item.TargetDir);
        if (!ResolveSharePath(target, localTarget)) {
          run.ConnectError();
          return false;
        }
      }
    }

    transfer::TLocalTarget out;
    if (!out.Create(localTarget)) {
      run.Error(3, "Cannot create target file " + target);
      return false;
    }

    // A cancel asked for before this point (say inside OnCopyOverWrite) does not stop the copy.
    run.ClearCancel();
    std::vector<char> buffer(kCopyBlock);
    std::uint64_t total = 0;
    bool kernelCopy = true;  // until the kernel declines (another file system, a pipe, ...)
    for (;;) {
      ssize_t got = kernelCopy ? out.CopyFrom(in, kCopyBlock) : -1;
      if (got < 0) {
        // Read and write ourselves: also how a failing block tells a read from a write error.
        kernelCopy = false;
        got = read(in, buffer.data(), buffer.size());
        while (got < 0 && errno == EINTR) got = read(in, buffer.data(), buffer.size());
        if (got < 0) {
          run.Error(4, "Error reading source file " + source);
          return false;
        }
        if (got > 0 && !out.Write(buffer.data(), static_cast<std::size_t>(got))) {
          run.Error(5, "Error writing to destination file " + target);
          return false;
        }
      }
      total += static_cast<std::uint64_t>(got);
      run.Progress(total, static_cast<std::uint64_t>(size), T.DlgCopying, true);
      run.Pump();
      if (got == 0 || run.Cancelled()) break;
    }
    // A cancelled copy leaves the previous target as it was.
    if (run.Cancelled()) return false;
    if (!out.Commit()) {
      run.Error(5, "Error writing to destination file " + target);
      return false;
    }
    return true;
  }
};

}  // namespace

std::unique_ptr<TTransferKind> MakeFileCopyKind() { return std::make_unique<TFileCopyKind>(); }

}  // namespace kelvane
