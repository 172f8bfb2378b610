#include "platform/paths.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <random>

#include "platform/errors.h"

namespace kelvane {

namespace {

std::string EnvOrEmpty(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

std::string HomeFolder() {
  std::string home = EnvOrEmpty("HOME");
  if (home.empty()) home = "/";
  return home;
}

// Expands the one form the user-dirs file uses: "$HOME/..." or an absolute path.
std::string ExpandUserDir(std::string value) {
  if (value.rfind("$HOME", 0) == 0) return HomeFolder() + value.substr(5);
  return value;
}

// XDG_DOCUMENTS_DIR from $XDG_CONFIG_HOME/user-dirs.dirs, the file xdg-user-dirs maintains.
std::string XdgDocumentsDir() {
  std::string config = EnvOrEmpty("XDG_CONFIG_HOME");
  if (config.empty()) config = HomeFolder() + "/.config";
  std::ifstream in(config + "/user-dirs.dirs");
  std::string line;
  while (std::getline(in, line)) {
    const auto start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line[start] == '#') continue;
    line = line.substr(start);
    const std::string key = "XDG_DOCUMENTS_DIR=";
    if (line.rfind(key, 0) != 0) continue;
    std::string value = line.substr(key.size());
    while (!value.empty() && (value.back() == '\r' || value.back() == ' ')) value.pop_back();
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
      value = value.substr(1, value.size() - 2);
    value = ExpandUserDir(value);
    // xdg-user-dirs sets a folder it disables to $HOME itself; that is no Documents folder.
    if (value.empty() || value == HomeFolder() || value == HomeFolder() + "/") return {};
    return value;
  }
  return {};
}

}  // namespace

std::string IncludeTrailingPathDelimiter(std::string_view folder) {
  std::string result(folder);
  if (result.empty() || result.back() != '/') result += '/';
  return result;
}

std::string ExecutableFolder() {
  char buffer[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return "./";
  return ExtractFilePath(std::string_view(buffer, static_cast<std::size_t>(n)));
}

std::string TempFolder() {
  std::string tmp = EnvOrEmpty("TMPDIR");
  if (tmp.empty()) tmp = "/tmp";
  return IncludeTrailingPathDelimiter(tmp);
}

std::string DocumentsFolder() {
  std::string documents = XdgDocumentsDir();
  if (documents.empty()) documents = HomeFolder() + "/Documents";
  return IncludeTrailingPathDelimiter(documents);
}

std::string ConfigFolder() {
  std::string config = EnvOrEmpty("XDG_CONFIG_HOME");
  if (config.empty() || config.front() != '/') config = HomeFolder() + "/.config";
  return IncludeTrailingPathDelimiter(IncludeTrailingPathDelimiter(config) + "kelvane");
}

std::string ExtractFileName(std::string_view path) {
  const auto pos = path.find_last_of("/\\");
  return std::string(pos == std::string_view::npos ? path : path.substr(pos + 1));
}

std::string ExtractFilePath(std::string_view path) {
  const auto pos = path.find_last_of("/\\");
  return pos == std::string_view::npos ? std::string() : std::string(path.substr(0, pos + 1));
}

std::string ChangeFileExt(std::string_view path, std::string_view extension) {
  const auto separator = path.find_last_of("/\\");
  const auto dot = path.find_last_of('.');
  std::string result(path);
  if (dot != std::string_view::npos && (separator == std::string_view::npos || dot > separator))
    result.resize(dot);
  result += extension;
  return result;
}

bool FileExists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsUncPath(std::string_view path) {
  return path.size() > 2 && path[0] == '\\' && path[1] == '\\' && path[2] != '\\';
}

void WriteFileAtomically(const std::string& target, std::string_view data) {
  if (target.empty()) RaiseUnableToWrite(target);
  // Write through a link to the file it names, so the link itself survives.
  std::string destination = target;
  char resolved[PATH_MAX];
  struct stat lst;
  if (lstat(target.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode) &&
      realpath(target.c_str(), resolved) != nullptr)
    destination = resolved;

  struct stat existing;
  const bool exists = stat(destination.c_str(), &existing) == 0;
  if (exists && !S_ISREG(existing.st_mode)) RaiseUnableToWrite(target);
  // A read-only file is refused, as the platform refuses it on Windows.
  if (exists && access(destination.c_str(), W_OK) != 0) RaiseUnableToWrite(target);

  std::random_device random;
  const std::string temp = ExtractFilePath(destination) + "." + ExtractFileName(destination) +
                           ".tmp" + std::to_string(getpid()) + "_" + std::to_string(random());
  const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) RaiseUnableToWrite(target);
  bool ok = true;
  const char* p = data.data();
  std::size_t left = data.size();
  while (ok && left > 0) {
    const ssize_t n = write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  if (ok && exists) fchmod(fd, existing.st_mode & 07777);  // keep the file's permissions
  if (ok && fsync(fd) != 0) ok = false;
  if (close(fd) != 0) ok = false;
  if (ok && rename(temp.c_str(), destination.c_str()) != 0) ok = false;
  if (!ok) {
    unlink(temp.c_str());
    RaiseUnableToWrite(target);
  }
}

}  // namespace kelvane
