// Version texts, size texts, short names and the shell's file information.
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>

#include "filefacts/filefacts.h"
#include "platform/paths.h"

namespace kelvane {

namespace {

// A number with at most two decimals and no trailing zeros, at least one integer digit
// (the "#.##" and "####0.##" patterns; "#.##" would show 0 as nothing, which reads as a fault).
std::string TwoDecimals(double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.2f", value);
  std::string text = buffer;
  while (text.back() == '0') text.pop_back();
  if (text.back() == '.') text.pop_back();
  if (text == "-0") text = "0";
  return text;
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// A whole decimal number modulo 65536; false for anything but digits. Empty reads as 0.
bool PartModulo(std::string_view text, std::uint32_t& value) {
  value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    value = (value * 10 + static_cast<std::uint32_t>(c - '0')) & 0xFFFF;
  }
  return true;
}

std::string TypeNameOf(const std::string& name, bool directory) {
  if (directory) return "File folder";
  const auto dot = name.find_last_of('.');
  if (dot == std::string::npos || dot == 0 || dot + 1 == name.size()) return "File";
  std::string ext = name.substr(dot + 1);
  for (char& c : ext)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  if (ext == "EXE") return "Application";
  if (ext == "DLL") return "Application extension";
  if (ext == "TXT") return "Text Document";
  if (ext == "INI") return "Configuration settings";
  if (ext == "INF") return "Setup Information";
  if (ext == "CAB") return "Cabinet File";
  return ext + " File";
}

}  // namespace

std::string VersionToText(int major, int minor, int release, int build) {
  return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(release) + "." +
         std::to_string(build);
}

std::string VersionToText(const TFileVersion& version) {
  return VersionToText(version.major, version.minor, version.release, version.build);
}

TVersionWords TextToVersion(std::string_view text) {
  const char separator = text.find(',') != std::string_view::npos   ? ','
                         : text.find('.') != std::string_view::npos ? '.'
                                                                    : '\0';
  if (separator == '\0') {
    const std::string_view number = TrimBlanks(text);
    std::uint32_t n;
    if (number.empty() || !PartModulo(number, n)) return kNoVersion;
    return {n << 16, 0};
  }
  std::uint32_t parts[4] = {0, 0, 0, 0};
  std::size_t start = 0;
  for (int i = 0; i < 4 && start <= text.size(); ++i) {
    auto stop = text.find(separator, start);
    if (stop == std::string_view::npos) stop = text.size();
    if (!PartModulo(TrimBlanks(text.substr(start, stop - start)), parts[i])) return kNoVersion;
    start = stop + 1;
  }
  return {(parts[0] << 16) | parts[1], (parts[2] << 16) | parts[3]};
}

std::string FormatFileSize(std::int64_t bytes) {
  // A size held in 32 bits comes out negative from 2 GiB on; it stands for the unsigned count.
  if (bytes < 0 && bytes >= INT32_MIN) bytes += std::int64_t{1} << 32;
  const double n = static_cast<double>(bytes);
  if (bytes > 1073741824) return TwoDecimals(n / 1073741824) + " GB";
  if (bytes > 1048576) return TwoDecimals(n / 1048576) + " MB";
  if (bytes > 1024) return TwoDecimals(n / 1024) + " KB";
  return TwoDecimals(n) + " bytes";
}

std::string ShortFileName(std::string_view name) {
  constexpr std::size_t kLimit = 25;
  std::size_t characters = 0;
  for (std::size_t i = 0; i < name.size(); ++i) {
    if ((static_cast<unsigned char>(name[i]) & 0xC0) == 0x80) continue;  // continuation byte
    if (characters == kLimit) return std::string(name.substr(0, i)) + " ...";
    ++characters;
  }
  return std::string(name);
}

void GetShellFileInfo(const std::string& path, TFileInfo& info) {
  if (path.find_first_not_of(' ') == std::string::npos) return;
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return;
  std::string name = ExtractFileName(path);
  if (name.empty()) name = path;  // a folder given with a trailing "/"
  info.DisplayName = name;
  info.TypeName = TypeNameOf(name, S_ISDIR(st.st_mode));

  // The directory search asks for plain files: folders and hidden files are not found.
  if (!S_ISREG(st.st_mode) || name.front() == '.') return;
  const auto size = static_cast<std::uint32_t>(st.st_size);
  info.Size = static_cast<std::int32_t>(size);
  if (size < 1024)
    info.SizeText = std::to_string(size) + " bytes";
  else if (size < 1048576)
    info.SizeText = TwoDecimals(size / 1024.0) + " Kb";
  else if (size < 1073741824)
    info.SizeText = TwoDecimals(size / 1048576.0) + " Mb";
  else
    info.SizeText = TwoDecimals(size / 1073741824.0) + " Gb";
  info.ReadOnly = access(path.c_str(), W_OK) != 0 || (st.st_mode & S_IWUSR) == 0;
  info.Archive = false;
  info.SysFile = false;
  info.Hidden = false;
  info.VolumeID = false;
  info.Directory = false;
}

}  // namespace kelvane
