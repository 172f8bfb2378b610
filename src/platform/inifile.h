#pragma once
// INI files with the semantics of the Windows profile-string functions: the file is edited as text
// (untouched lines keep their bytes), section and key names compare without case, the first match
// wins, values are trimmed and lose one pair of surrounding quotes, files are Windows-1252 with CR LF.
// Values are read whole: unlike the original there is no 2047-character limit.
//
// A TIniFile loads the file once and applies every write to its in-memory text; UpdateFile() puts
// the text on disk (beside the target, then renamed into place). Text in and out is UTF-8.
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kelvane {

class TIniFile {
 public:
  // Reads the file at path; a missing or unreadable file reads as empty.
  explicit TIniFile(std::string path);

  const std::string& FileName() const { return path_; }

  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view defaultValue) const;
  // Decimal with an optional sign; anything else (or a missing key) gives the default.
  int ReadInteger(std::string_view section, std::string_view key, int defaultValue) const;
  // Read as an integer; any value other than 0 is true.
  bool ReadBool(std::string_view section, std::string_view key, bool defaultValue) const;

  // Replaces the first matching key's value in place, or appends the key at the end of its
  // section, or appends the section at the end of the file.
  void WriteString(std::string_view section, std::string_view key, std::string_view value);
  void WriteInteger(std::string_view section, std::string_view key, int value);
  void WriteBool(std::string_view section, std::string_view key, bool value);  // 1 or 0

  bool SectionExists(std::string_view section) const;
  bool ValueExists(std::string_view section, std::string_view key) const;
  void DeleteKey(std::string_view section, std::string_view key);
  // Removes the section header and all its lines.
  void EraseSection(std::string_view section);
  // Every line of the first matching section as the profile functions return it ("key=value"
  // lines, and lines without "="), comments and blank lines left out.
  std::vector<std::string> ReadSectionLines(std::string_view section) const;
  // The section's entries as (key, value) pairs split at the first "=".
  std::vector<std::pair<std::string, std::string>> ReadSectionValues(std::string_view section) const;

  // Writes the text to disk when it changed. Throws EInOutError "Unable to write to <path>" when
  // the platform refuses; the previous file then stays as it was.
  void UpdateFile();

 private:
  std::string path_;
  std::vector<std::string> lines_;  // Windows-1252 bytes, without line ends
  bool dirty_ = false;
  bool endsWithoutNewline_ = false;
};

}  // namespace kelvane
