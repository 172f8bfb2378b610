#include "controlfile/reader.h"

#include <utility>

#include "project/projectfile.h"

namespace kelvane {

TControlFileReader::TControlFileReader(std::string path) : ini_(std::move(path)) {}

std::string TControlFileReader::SectionOf(const TControlKey& key, std::string_view suffix) {
  std::string section(key.Section);
  section.append(suffix);
  return section;
}

std::string TControlFileReader::ReadText(const TControlKey& key, std::string_view suffix) const {
  return ini_.ReadString(SectionOf(key, suffix), key.Name, key.TextDefault);
}

int TControlFileReader::ReadInteger(const TControlKey& key, std::string_view suffix) const {
  // Read as text: the INI layer knows decimal only, the control file also takes hexadecimal.
  std::string section = SectionOf(key, suffix);
  if (!ini_.ValueExists(section, key.Name)) return key.IntegerDefault;
  int value = 0;
  if (ParseControlInteger(ini_.ReadString(section, key.Name, {}), value)) return value;
  return key.IntegerDefault;
}

bool TControlFileReader::ReadFlag(const TControlKey& key, std::string_view suffix) const {
  if (key.Form == cvTextFlag) return !ReadText(key, suffix).empty();
  return ReadInteger(key, suffix) == 1;
}

std::string TControlFileReader::ReadMultiLine(const TControlKey& key,
                                              std::string_view suffix) const {
  return UnescapeMultiLine(ReadText(key, suffix));
}

std::string TControlFileReader::ReadText(const TControlKey& key, int fileNumber) const {
  return ReadText(key, std::to_string(fileNumber));
}

int TControlFileReader::ReadInteger(const TControlKey& key, int fileNumber) const {
  return ReadInteger(key, std::to_string(fileNumber));
}

bool TControlFileReader::ReadFlag(const TControlKey& key, int fileNumber) const {
  return ReadFlag(key, std::to_string(fileNumber));
}

bool TControlFileReader::KeyExists(const TControlKey& key, std::string_view suffix) const {
  return ini_.ValueExists(SectionOf(key, suffix), key.Name);
}

bool TControlFileReader::KeyExists(const TControlKey& key, int fileNumber) const {
  return KeyExists(key, std::to_string(fileNumber));
}

}  // namespace kelvane
