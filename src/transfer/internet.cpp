// Every libcurl call of the system. Callbacks run inside curl_easy_perform: they never let an
// exception pass through the library's C frames; they park it and stop the transfer, and the
// exception is raised again once the library has returned.
#include "transfer/internet.h"

#include <curl/curl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>

namespace kelvane::transfer {

namespace {

void GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

CURL* Easy(void* p) { return static_cast<CURL*>(p); }

class TSlist {
 public:
  ~TSlist() { curl_slist_free_all(list_); }
  void Add(const std::string& s) { list_ = curl_slist_append(list_, s.c_str()); }
  curl_slist* get() const { return list_; }

 private:
  curl_slist* list_ = nullptr;
};

// What the callbacks of one perform share.
struct TCall {
  TBlockHooks* hooks = nullptr;
  std::exception_ptr error;
  bool stopped = false;
  THttpHead head;
  bool sawLocation = false;
  bool following = false;
  char errorBuffer[CURL_ERROR_SIZE] = {};
};

bool StartsNoCase(const char* line, std::size_t n, const char* prefix) {
  const std::size_t k = std::strlen(prefix);
  return n >= k && strncasecmp(line, prefix, k) == 0;
}

std::string HeaderValue(const char* line, std::size_t n, std::size_t nameLength) {
  std::string v(line + nameLength, n - nameLength);
  while (!v.empty() && (v.back() == '\r' || v.back() == '\n' || v.back() == ' ')) v.pop_back();
  const auto start = v.find_first_not_of(" \t");
  return start == std::string::npos ? std::string() : v.substr(start);
}

size_t OnHeader(char* line, size_t size, size_t nitems, void* user) {
  auto* call = static_cast<TCall*>(user);
  const size_t n = size * nitems;
  if (call->stopped) return 0;
  if (StartsNoCase(line, n, "HTTP/")) {
    call->head = THttpHead();
    call->sawLocation = false;
    const char* space = static_cast<const char*>(std::memchr(line, ' ', n));
    if (space) call->head.Status = std::strtol(space + 1, nullptr, 10);
  } else if (StartsNoCase(line, n, "Content-Length:")) {
    call->head.ContentLength = std::strtoll(HeaderValue(line, n, 15).c_str(), nullptr, 10);
  } else if (StartsNoCase(line, n, "Last-Modified:")) {
    const std::string value = HeaderValue(line, n, 14);
    const time_t t = curl_getdate(value.c_str(), nullptr);
    if (t != -1) {
      call->head.HasLastModified = true;
      call->head.LastModified = t;
    }
  } else if (StartsNoCase(line, n, "Location:")) {
    call->sawLocation = true;
  } else if ((n == 2 && line[0] == '\r') || (n == 1 && line[0] == '\n')) {
    const long status = call->head.Status;
    if (status < 200) return n;  // 100 Continue and friends
    if (status >= 300 && status < 400 && call->sawLocation && call->following) return n;
    if (call->hooks && call->hooks->HeadDone) {
      try {
        if (!call->hooks->HeadDone(call->head)) {
          call->stopped = true;
          return 0;
        }
      } catch (...) {
        call->error = std::current_exception();
        call->stopped = true;
        return 0;
      }
    }
  }
  return n;
}

size_t OnWrite(char* data, size_t size, size_t nmemb, void* user) {
  auto* call = static_cast<TCall*>(user);
  const size_t n = size * nmemb;
  if (call->stopped) return 0;
  if (!call->hooks || !call->hooks->Receive) return n;
  try {
    if (call->hooks->Receive(data, n)) return n;
  } catch (...) {
    call->error = std::current_exception();
  }
  call->stopped = true;
  return 0;
}

size_t OnRead(char* buffer, size_t size, size_t nitems, void* user) {
  auto* call = static_cast<TCall*>(user);
  if (call->stopped || !call->hooks || !call->hooks->Send) return CURL_READFUNC_ABORT;
  try {
    const long got = call->hooks->Send(buffer, size * nitems);
    if (got >= 0) return static_cast<size_t>(got);
  } catch (...) {
    call->error = std::current_exception();
  }
  call->stopped = true;
  return CURL_READFUNC_ABORT;
}

// The time column of a Unix-style LIST line: "Dec 11 12:30" (within the last half year) or
// "Jun  1  2021". Taken as the server wrote it, as a calendar time.
std::time_t ListTime(const char* text) {
  if (!text) return 0;
  static const char* months[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                 "jul", "aug", "sep", "oct", "nov", "dec"};
  char month[4] = {};
  int day = 0, a = 0, b = 0;
  std::tm tm{};
  if (std::sscanf(text, "%3s %d %d:%d", month, &day, &a, &b) == 4) {
    const std::time_t now = std::time(nullptr);
    std::tm today{};
    gmtime_r(&now, &today);
    tm.tm_year = today.tm_year;
    tm.tm_hour = a;
    tm.tm_min = b;
  } else if (std::sscanf(text, "%3s %d %d", month, &day, &a) == 3) {
    tm.tm_year = a - 1900;
  } else {
    return 0;
  }
  tm.tm_mon = -1;
  for (int i = 0; i < 12; ++i)
    if (strncasecmp(month, months[i], 3) == 0) tm.tm_mon = i;
  if (tm.tm_mon < 0) return 0;
  tm.tm_mday = day;
  std::time_t t = timegm(&tm);
  // Without a year the date lies in the last half year: a date ahead of now is last year's.
  if (std::strchr(text, ':') && t > std::time(nullptr) + 86400) {
    tm.tm_year -= 1;
    t = timegm(&tm);
  }
  return t;
}

// Wildcard listing: every entry is recorded and skipped, nothing is downloaded.
long OnChunkBegin(const void* info, void* user, int) {
  auto* entries = static_cast<std::vector<TFtpEntry>*>(user);
  const auto* fi = static_cast<const curl_fileinfo*>(info);
  TFtpEntry e;
  e.Name = fi->filename ? fi->filename : "";
  e.Folder = fi->filetype == CURLFILETYPE_DIRECTORY;
  if (fi->flags & CURLFINFOFLAG_KNOWN_SIZE) e.Size = static_cast<std::uint64_t>(fi->size);
  e.Time = (fi->flags & CURLFINFOFLAG_KNOWN_TIME) && fi->time > 0 ? fi->time
                                                                  : ListTime(fi->strings.time);
  if (e.Name != "." && e.Name != "..") entries->push_back(std::move(e));
  return CURL_CHUNK_BGN_FUNC_SKIP;
}

void Attach(CURL* easy, TCall& call, TBlockHooks* hooks) {
  call.hooks = hooks;
  curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, call.errorBuffer);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, OnWrite);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &call);
  curl_easy_setopt(easy, CURLOPT_READFUNCTION, OnRead);
  curl_easy_setopt(easy, CURLOPT_READDATA, &call);
}

// Runs one transfer on `easy` through `multi`, which keeps the connections between transfers.
// The wait between steps is capped at a few milliseconds: the library (7.88) sometimes leaves no
// timer after an FTP passive-mode reply, and curl_easy_perform then sleeps a whole second.
TNetResult Perform(void* multiHandle, CURL* easy, TCall& call) {
  CURLM* multi = static_cast<CURLM*>(multiHandle);
  CURLcode code = CURLE_OK;
  if (curl_multi_add_handle(multi, easy) != CURLM_OK) {
    code = CURLE_FAILED_INIT;
  } else {
    int running = 1;
    int idle = 0;  // polls in a row that saw nothing
    while (running) {
      if (curl_multi_perform(multi, &running) != CURLM_OK) break;
      if (!running) break;
      long timeout = -1;
      curl_multi_timeout(multi, &timeout);
      // Right after progress the library may have more to do without saying so: look again at
      // once a few times before waiting, and never wait more than 2 ms.
      const long cap = idle < 4 ? 0 : 2;
      if (timeout < 0 || timeout > cap) timeout = cap;
      int events = 0;
      curl_multi_poll(multi, nullptr, 0, static_cast<int>(timeout), &events);
      idle = events > 0 ? 0 : idle + 1;
    }
    code = CURLE_GOT_NOTHING;
    int left = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi, &left))
      if (msg->msg == CURLMSG_DONE && msg->easy_handle == easy) code = msg->data.result;
    curl_multi_remove_handle(multi, easy);
  }
  curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, nullptr);
  if (call.error) std::rethrow_exception(call.error);
  TNetResult r;
  r.Code = code;
  r.Stopped = call.stopped;
  if (code != CURLE_OK) {
    r.Text = curl_easy_strerror(code);
    if (call.errorBuffer[0]) r.Text += std::string(": ") + call.errorBuffer;
  }
  switch (code) {
    case CURLE_REMOTE_FILE_NOT_FOUND:
    case CURLE_FTP_COULDNT_RETR_FILE:
      r.NotFound = true;
      break;
    case CURLE_REMOTE_ACCESS_DENIED:
      r.FolderRefused = true;
      r.NotFound = true;
      break;
    case CURLE_UPLOAD_FAILED:
    case CURLE_QUOTE_ERROR:
      r.StoreRefused = true;
      break;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_CONNECT:
    case CURLE_LOGIN_DENIED:
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_FTP_ACCEPT_FAILED:
      r.ConnectFailed = true;
      break;
    default:
      break;
  }
  return r;
}

std::string Escape(CURL* easy, const std::string& part, bool keepWildcards) {
  std::string out;
  for (char c : part) {
    if (keepWildcards && (c == '*' || c == '?' || c == '[' || c == ']')) {
      out += c;
      continue;
    }
    char* e = curl_easy_escape(easy, &c, 1);
    out += e;
    curl_free(e);
  }
  return out;
}

}  // namespace

TInternetSession::TInternetSession(std::string agent, std::string proxy, std::string proxyUser,
                                   std::string proxyPassword)
    : agent_(std::move(agent)),
      proxy_(std::move(proxy)),
      proxyUser_(std::move(proxyUser)),
      proxyPassword_(std::move(proxyPassword)) {
  GlobalInit();
}

TInternetSession::~TInternetSession() {
  if (httpMulti_) curl_multi_cleanup(static_cast<CURLM*>(httpMulti_));
  if (http_) curl_easy_cleanup(Easy(http_));
}

void TInternetSession::Configure(void* p) const {
  CURL* easy = Easy(p);
  curl_easy_setopt(easy, CURLOPT_USERAGENT, agent_.c_str());
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  // For looking at a conversation with a server: every command and reply on standard error.
  if (std::getenv("KELVANE_TRANSFER_VERBOSE")) curl_easy_setopt(easy, CURLOPT_VERBOSE, 1L);
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, 30L);
  // A stalled peer is a failure, not a hang: under 1 byte/s for a minute ends the transfer.
  curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, 60L);
  // The library's own buffer sizes: a 256 KB receive buffer made every loopback download
  // several times slower (measured by bench/transfer).
  // An empty Proxy leaves the environment's settings (http_proxy, no_proxy, ...) in charge.
  if (!proxy_.empty()) {
    curl_easy_setopt(easy, CURLOPT_PROXY, proxy_.c_str());
    if (!proxyUser_.empty() && !proxyPassword_.empty()) {
      curl_easy_setopt(easy, CURLOPT_PROXYUSERNAME, proxyUser_.c_str());
      curl_easy_setopt(easy, CURLOPT_PROXYPASSWORD, proxyPassword_.c_str());
    }
  }
}

TNetResult TInternetSession::HttpGet(const std::string& url,
                                     const std::vector<std::string>& headers, TBlockHooks& hooks,
                                     THttpHead& head) {
  if (!http_) {
    http_ = curl_easy_init();
    httpMulti_ = curl_multi_init();
  }
  CURL* easy = Easy(http_);
  curl_easy_reset(easy);  // keeps the connection cache
  Configure(easy);
  TSlist list;
  for (const auto& h : headers) list.Add(h);
  TCall call;
  call.following = true;
  Attach(easy, call, &hooks);
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 10L);
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, list.get());
  curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, OnHeader);
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, &call);
  TNetResult r = Perform(httpMulti_, easy, call);
  head = call.head;
  return r;
}

TNetResult TInternetSession::HttpSend(const std::string& url, const std::string& verb,
                                      std::uint64_t size, TBlockHooks& hooks, long& status) {
  if (!http_) {
    http_ = curl_easy_init();
    httpMulti_ = curl_multi_init();
  }
  CURL* easy = Easy(http_);
  curl_easy_reset(easy);
  Configure(easy);
  TSlist list;
  list.Add("Expect:");  // send the body at once instead of waiting for 100 Continue
  list.Add("Cache-Control: no-cache");
  TCall call;
  Attach(easy, call, &hooks);
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  if (verb == "PUT") {
    curl_easy_setopt(easy, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(easy, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(size));
  } else {
    curl_easy_setopt(easy, CURLOPT_POST, 1L);
    curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(size));
    list.Add("Content-Type: application/octet-stream");
  }
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, list.get());
  curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, OnHeader);
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, &call);
  TNetResult r = Perform(httpMulti_, easy, call);
  status = call.head.Status;
  return r;
}

std::unique_ptr<TFtpConnection> TInternetSession::FtpConnect(const std::string& host, int port,
                                                             const std::string& user,
                                                             const std::string& password,
                                                             bool passive, TNetResult& result) {
  std::unique_ptr<TFtpConnection> c(new TFtpConnection());
  c->session_ = this;
  c->passive_ = passive;
  c->easy_ = curl_easy_init();
  c->multi_ = curl_multi_init();
  CURL* easy = Easy(c->easy_);
  const bool v6 = host.find(':') != std::string::npos && host.front() != '[';
  c->base_ = "ftp://" + (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port & 0xFFFF) + "/";
  c->Reset();
  // Both set: log in as that user; otherwise anonymously.
  if (!user.empty() && !password.empty()) {
    curl_easy_setopt(easy, CURLOPT_USERNAME, user.c_str());
    curl_easy_setopt(easy, CURLOPT_PASSWORD, password.c_str());
  }
  TCall call;
  Attach(easy, call, nullptr);
  curl_easy_setopt(easy, CURLOPT_URL, c->base_.c_str());
  curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
  result = Perform(c->multi_, easy, call);
  if (!result.Ok()) {
    result.ConnectFailed = true;
    return nullptr;
  }
  return c;
}

TFtpConnection::~TFtpConnection() {
  if (multi_) curl_multi_cleanup(static_cast<CURLM*>(multi_));  // sends QUIT
  if (easy_) curl_easy_cleanup(Easy(easy_));
}

void TFtpConnection::Reset() {
  CURL* easy = Easy(easy_);
  // Options that one operation sets and the next must not inherit; the login stays.
  curl_easy_setopt(easy, CURLOPT_NOBODY, 0L);
  curl_easy_setopt(easy, CURLOPT_UPLOAD, 0L);
  curl_easy_setopt(easy, CURLOPT_FILETIME, 0L);
  curl_easy_setopt(easy, CURLOPT_WILDCARDMATCH, 0L);
  curl_easy_setopt(easy, CURLOPT_CHUNK_BGN_FUNCTION, nullptr);
  curl_easy_setopt(easy, CURLOPT_CHUNK_DATA, nullptr);
  curl_easy_setopt(easy, CURLOPT_POSTQUOTE, nullptr);
  curl_easy_setopt(easy, CURLOPT_FTP_CREATE_MISSING_DIRS,
                   static_cast<long>(CURLFTP_CREATE_DIR_NONE));
  curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, nullptr);
  session_->Configure(easy);
  curl_easy_setopt(easy, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_MULTICWD));
  if (!passive_) curl_easy_setopt(easy, CURLOPT_FTPPORT, "-");
  // PASV rather than EPSV: the library (7.88) sometimes sleeps a whole second after an EPSV
  // reply before it opens the data connection; PASV has no such stall.
  curl_easy_setopt(easy, CURLOPT_FTP_USE_EPSV, 0L);
  curl_easy_setopt(easy, CURLOPT_TRANSFERTEXT, 0L);  // image type: bytes unchanged
}

std::string TFtpConnection::Url(const std::string& folder, const std::string& name,
                                bool relativeOnly) const {
  CURL* easy = Easy(easy_);
  std::string url = base_;
  std::string f;
  for (char c : folder) f += c == '\\' ? '/' : c;
  // A leading "/" names a folder from the server's root ("%2F" is how a URL says so).
  if (!relativeOnly && !f.empty() && f[0] == '/') url += "%2F";
  std::size_t start = 0;
  while (start <= f.size()) {
    auto end = f.find('/', start);
    if (end == std::string::npos) end = f.size();
    const std::string part = f.substr(start, end - start);
    if (!part.empty()) url += Escape(easy, part, false) + "/";
    start = end + 1;
  }
  return url + Escape(easy, name, true);
}

TNetResult TFtpConnection::Probe(const std::string& folder, const std::string& name, bool& exists,
                                 std::uint64_t& size, bool& hasTime, std::time_t& time) {
  CURL* easy = Easy(easy_);
  Reset();
  TCall call;
  Attach(easy, call, nullptr);
  const std::string url = Url(folder, name, false);
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
  curl_easy_setopt(easy, CURLOPT_FILETIME, 1L);
  TNetResult r = Perform(multi_, easy, call);
  exists = false;
  size = 0;
  hasTime = false;
  time = 0;
  if (r.Ok()) {
    exists = true;
    curl_off_t length = -1;
    if (curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK &&
        length >= 0)
      size = static_cast<std::uint64_t>(length);
    curl_off_t t = -1;
    if (curl_easy_getinfo(easy, CURLINFO_FILETIME_T, &t) == CURLE_OK && t >= 0) {
      hasTime = true;
      time = static_cast<std::time_t>(t);
    }
  }
  return r;
}

TNetResult TFtpConnection::Retrieve(const std::string& folder, const std::string& name,
                                    TBlockHooks& hooks) {
  CURL* easy = Easy(easy_);
  Reset();
  TCall call;
  Attach(easy, call, &hooks);
  const std::string url = Url(folder, name, false);
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  return Perform(multi_, easy, call);
}

TNetResult TFtpConnection::Store(const std::string& folder, const std::string& tempName,
                                 const std::string& finalName, TBlockHooks& hooks) {
  CURL* easy = Easy(easy_);
  Reset();
  TCall call;
  Attach(easy, call, &hooks);
  const std::string url = Url(folder, tempName, true);
  TSlist rename;
  rename.Add("RNFR " + tempName);
  rename.Add("RNTO " + finalName);
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_UPLOAD, 1L);
  curl_easy_setopt(easy, CURLOPT_FTP_CREATE_MISSING_DIRS,
                   static_cast<long>(CURLFTP_CREATE_DIR_RETRY));
  curl_easy_setopt(easy, CURLOPT_POSTQUOTE, rename.get());
  TNetResult r = Perform(multi_, easy, call);
  curl_easy_setopt(easy, CURLOPT_POSTQUOTE, nullptr);
  if (!r.Ok() && !r.FolderRefused && !r.ConnectFailed) DeleteQuietly(folder, tempName);
  return r;
}

TNetResult TFtpConnection::MakeFolders(const std::string& folder) {
  CURL* easy = Easy(easy_);
  Reset();
  TCall call;
  Attach(easy, call, nullptr);
  const std::string url = Url(folder, "", true);
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
  curl_easy_setopt(easy, CURLOPT_FTP_CREATE_MISSING_DIRS,
                   static_cast<long>(CURLFTP_CREATE_DIR_RETRY));
  return Perform(multi_, easy, call);
}

TNetResult TFtpConnection::List(const std::string& folder, const std::string& mask,
                                std::vector<TFtpEntry>& entries) {
  CURL* easy = Easy(easy_);
  Reset();
  TCall call;
  Attach(easy, call, nullptr);
  const std::string url = Url(folder, mask, false);
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_WILDCARDMATCH, 1L);
  curl_easy_setopt(easy, CURLOPT_CHUNK_BGN_FUNCTION, OnChunkBegin);
  curl_easy_setopt(easy, CURLOPT_CHUNK_DATA, &entries);
  TNetResult r = Perform(multi_, easy, call);
  curl_easy_setopt(easy, CURLOPT_WILDCARDMATCH, 0L);
  return r;
}

TNetResult TFtpConnection::Delete(const std::string& folder, const std::string& name) {
  CURL* easy = Easy(easy_);
  Reset();
  TCall call;
  Attach(easy, call, nullptr);
  TSlist dele;
  dele.Add("DELE " + name);
  const std::string url = Url(folder, "", false);
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
  curl_easy_setopt(easy, CURLOPT_POSTQUOTE, dele.get());
  TNetResult r = Perform(multi_, easy, call);
  curl_easy_setopt(easy, CURLOPT_POSTQUOTE, nullptr);
  return r;
}

void TFtpConnection::DeleteQuietly(const std::string& folder, const std::string& name) {
  CURL* easy = Easy(easy_);
  Reset();
  TCall call;
  Attach(easy, call, nullptr);
  TSlist dele;
  dele.Add("*DELE " + name);  // "*": a failure here is not an error
  const std::string url = Url(folder, "", true);
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
  curl_easy_setopt(easy, CURLOPT_POSTQUOTE, dele.get());
  try {
    Perform(multi_, easy, call);
  } catch (...) {
  }
  curl_easy_setopt(easy, CURLOPT_POSTQUOTE, nullptr);
}

}  // namespace kelvane::transfer
