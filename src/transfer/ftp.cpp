// The FTP kinds: download, upload, multi-file download and upload, deletion, listing.
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <random>

#include "platform/errors.h"
#include "platform/paths.h"
#include "transfer/engine.h"
#include "transfer/rules.h"

namespace kelvane {

namespace {

using transfer::TFtpConnection;

// "dir/sub/name" -> "dir/sub/" and "name".
void SplitRemote(const std::string& path, std::string& folder, std::string& name) {
  const auto pos = path.rfind('/');
  folder = pos == std::string::npos ? std::string() : path.substr(0, pos + 1);
  name = transfer::FileNameOf(path);
}

// A Windows mask: "*.*" means every name.
std::string Mask(const std::string& mask) { return mask == "*.*" ? "*" : mask; }

// One single-file download over `conn`. The caller connects and releases.
bool Download(TTransferRunner& run, TFtpConnection& conn, const TTransferItem& item, int index,
              const std::string& remotePath, const std::string& localName) {
  TFileTransfer& T = run.T;
  std::string folder, name;
  SplitRemote(remotePath, folder, name);
  run.Pump();

  bool exists = false, hasTime = false;
  std::uint64_t size = 0;
  std::time_t time = 0;
  conn.Probe(folder, name, exists, size, hasTime, time);
  if (exists && run.DateCheckWanted(item)) {
    const TDateTime date = hasTime ? transfer::CalendarToDateTime(time) : Now();
    if (!run.NewerOnly(item, index, date, false, false, name)) return false;
  }
  if (!exists) {
    run.URLNotFound(item.URL);
    return false;
  }

  std::string target = transfer::JoinPath(item.TargetDir, localName.empty() ? name : localName);
  run.SetLastTarget(target, item.TargetDir);
  struct stat st;
  if (stat(target.c_str(), &st) == 0) {
    if (!run.OverwriteAllowed(target)) return false;
    run.SetLastTarget(target, item.TargetDir);
  }
  transfer::TLocalTarget out;
  if (!out.Create(target)) {
    run.Error(3, "Cannot create target file " + target);
    return false;
  }

  run.ClearCancel();
  std::uint64_t total = 0;
  transfer::TBlockHooks hooks;
  hooks.Receive = [&](const char* data, std::size_t n) {
    return run.ReceiveBlocks(out, target, data, n, total, size, T.DlgDwnload);
  };
  const transfer::TNetResult r = conn.Retrieve(folder, name, hooks);
  // A cancelled or broken download leaves no partial target and the previous one untouched.
  if (run.Cancelled()) return false;
  if (!r.Ok()) {
    if (r.NotFound) {
      run.URLNotFound(item.URL);
    } else {
      run.Error(transfer::kInternetErrorBase + r.Code, r.Text);
    }
    return false;
  }
  if (!out.Commit()) throw EInOutError("Unable to write to " + target);
  return true;
}

// A leading dot keeps the half-sent file out of ordinary listings; random digits keep two
// publishers of the same name apart.
std::string TempRemoteName(const std::string& name) {
  static std::mt19937 random{std::random_device{}()};
  return "." + name + ".part" + std::to_string(random() % 100000000);
}

// One single-file upload over `conn`: written under a temporary name, renamed when complete.
bool Upload(TTransferRunner& run, TFtpConnection& conn, const TTransferItem& item, int index,
            const std::string& source, const std::string& remoteName) {
  TFileTransfer& T = run.T;
  run.Pump();
  if (run.DateCheckWanted(item)) {
    bool exists = false, hasTime = false;
    std::uint64_t size = 0;
    std::time_t time = 0;
    conn.Probe(item.TargetDir.empty() ? "" : item.TargetDir + "/", remoteName, exists, size,
               hasTime, time);
    if (exists) {
      std::string name = remoteName;
      bool allow = true;
      if (T.OnCopyOverWrite) T.OnCopyOverWrite(T, name, allow);
      if (!allow) return false;
      const TDateTime date = hasTime ? transfer::CalendarToDateTime(time) : Now();
      if (!run.NewerOnly(item, index, date, true, false, remoteName)) return false;
    }
  }

  run.SetLastTarget(source, item.TargetDir);
  const int fd = open(source.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    if (fd >= 0) close(fd);
    run.URLNotFound(item.URL);
    run.Error(1, "Cannot open source file " + source);
    return false;
  }
  const std::uint64_t size = static_cast<std::uint64_t>(st.st_size);

  run.ClearCancel();
  std::uint64_t total = 0;
  transfer::TBlockHooks hooks;
  hooks.Send = [&](char* buffer, std::size_t capacity) -> long {
    return run.SendBlocks(fd, source, buffer, capacity, total, size, T.DlgUpload);
  };
  transfer::TNetResult r;
  try {
    r = conn.Store(item.TargetDir, TempRemoteName(remoteName), remoteName, hooks);
  } catch (...) {
    close(fd);
    throw;
  }
  close(fd);
  // A cancelled or failed upload leaves the previous remote file as it was.
  if (run.Cancelled()) return false;
  if (!r.Ok()) {
    if (r.FolderRefused) return false;  // a folder that can be neither entered nor created
    if (r.StoreRefused) {
      run.URLNotFound(item.URL);
    } else {
      run.Error(transfer::kInternetErrorBase + r.Code, r.Text);
    }
    return false;
  }
  return total == size;
}

class TFtpKind final : public TTransferKind {
 public:
  explicit TFtpKind(TTransferProtocol p) : protocol_(p) {}

  bool Run(TTransferRunner& run, TTransferItem& item, int index) override {
    switch (protocol_) {
      case TTransferProtocol::wpFtp:
        return RunDownload(run, item, index);
      case TTransferProtocol::wpFtpUpload:
        return RunUpload(run, item, index);
      case TTransferProtocol::wpMultiFtp:
        return RunMultiDownload(run, item, index);
      case TTransferProtocol::wpMultiFtpUpload:
        return RunMultiUpload(run, item, index);
      case TTransferProtocol::wpFtpDelete:
        return RunDelete(run, item, index);
      case TTransferProtocol::wpFtpList:
        return RunList(run, item);
      default:
        return false;
    }
  }

 private:
  static std::string Host(const TTransferItem& item) { return item.FTPHost; }
  // The remote file an upload or deletion works on: TargetFilename, else the URL's file name.
  static std::string RemoteName(const TTransferItem& item) {
    return item.TargetFilename.empty() ? transfer::FileNameOf(item.URL) : item.TargetFilename;
  }
  // The dialog of the kinds that send to the server: upload animation, "to <host>" file line.
  static void ShowToServer(TTransferRunner& run, const TTransferItem& item) {
    run.SetAnimation(TTransferAnimation::aniUpload);
    run.SetStandardCountPrefix();
    run.SetFileLine(transfer::FileNameOf(item.URL), run.T.DlgToServerLabel, Host(item));
  }

  bool RunDownload(TTransferRunner& run, TTransferItem& item, int index) {
    TFileTransfer& T = run.T;
    run.SetStandardCountPrefix();
    run.SetFileLine(transfer::FileNameOf(item.URL), T.ShowServer ? T.DlgFromServerLabel : "",
                    Host(item));
    auto conn = run.FtpConnect(item, true);
    if (!conn) return false;
    const bool ok = Download(run, *conn, item, index, item.URL, item.TargetFilename);
    run.FtpRelease(std::move(conn), item, run.KeepOpen);
    return ok;
  }

  bool RunUpload(TTransferRunner& run, TTransferItem& item, int index) {
    ShowToServer(run, item);
    auto conn = run.FtpConnect(item, true);
    if (!conn) return false;
    const bool ok = Upload(run, *conn, item, index, item.URL, RemoteName(item));
    run.FtpRelease(std::move(conn), item, run.KeepOpen);
    return ok;
  }

  bool RunMultiDownload(TTransferRunner& run, TTransferItem& item, int) {
    TFileTransfer& T = run.T;
    run.SetStandardCountPrefix();
    run.SetFileLine(transfer::FileNameOf(item.URL), T.ShowServer ? T.DlgFromServerLabel : "",
                    Host(item));
    auto conn = run.FtpConnect(item, false);
    if (!conn) return false;
    std::string folder, mask;
    SplitRemote(transfer::Slashes(item.URL), folder, mask);
    std::vector<transfer::TFtpEntry> entries;
    conn->List(folder, Mask(mask), entries);
    std::vector<std::string> names;
    for (const auto& e : entries)
      if (!e.Folder) names.push_back(e.Name);

    bool ok = true;
    run.WorkDate = 0;  // each file's comparison starts from the previous file's date
    for (std::size_t i = 0; i < names.size() && !run.Cancelled(); ++i) {
      run.SetCountPrefix(std::to_string(i + 1) + " " + T.DlgFileOfLabel + " " +
                         std::to_string(names.size()) + " : ");
      run.SetFileLine(names[i], T.ShowServer ? T.DlgFromServerLabel : "", Host(item));
      run.StartClock();
      if (!Download(run, *conn, item, static_cast<int>(i), folder + names[i], names[i])) ok = false;
      if (run.Cancelled()) break;
      if (T.OnMultiFTPFileDone) T.OnMultiFTPFileDone(T, names[i]);
    }
    // The connection stays cached after the item, as the single-file kinds may reuse it.
    run.FtpRelease(std::move(conn), item, true);
    return ok;
  }

  bool RunMultiUpload(TTransferRunner& run, TTransferItem& item, int index) {
    TFileTransfer& T = run.T;
    ShowToServer(run, item);
    run.ForgetFtp();
    auto conn = run.FtpConnect(item, false);
    if (!conn) return false;
    // Walk (and create) the remote folder first: a folder that cannot be made fails the item.
    if (!item.TargetDir.empty() && !conn->MakeFolders(item.TargetDir).Ok()) {
      run.FtpRelease(std::move(conn), item, false);
      return false;
    }
    const std::string localFolder =
        item.URL.substr(0, item.URL.size() - transfer::FileNameOf(item.URL).size());
    const std::string mask = Mask(transfer::FileNameOf(item.URL));
    std::vector<std::string> names;
    if (DIR* dir = opendir(localFolder.empty() ? "." : localFolder.c_str())) {
      while (dirent* e = readdir(dir)) {
        const std::string n = e->d_name;
        if (n == "." || n == "..") continue;
        if (fnmatch(mask.c_str(), n.c_str(), FNM_CASEFOLD) == 0) names.push_back(n);
      }
      closedir(dir);
    }
    std::sort(names.begin(), names.end());
    // One login serves every file of the item.
    bool ok = true;
    for (const auto& n : names) {
      run.StartClock();
      if (!Upload(run, *conn, item, index, localFolder + n, n)) ok = false;
      if (run.Cancelled()) break;
      if (T.OnMultiFTPFileDone) T.OnMultiFTPFileDone(T, n);
    }
    run.FtpRelease(std::move(conn), item, false);
    return ok;
  }

  bool RunDelete(TTransferRunner& run, TTransferItem& item, int index) {
    TFileTransfer& T = run.T;
    ShowToServer(run, item);
    auto conn = run.FtpConnect(item, true);
    if (!conn) return false;
    const std::string name = RemoteName(item);
    const std::string folder = item.TargetDir.empty() ? "" : item.TargetDir + "/";
    const transfer::TNetResult r = conn->Delete(folder, name);
    if (r.FolderRefused) {
      run.FtpRelease(std::move(conn), item, run.KeepOpen);
      return false;
    }
    if (r.Ok()) {
      if (T.OnRemovedFile) T.OnRemovedFile(T, index);
    } else {
      if (T.OnRemovedFileFailed) T.OnRemovedFileFailed(T, index);
    }
    run.Pump();
    run.FtpRelease(std::move(conn), item, run.KeepOpen);
    return true;
  }

  bool RunList(TTransferRunner& run, TTransferItem& item) {
    TFileTransfer& T = run.T;
    run.SetStandardCountPrefix();
    run.SetFileLine(transfer::FileNameOf(item.URL), T.ShowServer ? T.DlgFromServerLabel : "",
                    Host(item));
    auto conn = run.FtpConnect(item, false);
    if (!conn) return false;
    std::string folder, mask;
    SplitRemote(transfer::Slashes(item.URL), folder, mask);
    item.FileList.clear();
    item.FileDetails.clear();
    std::vector<transfer::TFtpEntry> entries;
    conn->List(folder, Mask(mask.empty() ? "*" : mask), entries);
    for (std::size_t i = 0; i < entries.size(); ++i) {
      const auto& e = entries[i];
      item.FileList.push_back(e.Name);
      TFileDetailItem d;
      d.FileName = e.Name;
      d.Attributes = e.Folder ? 0x10 : 0x80;
      d.FileSize = e.Size;
      d.CreationTime = transfer::UnixToFileTime(e.Time);
      item.FileDetails.push_back(std::move(d));
      if (i > 0) run.SetFileLine(std::to_string(i + 1) + " " + e.Name, "", "");
    }
    run.FtpRelease(std::move(conn), item, false);
    return true;
  }

  TTransferProtocol protocol_;
};

}  // namespace

std::unique_ptr<TTransferKind> MakeFtpKind(TTransferProtocol p) {
  return std::make_unique<TFtpKind>(p);
}

}  // namespace kelvane
