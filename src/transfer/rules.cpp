#include "transfer/rules.h"

#include <sys/stat.h>

#include <cerrno>

#include "platform/paths.h"

namespace kelvane::transfer {

std::string FileNameOf(std::string_view s) {
  auto pos = s.rfind('/');
  if (pos != std::string_view::npos) s.remove_prefix(pos + 1);
  pos = s.rfind('\\');
  if (pos != std::string_view::npos) s.remove_prefix(pos + 1);
  return std::string(s);
}

std::string JoinPath(std::string_view folder, std::string_view name) {
  if (folder.empty()) return std::string(name);
  if (folder.back() == '/' || folder.back() == '\\') return std::string(folder) + std::string(name);
  // A UNC folder keeps its own separator.
  const char sep = IsUncPath(folder) ? '\\' : '/';
  return std::string(folder) + sep + std::string(name);
}

namespace {
std::string ParentOf(const std::string& path) {
  const auto pos = path.find_last_of('/');
  if (pos == std::string::npos) return path;
  if (pos == 0) return "/";
  return path.substr(0, pos);
}
}  // namespace

bool CreateFolders(std::string path) {
  if (!path.empty() && (path.back() == '/' || path.back() == '\\') && path.size() > 1)
    path.pop_back();
  if (path.size() < 3 || DirectoryExists(path)) return DirectoryExists(path) || path.size() < 3;
  // Never make a local folder out of a UNC name: only the share layer can reach it.
  if (IsUncPath(path) || path.rfind("\\\\", 0) == 0) return false;
  const std::string parent = ParentOf(path);
  if (parent == path) return DirectoryExists(path);
  if (!CreateFolders(parent)) return false;
  if (mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) return false;
  return DirectoryExists(path);
}

std::string UniqueName(const std::string& path) {
  const auto sep = path.find_last_of("/\\");
  const auto dot = path.rfind('.');
  const bool hasExt = dot != std::string::npos && (sep == std::string::npos || dot > sep);
  const std::string stem = hasExt ? path.substr(0, dot) : path;
  const std::string ext = hasExt ? path.substr(dot) : std::string();
  for (unsigned n = 1;; ++n) {
    std::string candidate = stem + "(" + std::to_string(n) + ")" + ext;
    struct stat st;
    if (lstat(candidate.c_str(), &st) != 0) return candidate;
  }
}

std::string Slashes(std::string_view text) {
  std::string r(text);
  for (char& c : r)
    if (c == '\\') c = '/';
  return r;
}

namespace {
bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(s[i])) != prefix[i]) return false;
  return true;
}
}  // namespace

std::string ApplyProxyCredentials(std::string_view url, std::string_view user,
                                  std::string_view password) {
  if (!StartsWithNoCase(url, "http://") || user.empty() || password.empty())
    return std::string(url);
  return "http://" + std::string(user) + ":" + std::string(password) + "@" +
         std::string(url.substr(7));
}

namespace {
std::string_view AfterScheme(std::string_view url) {
  const auto pos = url.find("://");
  return pos == std::string_view::npos ? url : url.substr(pos + 3);
}
std::string_view AfterUser(std::string_view s) {
  const auto pos = s.find('@');
  return pos == std::string_view::npos ? s : s.substr(pos + 1);
}
}  // namespace

std::string UrlHost(std::string_view url) {
  std::string_view s = AfterUser(AfterScheme(url));
  return std::string(s.substr(0, s.find('/')));
}

std::string UrlPath(std::string_view url) {
  std::string_view s = AfterUser(AfterScheme(url));
  const auto pos = s.find('/');
  return pos == std::string_view::npos ? std::string() : std::string(s.substr(pos));
}

std::string LoginCaptionHost(std::string_view url) {
  std::string_view s = AfterScheme(url);
  s = s.substr(0, s.find('/'));
  s = s.substr(0, s.find('\\'));
  return std::string(s);
}

std::string Base64(std::string_view bytes) {
  static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) |
                       (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                       static_cast<unsigned char>(bytes[i + 2]);
    out += alphabet[(v >> 18) & 63];
    out += alphabet[(v >> 12) & 63];
    out += alphabet[(v >> 6) & 63];
    out += alphabet[v & 63];
  }
  if (i < bytes.size()) {
    unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
    const bool two = i + 1 < bytes.size();
    if (two) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    out += alphabet[(v >> 18) & 63];
    out += alphabet[(v >> 12) & 63];
    out += two ? alphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

namespace {
// UTF-8 text to one byte per character: the low 8 bits of each code point.
std::string LowBytes(std::string_view utf8) {
  std::string out;
  for (std::size_t i = 0; i < utf8.size();) {
    const unsigned char c = static_cast<unsigned char>(utf8[i]);
    unsigned cp = c;
    int extra = 0;
    if (c >= 0xF0) {
      cp = c & 0x07;
      extra = 3;
    } else if (c >= 0xE0) {
      cp = c & 0x0F;
      extra = 2;
    } else if (c >= 0xC0) {
      cp = c & 0x1F;
      extra = 1;
    }
    ++i;
    for (int k = 0; k < extra && i < utf8.size(); ++k, ++i)
      cp = (cp << 6) | (static_cast<unsigned char>(utf8[i]) & 0x3F);
    out += static_cast<char>(cp & 0xFF);
  }
  return out;
}
}  // namespace

std::string BasicAuthorization(std::string_view user, std::string_view password) {
  if (user.empty() && password.empty()) return {};
  return "Authorization: Basic " +
         Base64(LowBytes(std::string(user) + ":" + std::string(password)));
}

TDateTime CalendarToDateTime(std::time_t utc) {
  return 25569.0 + static_cast<double>(utc) / 86400.0;
}

std::uint64_t UnixToFileTime(std::time_t t) {
  return (static_cast<std::uint64_t>(t) + 11644473600ULL) * 10000000ULL;
}

void SplitHostPort(std::string_view host, int defaultPort, std::string& name, int& port) {
  name = std::string(host);
  port = defaultPort;
  const auto colon = host.rfind(':');
  // A bracketed IPv6 literal or a name with several colons keeps them.
  if (colon == std::string_view::npos || host.find(':') != colon) return;
  const std::string_view digits = host.substr(colon + 1);
  if (digits.empty() || digits.size() > 5) return;
  int value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return;
    value = value * 10 + (c - '0');
  }
  if (value < 1 || value > 65535) return;
  name = std::string(host.substr(0, colon));
  port = value;
}

}  // namespace kelvane::transfer
