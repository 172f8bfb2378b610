#include "shell/environment.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "platform/errors.h"
#include "platform/inifile.h"
#include "platform/paths.h"

namespace kelvane {

namespace {

constexpr const char* kProjectSettings = "Project Settings";
constexpr const char* kRecentProjects = "Recent Projects";

// Creates the folder and its parents (the configuration folder may not exist yet).
void MakeFolders(const std::string& folder) {
  std::string path;
  for (std::size_t i = 0; i < folder.size(); ++i) {
    path += folder[i];
    if ((folder[i] == '/' || i + 1 == folder.size()) && path != "/") mkdir(path.c_str(), 0755);
  }
}

// The key of a recent project: its file name, without characters that would make the line
// something else (a section header, a comment, a second "=").
std::string RecentKey(const std::string& path) {
  std::string key = ExtractFileName(path);
  if (key.empty()) key = path;
  for (char& c : key)
    if (c == '=' || c == '[' || c == ']' || c == ';') c = '_';
  return key;
}

}  // namespace

std::string EnvironmentFileName() {
  const std::string folder = ExecutableFolder();
  if (access(folder.c_str(), W_OK) == 0) return folder + "Kelvane.ini";
  return ConfigFolder() + "Kelvane.ini";
}

TEnvironmentFile::TEnvironmentFile(std::string fileName)
    : fileName_(std::move(fileName)), defaultFolder_(ExtractFilePath(fileName_)) {}

void TEnvironmentFile::Warn(const std::string& text) {
  if (Log) Log->LogMessage(text, mkWarning);
}

void TEnvironmentFile::ReadEnvironment(TEnvironmentSettings& settings) {
  TIniFile ini(fileName_);
  settings.KelvaneProjectPath = ini.ReadString(kProjectSettings, "KelvaneProjectPath", "");
  settings.UpdateFilePath = ini.ReadString(kProjectSettings, "UpdateFilePath", "");
  settings.UpdateEnabled = ini.ReadBool(kProjectSettings, "UpdateEnabled", true);
  settings.ScenicRibbon = ini.ReadBool("Windows 7 Scenic Ribbon", "Style", false);
  settings.Style = ini.ReadInteger("Kelvane Environment", "Style", -1);
  ApplyWindowStyle(settings.Style, settings.ScenicRibbon);

  bool changed = false;
  for (auto [key, value] : {std::pair{"KelvaneProjectPath", &settings.KelvaneProjectPath},
                            std::pair{"UpdateFilePath", &settings.UpdateFilePath}}) {
    if (!value->empty() && DirectoryExists(*value)) continue;
    *value = defaultFolder_;
    ini.WriteString(kProjectSettings, key, *value);
    changed = true;
  }
  if (!changed) return;
  try {
    MakeFolders(defaultFolder_);
    ini.UpdateFile();
  } catch (const EInOutError& e) {
    // The settings hold for this process only.
    Warn(e.what());
  }
}

void TEnvironmentFile::ApplyWindowStyle(int index, bool scenic) {
  if (OnApplyWindowStyle) OnApplyWindowStyle(*this, index, scenic);
  if (Log) Log->LogMessage("Changing Kelvane Style", mkInformational);
}

void TEnvironmentFile::ReadRecentProjects() {
  const TIniFile ini(fileName_);
  bool added = false;
  for (const std::string& line : ini.ReadSectionLines(kRecentProjects)) {
    const std::size_t eq = line.find('=');
    const std::string path = eq == std::string::npos ? line : line.substr(eq + 1);
    if (!path.empty()) added |= Remember(path);
  }
  // One rewrite for the whole list: the same section as one rewrite per entry would leave.
  if (added) WriteRecentSection();
}

void TEnvironmentFile::AddRecentProject(const std::string& path) {
  if (Remember(path)) WriteRecentSection();
}

bool TEnvironmentFile::Remember(const std::string& path) {
  if (std::find(recent_.begin(), recent_.end(), path) != recent_.end()) return false;
  recent_.push_back(path);
  if (OnRecentProjectAdded) OnRecentProjectAdded(*this, path);
  return true;
}

void TEnvironmentFile::WriteRecentSection() {
  TIniFile ini(fileName_);
  ini.EraseSection(kRecentProjects);
  for (const std::string& entry : recent_) {
    // A path with a line break would break the section apart; it stays in memory only.
    if (entry.find_first_of("\r\n") != std::string::npos) continue;
    // A key the section already holds (names compare as the INI rules do) gets a suffix.
    const std::string base = RecentKey(entry);
    std::string key = base;
    for (int n = 2; ini.ValueExists(kRecentProjects, key); ++n)
      key = base + " (" + std::to_string(n) + ")";
    ini.WriteString(kRecentProjects, key, entry);
  }
  try {
    MakeFolders(defaultFolder_);
    ini.UpdateFile();
  } catch (const EInOutError& e) {
    Warn(e.what());
  }
}

}  // namespace kelvane
