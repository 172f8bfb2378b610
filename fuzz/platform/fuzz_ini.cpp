// INI reader and editor on arbitrary file bytes. Besides surviving, it checks the rules that must
// hold for any file: a value written is read back (trimmed, one quote pair less), also after the
// text is parsed again; an erased section is gone; untouched lines keep their bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/encoding.h"
#include "platform/inifile.h"

using kelvane::TIniFile;

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The first bytes choose the calls; the rest is the file.
  if (size < 4) return 0;
  const std::uint8_t op = data[0], a = data[1], b = data[2], c = data[3];
  const std::string file(reinterpret_cast<const char*>(data + 4), size - 4);
  TIniFile ini("/nonexistent/fuzz.ini", file);

  // Reading anything the file names must work.
  const std::string any = file.substr(0, std::min<std::size_t>(file.size(), a % 16));
  (void)ini.ReadString(any, any, "d");
  (void)ini.ReadInteger(any, any, 7);
  (void)ini.ReadIntegerOrHex(any, any, 7);
  for (const std::string& line : ini.ReadSectionLines(any)) (void)line;
  (void)ini.ReadSectionValues(any);
  (void)ini.SectionExists(any);

  const std::string unchanged = ini.Text();
  Check(unchanged == file);  // parsing alone changes no byte

  // Names that the rules let through unchanged: no blanks at the ends, no "]", "=", line breaks,
  // no leading ";" or "["; the value has no line breaks (a raw one would break the file).
  const std::string section = "S" + std::to_string(a % 4);
  const std::string key = "k" + std::to_string(b % 4);
  std::string value = file.substr(0, std::min<std::size_t>(file.size(), c));
  for (char& ch : value)
    if (ch == '\r' || ch == '\n') ch = 'x';

  switch (op % 4) {
    case 0:
      ini.WriteString(section, key, value);
      break;
    case 1:
      ini.EraseSection(section);
      Check(!ini.SectionExists(section));
      ini.WriteString(section, key, value);
      break;
    case 2: {
      // Only the first of duplicate keys goes.
      const bool existed = ini.ValueExists(section, key);
      const std::size_t before = ini.ReadSectionLines(section).size();
      ini.DeleteKey(section, key);
      Check(ini.ReadSectionLines(section).size() == before - (existed ? 1 : 0));
    }
      ini.WriteString(section, key, value);
      break;
    default:
      ini.WriteString(any, any, value);
      return 0;
  }
  const TIniFile again("/nonexistent/fuzz.ini", ini.Text());
  const std::string read1 = ini.ReadString(section, key, "\x01");
  const std::string read2 = again.ReadString(section, key, "\x01");
  Check(read1 == read2);
  // Windows-1252 on disk, UTF-8 in the program: the write converts, so the reference does too.
  const TIniFile expectedOnly("/x", "[S]\r\nk=" + kelvane::Utf8ToAnsi(value) + "\r\n");
  Check(read1 == expectedOnly.ReadString("S", "k", "\x01"));
  return 0;
}
