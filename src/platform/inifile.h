#pragma once
// INI files with the semantics of the Windows profile-string functions: the file is edited as text
// (untouched lines keep their bytes), section and key names compare without case, the first match
// wins, values are trimmed and lose one pair of surrounding quotes, files are Windows-1252 with CR
// LF. Values are read whole: unlike the original there is no 2047-character limit.
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
  // As if the file at path held `text` (Windows-1252 bytes); nothing is read from disk.
  TIniFile(std::string path, std::string_view text);

  const std::string& FileName() const { return path_; }

  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view defaultValue) const;
  // Decimal with an optional sign; anything else (or a missing key) gives the default.
  int ReadInteger(std::string_view section, std::string_view key, int defaultValue) const;
  // As ReadInteger, and also hexadecimal with a leading "$" or "0x" (the control file's readers).
  int ReadIntegerOrHex(std::string_view section, std::string_view key, int defaultValue) const;
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
  // Removes the section header and its entries (comment and blank lines stay), for every
  // section of that name.
  void EraseSection(std::string_view section);
  // Every line of the first matching section as the profile functions return it ("key=value"
  // lines, and lines without "="), comments and blank lines left out.
  std::vector<std::string> ReadSectionLines(std::string_view section) const;
  // The section's entries as (key, value) pairs split at the first "=".
  std::vector<std::pair<std::string, std::string>> ReadSectionValues(
      std::string_view section) const;

  // The bytes UpdateFile() would write.
  std::string Text() const;

  // Writes the text to disk when it changed. Throws EInOutError "Unable to write to <path>" when
  // the platform refuses; the previous file then stays as it was.
  void UpdateFile();

 private:
  struct Line {
    std::string text;  // Windows-1252 bytes, without the line end
    std::string end;   // the line end as read ("\r\n", "\r", "\n" or "" for a last line)
  };
  // Index range [first, last) of the first section of that name; first is its header line.
  bool FindSection(std::string_view ansiName, std::size_t& header, std::size_t& end) const;
  // Index of the first key line of that name inside the section, or npos.
  std::size_t FindKey(std::size_t header, std::size_t end, std::string_view ansiKey) const;
  void Insert(std::size_t index, std::string text);
  void Parse(std::string_view data);

  std::string path_;
  std::vector<Line> lines_;
  bool dirty_ = false;
};

// Integer text as the INI readers take it: an optional sign and decimal digits, or, when
// allowHex is set, "$" or "0x" followed by up to eight hexadecimal digits (taken as 32 bits).
// Blanks, other characters and values outside the int range fail.
bool TryStrToInt(std::string_view text, int& value, bool allowHex = false);

}  // namespace kelvane
