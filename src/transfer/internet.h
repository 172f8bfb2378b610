#pragma once
// The transfer library's home: every libcurl call of the system lives in internet.cpp. The rest of
// transfer/ sees one session per Execute (agent, proxy), HTTP requests and FTP connections whose
// bytes pass through the engine's block loop (TBlockHooks).
#include <cstdint>
#include <ctime>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kelvane::transfer {

// The head of the final HTTP response (redirects already followed).
struct THttpHead {
  long Status = 0;
  std::int64_t ContentLength = -1;  // -1: none sent
  bool HasLastModified = false;
  std::time_t LastModified = 0;  // calendar time as the server wrote it
};

// How the engine takes part in a library transfer. Unset members are not used.
struct TBlockHooks {
  // Received bytes (downloads). false stops the transfer.
  std::function<bool(const char* data, std::size_t n)> Receive;
  // Bytes to send (uploads): fill at most `capacity`; 0 ends the body; -1 stops the transfer.
  std::function<long(char* buffer, std::size_t capacity)> Send;
  // The final response head arrived (HTTP). false stops the transfer before its body.
  std::function<bool(const THttpHead& head)> HeadDone;
};

struct TNetResult {
  int Code = 0;                // the library's code; 0 is success
  std::string Text;            // the library's text for it, with the specific reason when known
  bool Stopped = false;        // a hook stopped it (cancel, refusal, local failure)
  bool NotFound = false;       // the remote file or folder does not exist / cannot be opened
  bool StoreRefused = false;   // the server refused to store or rename the file
  bool FolderRefused = false;  // a remote folder could be neither entered nor created
  bool ConnectFailed = false;  // no connection or no login
  bool Ok() const { return Code == 0; }
};

struct TFtpEntry {
  std::string Name;
  bool Folder = false;
  std::uint64_t Size = 0;
  std::time_t Time = 0;  // the listing's time as the server wrote it
};

class TFtpConnection;

class TInternetSession {
 public:
  TInternetSession(std::string agent, std::string proxy, std::string proxyUser,
                   std::string proxyPassword);
  ~TInternetSession();
  TInternetSession(const TInternetSession&) = delete;
  TInternetSession& operator=(const TInternetSession&) = delete;

  // GET with extra request headers ("Name: value").
  TNetResult HttpGet(const std::string& url, const std::vector<std::string>& headers,
                     TBlockHooks& hooks, THttpHead& head);
  // POST or PUT of `size` body bytes pulled through hooks.Send.
  TNetResult HttpSend(const std::string& url, const std::string& verb, std::uint64_t size,
                      TBlockHooks& hooks, long& status);

  // Opens and logs in one FTP control connection. nullptr with `result` on failure.
  std::unique_ptr<TFtpConnection> FtpConnect(const std::string& host, int port,
                                             const std::string& user, const std::string& password,
                                             bool passive, TNetResult& result);

  const std::string& Agent() const { return agent_; }

 private:
  friend class TFtpConnection;
  void Configure(void* easy) const;
  std::string agent_, proxy_, proxyUser_, proxyPassword_;
  void* http_ = nullptr;  // one handle for every HTTP request of the run: keeps connections
  void* httpMulti_ = nullptr;
};

// One FTP login, reused by consecutive operations. Remote folders are given as texts with "/" or
// "\" between the parts, relative to the login folder unless they start with "/".
class TFtpConnection {
 public:
  ~TFtpConnection();
  TFtpConnection(const TFtpConnection&) = delete;
  TFtpConnection& operator=(const TFtpConnection&) = delete;

  // Whether the file exists, with its size and modification time.
  TNetResult Probe(const std::string& folder, const std::string& name, bool& exists,
                   std::uint64_t& size, bool& hasTime, std::time_t& time);
  TNetResult Retrieve(const std::string& folder, const std::string& name, TBlockHooks& hooks);
  // Stores the body under `tempName` in `folder` (relative parts, created when missing) and
  // renames it to `finalName` only after the last byte; a failed store leaves no file behind.
  TNetResult Store(const std::string& folder, const std::string& tempName,
                   const std::string& finalName, TBlockHooks& hooks);
  // Enters the folder (relative parts), creating every missing level.
  TNetResult MakeFolders(const std::string& folder);
  TNetResult List(const std::string& folder, const std::string& mask,
                  std::vector<TFtpEntry>& entries);
  TNetResult Delete(const std::string& folder, const std::string& name);
  // Best effort, for clean-up after a failed store.
  void DeleteQuietly(const std::string& folder, const std::string& name);

 private:
  friend class TInternetSession;
  TFtpConnection() = default;
  std::string Url(const std::string& folder, const std::string& name, bool relativeOnly) const;
  void Reset();
  void* easy_ = nullptr;
  void* multi_ = nullptr;  // holds the control connection between operations
  std::string base_;       // ftp://host:port/
  bool passive_ = false;
  const TInternetSession* session_ = nullptr;
};

}  // namespace kelvane::transfer
