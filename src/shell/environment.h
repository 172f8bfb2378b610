#pragma once
// The environment file Kelvane.ini: Kelvane's own settings (folders, the self-update switch, the
// window style) and the recent-projects list.
//
// Where it lives: next to the executable when that folder is writable (a portable install),
// otherwise in the user's configuration folder ($XDG_CONFIG_HOME/kelvane/Kelvane.ini). The
// default for both folder settings is the folder of the file itself.
#include <functional>
#include <string>
#include <vector>

#include "project/projectstate.h"

namespace kelvane {

// The path of Kelvane.ini for this process (see above).
std::string EnvironmentFileName();

class TEnvironmentFile {
 public:
  // `fileName` is the Kelvane.ini to use (tests pass their own); its folder is the default folder.
  explicit TEnvironmentFile(std::string fileName = EnvironmentFileName());

  const std::string& FileName() const { return fileName_; }
  const std::string& DefaultFolder() const { return defaultFolder_; }

  // Reads the file (missing: every key its default) into `settings` and applies the window
  // settings through ApplyWindowStyle. A folder setting that is empty or names no existing folder
  // becomes the default folder and is written back. A file that cannot be written is logged as a
  // warning; the settings then hold for this process only.
  void ReadEnvironment(TEnvironmentSettings& settings);

  // Applies a style index (0..11; anything else keeps the current style) and the scenic switch
  // through OnApplyWindowStyle, then logs "Changing Kelvane Style" in every case.
  void ApplyWindowStyle(int index, bool scenic);

  // Reads the "Recent Projects" section at start: the path of every line is the text after its
  // first "="; each one is added as AddRecentProject adds it, and the section is rewritten once.
  void ReadRecentProjects();
  // Appends `path` unless an equal entry (exact, case-sensitive) exists, then rewrites the
  // section: one key per entry, the project's file name, made unique with " (2)", " (3)" ... when
  // an earlier entry has the same file name, so that no entry is lost at the next start.
  void AddRecentProject(const std::string& path);
  const std::vector<std::string>& RecentProjects() const { return recent_; }

  TMessageLog* Log = nullptr;  // not owned; where "Changing Kelvane Style" and warnings go
  // The window applies the style (editor); unassigned: no window, nothing to apply.
  std::function<void(TEnvironmentFile& sender, int style, bool scenic)> OnApplyWindowStyle;
  // The application menu's recent list takes the new entry (editor).
  std::function<void(TEnvironmentFile& sender, const std::string& path)> OnRecentProjectAdded;

 private:
  void Warn(const std::string& text);
  // Appends a path the list does not hold yet; true when it was added.
  bool Remember(const std::string& path);
  // Rewrites the "Recent Projects" section from the list.
  void WriteRecentSection();

  std::string fileName_;
  std::string defaultFolder_;
  std::vector<std::string> recent_;
};

}  // namespace kelvane
