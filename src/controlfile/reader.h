#pragma once
// Reading a control file with the defaults of its format (controlfile/format.h). The generator's
// output and the update engine's input meet here: whatever key the engine asks for, it gets the
// value the generator wrote, or the documented default when the key is absent.
//
// Rules, on top of the INI layer: section and key names compare without case (the engine asks for
// showURL, the generator writes showurl); an absent key reads as the key's text default (mostly
// empty) or integer default; an integer that is not a number (empty, "12abc", too large) reads as
// the default; integers may be decimal or hexadecimal with "$" or "0x".
#include <string>
#include <string_view>

#include "controlfile/format.h"
#include "platform/inifile.h"

namespace kelvane {

class TControlFileReader {
 public:
  // Reads the file at path once; a missing or unreadable file reads as empty, so every key gives
  // its default. Never throws for the file's content.
  explicit TControlFileReader(std::string path);

  const std::string& FileName() const { return ini_.FileName(); }

  // `suffix` is appended to the key's section name: the number of a [fileN] section, or the
  // language identifier of a [eula...] or [whatsnew...] section. Empty for the plain sections.
  std::string ReadText(const TControlKey& key, std::string_view suffix = {}) const;
  int ReadInteger(const TControlKey& key, std::string_view suffix = {}) const;
  // Integer flags are set when they read 1; text flags (unconditional) when their text is not
  // empty.
  bool ReadFlag(const TControlKey& key, std::string_view suffix = {}) const;
  // A multi-line value as the model holds it: lines separated by CR LF, no final break.
  std::string ReadMultiLine(const TControlKey& key, std::string_view suffix = {}) const;

  // The same for the numbered [fileN] sections, N from 1.
  std::string ReadText(const TControlKey& key, int fileNumber) const;
  int ReadInteger(const TControlKey& key, int fileNumber) const;
  bool ReadFlag(const TControlKey& key, int fileNumber) const;

  // [files] count: the number of [fileN] sections (0 when absent or not a number).
  int FileCount() const { return ReadInteger(inf::FilesCount); }

  bool KeyExists(const TControlKey& key, std::string_view suffix = {}) const;
  bool KeyExists(const TControlKey& key, int fileNumber) const;

 private:
  static std::string SectionOf(const TControlKey& key, std::string_view suffix);

  TIniFile ini_;
};

}  // namespace kelvane
