#include "platform/shares.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include "platform/paths.h"

namespace kelvane {

namespace {

std::string Lower(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return r;
}

// Share names compare without case, as Windows compares them; the key is "server/share".
std::string Key(std::string_view server, std::string_view share) {
  return Lower(server) + "/" + Lower(share);
}

std::map<std::string, std::string>& Registered() {
  static std::map<std::string, std::string> mounts;
  return mounts;
}

// Splits "\\server\share\rest" (or with "/") into its parts. False for other paths.
bool SplitUnc(std::string_view path, std::string& server, std::string& share, std::string& rest) {
  if (path.size() < 3 || (path[0] != '\\' && path[0] != '/') || (path[1] != '\\' && path[1] != '/'))
    return false;
  std::string p(path.substr(2));
  for (char& c : p)
    if (c == '\\') c = '/';
  const auto s1 = p.find('/');
  if (s1 == 0 || s1 == std::string::npos) return false;
  server = p.substr(0, s1);
  const auto s2 = p.find('/', s1 + 1);
  share = p.substr(s1 + 1, s2 == std::string::npos ? std::string::npos : s2 - s1 - 1);
  if (share.empty()) return false;
  rest = s2 == std::string::npos ? std::string() : p.substr(s2 + 1);
  return true;
}

// /proc/self/mounts writes blanks and some bytes as octal escapes ("\040").
std::string Unescape(const std::string& s) {
  std::string r;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size() + 0 && std::isdigit(static_cast<unsigned char>(s[i + 1]))) {
      r += static_cast<char>(std::strtol(s.substr(i + 1, 3).c_str(), nullptr, 8));
      i += 3;
    } else {
      r += s[i];
    }
  }
  return r;
}

std::string FindMount(const std::string& server, const std::string& share) {
  const std::string key = Key(server, share);
  if (auto it = Registered().find(key); it != Registered().end()) return it->second;
  std::ifstream mounts("/proc/self/mounts");
  std::string line;
  while (std::getline(mounts, line)) {
    std::istringstream fields(line);
    std::string source, target, type;
    fields >> source >> target >> type;
    if (type != "cifs" && type != "smb3" && type != "smbfs") continue;
    std::string srv, shr, rest;
    if (SplitUnc(Unescape(source), srv, shr, rest) && Key(srv, shr) == key && rest.empty())
      return Unescape(target);
  }
  // A desktop session mounts shares through gvfs under the runtime folder.
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR")) {
    const std::string gvfs = std::string(runtime) + "/gvfs/smb-share:server=" + Lower(server) +
                             ",share=" + Lower(share);
    if (DirectoryExists(gvfs)) return gvfs;
  }
  return {};
}

}  // namespace

std::string ShareOfUncPath(std::string_view path) {
  std::string server, share, rest;
  if (!SplitUnc(path, server, share, rest)) return {};
  return "\\\\" + server + "\\" + share;
}

bool ResolveSharePath(std::string_view path, std::string& local) {
  std::string server, share, rest;
  if (!IsUncPath(path) || !SplitUnc(path, server, share, rest)) {
    local = std::string(path);
    return true;
  }
  const std::string mount = FindMount(server, share);
  if (mount.empty() || !DirectoryExists(mount)) return false;
  local = rest.empty() ? mount : IncludeTrailingPathDelimiter(mount) + rest;
  return true;
}

bool ConnectShare(std::string_view share, std::string_view, std::string_view,
                  std::string& reason) {
  std::string server, name, rest;
  if (!SplitUnc(share, server, name, rest)) {
    reason = "not a network share name: " + std::string(share);
    return false;
  }
  const std::string mount = FindMount(server, name);
  if (mount.empty() || !DirectoryExists(mount)) {
    reason = "the network share " + ShareOfUncPath(share) + " is not mounted";
    return false;
  }
  return true;
}

bool DisconnectShare(std::string_view share) {
  std::string server, name, rest;
  if (!SplitUnc(share, server, name, rest)) return false;
  const std::string mount = FindMount(server, name);
  return !mount.empty();
}

void RegisterShareMount(std::string_view share, const std::string& folder) {
  std::string server, name, rest;
  if (SplitUnc(share, server, name, rest)) Registered()[Key(server, name)] = folder;
}

void UnregisterShareMount(std::string_view share) {
  std::string server, name, rest;
  if (SplitUnc(share, server, name, rest)) Registered().erase(Key(server, name));
}

}  // namespace kelvane
