// wpHttp (download with Basic authentication and login) and wpHttpUpload (POST or PUT).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/errors.h"
#include "platform/paths.h"
#include "transfer/engine.h"
#include "transfer/rules.h"

namespace kelvane {

namespace {

// The caption names the host of the item's own URL: the requested URL may carry the proxy's
// user and password, which have no place on the screen.
bool AskLogin(TTransferRunner& run, const std::string& url, std::string& user,
              std::string& password) {
  if (!run.T.LoginForm) return false;
  std::string u, p;
  if (!run.T.LoginForm->Execute("Connect to " + transfer::LoginCaptionHost(url), u, p))
    return false;
  user = u;
  password = p;
  return true;
}

class THttpDownload final : public TTransferKind {
 public:
  bool Run(TTransferRunner& run, TTransferItem& item, int index) override {
    TFileTransfer& T = run.T;
    const std::string display = transfer::FileNameOf(item.URL);
    const std::string url =
        transfer::ApplyProxyCredentials(item.URL, T.ProxyUserID, T.ProxyPassword);
    run.SetStandardCountPrefix();
    run.SetFileLine(display, T.ShowServer ? T.DlgFromServerLabel : "", transfer::UrlHost(url));
    run.Pump();

    std::string user = item.HTTPUserID, password = item.HTTPPassword;
    if (item.Authenticate == TTransferAuthentication::waAlways &&
        (user.empty() || password.empty()) && !AskLogin(run, item.URL, user, password))
      return false;

    for (;;) {
      std::vector<std::string> headers = {"Cache-Control: no-cache", "Pragma: no-cache"};
      const std::string auth = transfer::BasicAuthorization(user, password);
      if (!auth.empty()) headers.push_back(auth);
      if (T.HTTPKeepAliveAuthentication) headers.push_back("Connection: keep-alive");

      enum { kNone, kLogin, kStatus, kRefused, kCreateFailed, kBody } stage = kNone;
      long status = 0;
      std::string target;
      std::uint64_t contentLength = 0, total = 0;
      transfer::TLocalTarget out;

      transfer::TBlockHooks hooks;
      hooks.HeadDone = [&](const transfer::THttpHead& head) {
        run.Pump();
        status = head.Status;
        if (status == 401 && item.Authenticate != TTransferAuthentication::waNever) {
          stage = kLogin;
          return false;
        }
        if (status >= 300) {
          stage = kStatus;
          return false;
        }
        if (run.DateCheckWanted(item)) {
          // No Last-Modified: the current time stands in, so the file is normally fetched.
          const TDateTime date =
              head.HasLastModified ? transfer::CalendarToDateTime(head.LastModified) : Now();
          if (!run.NewerOnly(item, index, date, false, false, display)) {
            stage = kRefused;
            return false;
          }
        }
        target = transfer::JoinPath(item.TargetDir,
                                    item.TargetFilename.empty() ? display : item.TargetFilename);
        run.SetLastTarget(target, item.TargetDir);
        struct stat st;
        if (stat(target.c_str(), &st) == 0 && !run.OverwriteAllowed(target)) {
          stage = kRefused;
          return false;
        }
        run.SetLastTarget(target, item.TargetDir);
        if (!out.Create(target)) {
          stage = kCreateFailed;
          return false;
        }
        contentLength = head.ContentLength > 0 ? static_cast<std::uint64_t>(head.ContentLength) : 0;
        stage = kBody;
        return true;
      };
      hooks.Receive = [&](const char* data, std::size_t n) {
        return run.ReceiveBlocks(out, target, data, n, total, contentLength, T.DlgDwnload);
      };
      transfer::THttpHead head;
      const transfer::TNetResult r = run.Session().HttpGet(url, headers, hooks, head);

      switch (stage) {
        case kNone:
          // No answer at all: the URL could not be opened.
          run.URLNotFound(url);
          return false;
        case kLogin:
          if (!AskLogin(run, item.URL, user, password)) return false;
          continue;
        case kStatus:
          run.Error(static_cast<int>(status), "Returned http error code " + std::to_string(status));
          return false;
        case kRefused:
          return false;
        case kCreateFailed:
          run.Error(3, "Cannot create file " + target);
          return false;
        case kBody:
          break;
      }
      if (run.Cancelled()) return false;  // the partial file goes with `out`
      if (!r.Ok()) {
        // A body cut short (fewer bytes than Content-Length, a broken connection) is no file.
        run.Error(transfer::kInternetErrorBase + r.Code, r.Text);
        return false;
      }
      if (!out.Commit()) throw EInOutError("Unable to write to " + target);
      // An empty body leaves an empty target but counts as no download.
      return total > 0;
    }
  }
};

class THttpUpload final : public TTransferKind {
 public:
  bool Run(TTransferRunner& run, TTransferItem& item, int) override {
    TFileTransfer& T = run.T;
    run.SetAnimation(TTransferAnimation::aniUpload);
    const std::string display = transfer::FileNameOf(item.URL);
    const std::string url =
        transfer::ApplyProxyCredentials(item.URL, T.ProxyUserID, T.ProxyPassword);
    run.SetStandardCountPrefix();
    const std::string host = transfer::UrlHost(url);
    run.SetFileLine(display, T.ShowServer ? T.DlgToServerLabel : "", host);

    const std::string source = transfer::JoinPath(
        item.TargetDir, item.TargetFilename.empty() ? display : item.TargetFilename);
    if (!FileExists(source)) return false;
    run.Pump();

    const int fd = open(source.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0) {
      if (fd >= 0) close(fd);
      return false;
    }
    const std::uint64_t size = static_cast<std::uint64_t>(st.st_size);
    std::uint64_t total = 0;
    transfer::TBlockHooks hooks;
    hooks.Send = [&](char* buffer, std::size_t capacity) -> long {
      return run.SendBlocks(fd, source, buffer, capacity, total, size, T.DlgUpload);
    };
    long status = 0;
    transfer::TNetResult r;
    try {
      r = run.Session().HttpSend(url,
                                 item.HTTPCommand == TTransferHTTPCommand::hcPut ? "PUT" : "POST",
                                 size, hooks, status);
    } catch (...) {
      close(fd);
      throw;
    }
    close(fd);
    if (run.Cancelled()) return false;
    if (!r.Ok()) {
      if (r.ConnectFailed) {
        run.Error(6, "Cannot connect to server " + host);
      } else {
        run.Error(transfer::kInternetErrorBase + r.Code, r.Text);
      }
      return false;
    }
    // A server that refuses the body has not received the file.
    if (status >= 300) {
      run.Error(static_cast<int>(status), "Returned http error code " + std::to_string(status));
      return false;
    }
    return total == size;
  }
};

}  // namespace

std::unique_ptr<TTransferKind> MakeHttpKind(bool upload) {
  if (upload) return std::make_unique<THttpUpload>();
  return std::make_unique<THttpDownload>();
}

}  // namespace kelvane
