#include "platform/inifile.h"

#include <climits>
#include <cstdint>
#include <fstream>
#include <sstream>

#include "platform/encoding.h"
#include "platform/paths.h"

namespace kelvane {

namespace {

constexpr std::size_t npos = std::string::npos;

// Blanks the reader trims around names, "=" and values: space, tab, vertical tab.
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v'; }

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// Name arguments lose surrounding spaces only; a tab in an argument is kept (and fails to match).
std::string_view TrimSpaces(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

// Case folding of Windows-1252 letters, so "Übersicht" matches "übersicht" as well.
unsigned char FoldCase(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return static_cast<unsigned char>(c + 32);
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<unsigned char>(c + 32);
  switch (c) {
    case 0x8A:
      return 0x9A;  // Š
    case 0x8C:
      return 0x9C;  // Œ
    case 0x8E:
      return 0x9E;  // Ž
    case 0x9F:
      return 0xFF;  // Ÿ
    default:
      return c;
  }
}

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (FoldCase(static_cast<unsigned char>(a[i])) != FoldCase(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

enum class Kind { Blank, Comment, Header, Entry };

Kind KindOf(std::string_view line) {
  const std::string_view t = TrimBlanks(line);
  if (t.empty()) return Kind::Blank;
  if (t.front() == ';') return Kind::Comment;
  if (t.front() == '[') return Kind::Header;
  return Kind::Entry;
}

// The name of a header line: up to the first "]" (which may be missing), blanks dropped.
std::string_view HeaderName(std::string_view line) {
  std::string_view t = TrimBlanks(line);
  t.remove_prefix(1);
  const auto close = t.find(']');
  if (close != npos) t = t.substr(0, close);
  return TrimBlanks(t);
}

// Splits an entry at its first "="; false for a line without one.
bool SplitEntry(std::string_view line, std::string_view& key, std::string_view& value) {
  const auto eq = line.find('=');
  if (eq == npos) return false;
  key = TrimBlanks(line.substr(0, eq));
  value = TrimBlanks(line.substr(eq + 1));
  return true;
}

std::string_view StripQuotes(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front())
    return value.substr(1, value.size() - 2);
  return value;
}

}  // namespace

bool TryStrToInt(std::string_view text, int& value, bool allowHex) {
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  bool hex = false;
  if (allowHex && i < text.size() && text[i] == '$') {
    hex = true;
    ++i;
  } else if (allowHex && i + 1 < text.size() && text[i] == '0' &&
             (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    hex = true;
    i += 2;
  }
  if (i >= text.size()) return false;
  unsigned long long magnitude = 0;
  std::size_t digits = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    int d;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (hex && c >= 'a' && c <= 'f')
      d = c - 'a' + 10;
    else if (hex && c >= 'A' && c <= 'F')
      d = c - 'A' + 10;
    else
      return false;
    magnitude = magnitude * (hex ? 16 : 10) + static_cast<unsigned>(d);
    if (magnitude > 0xFFFFFFFFull) return false;
    if (magnitude > 0) ++digits;
  }
  if (hex) {
    // Eight hex digits are 32 bits: "$FFFFFFFF" is -1, as the readers of the original take it.
    const auto bits = static_cast<std::uint32_t>(magnitude);
    const auto v = static_cast<std::int32_t>(bits);
    if (negative && v == INT_MIN) {
      value = INT_MIN;
      return true;
    }
    value = negative ? -v : v;
    return true;
  }
  if (negative ? magnitude > 2147483648ull : magnitude > 2147483647ull) return false;
  value =
      negative ? static_cast<int>(-static_cast<long long>(magnitude)) : static_cast<int>(magnitude);
  return true;
}

TIniFile::TIniFile(std::string path) : path_(std::move(path)) {
  std::ifstream in(path_, std::ios::binary);
  if (!in) return;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  Parse(buffer.str());
}

TIniFile::TIniFile(std::string path, std::string_view text) : path_(std::move(path)) {
  Parse(text);
}

void TIniFile::Parse(std::string_view data) {
  std::size_t start = 0;
  while (start < data.size()) {
    std::size_t stop = data.find_first_of("\r\n", start);
    if (stop == npos) {
      lines_.push_back({std::string(data.substr(start)), ""});
      break;
    }
    std::size_t endLength =
        data[stop] == '\r' && stop + 1 < data.size() && data[stop + 1] == '\n' ? 2 : 1;
    lines_.push_back(
        {std::string(data.substr(start, stop - start)), std::string(data.substr(stop, endLength))});
    start = stop + endLength;
  }
}

bool TIniFile::FindSection(std::string_view ansiName, std::size_t& header, std::size_t& end) const {
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    if (KindOf(lines_[i].text) != Kind::Header || !SameText(HeaderName(lines_[i].text), ansiName))
      continue;
    header = i;
    end = i + 1;
    while (end < lines_.size() && KindOf(lines_[end].text) != Kind::Header) ++end;
    return true;
  }
  return false;
}

std::size_t TIniFile::FindKey(std::size_t header, std::size_t end, std::string_view ansiKey) const {
  for (std::size_t i = header + 1; i < end; ++i) {
    if (KindOf(lines_[i].text) != Kind::Entry) continue;
    std::string_view key, value;
    if (SplitEntry(lines_[i].text, key, value) && SameText(key, ansiKey)) return i;
  }
  return npos;
}

void TIniFile::Insert(std::size_t index, std::string text) {
  // A line written before an unterminated line would glue to it; the line before the insert
  // point gets its CR LF first, as the platform does.
  if (index > 0 && lines_[index - 1].end.empty()) lines_[index - 1].end = "\r\n";
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(index), Line{std::move(text), "\r\n"});
  dirty_ = true;
}

std::string TIniFile::ReadString(std::string_view section, std::string_view key,
                                 std::string_view defaultValue) const {
  std::size_t header, end;
  if (FindSection(Utf8ToAnsi(TrimSpaces(section)), header, end)) {
    const std::size_t at = FindKey(header, end, Utf8ToAnsi(TrimSpaces(key)));
    if (at != npos) {
      std::string_view k, v;
      SplitEntry(lines_[at].text, k, v);
      return AnsiToUtf8(StripQuotes(v));
    }
  }
  // The default loses its trailing spaces, as the profile functions return it.
  while (!defaultValue.empty() && defaultValue.back() == ' ') defaultValue.remove_suffix(1);
  return std::string(defaultValue);
}

int TIniFile::ReadInteger(std::string_view section, std::string_view key, int defaultValue) const {
  int value;
  return TryStrToInt(ReadString(section, key, ""), value, false) ? value : defaultValue;
}

int TIniFile::ReadIntegerOrHex(std::string_view section, std::string_view key,
                               int defaultValue) const {
  int value;
  return TryStrToInt(ReadString(section, key, ""), value, true) ? value : defaultValue;
}

bool TIniFile::ReadBool(std::string_view section, std::string_view key, bool defaultValue) const {
  return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

void TIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  const std::string ansiSection = Utf8ToAnsi(TrimSpaces(section));
  const std::string ansiKey = Utf8ToAnsi(TrimSpaces(key));
  const std::string ansiValue = Utf8ToAnsi(value);
  std::size_t header, end;
  if (!FindSection(ansiSection, header, end)) {
    Insert(lines_.size(), "[" + ansiSection + "]");
    Insert(lines_.size(), ansiKey + "=" + ansiValue);
    return;
  }
  const std::size_t at = FindKey(header, end, ansiKey);
  if (at != npos) {
    // Rewritten in place with the key spelled as in the file.
    std::string_view k, v;
    SplitEntry(lines_[at].text, k, v);
    std::string text = std::string(k) + "=" + ansiValue;
    if (text != lines_[at].text || lines_[at].end != "\r\n") {
      lines_[at] = Line{std::move(text), "\r\n"};
      dirty_ = true;
    }
    return;
  }
  // A new key goes right after the section's last entry, above trailing comments and blanks.
  std::size_t insertAt = header + 1;
  for (std::size_t i = header + 1; i < end; ++i)
    if (KindOf(lines_[i].text) == Kind::Entry) insertAt = i + 1;
  Insert(insertAt, ansiKey + "=" + ansiValue);
}

void TIniFile::WriteInteger(std::string_view section, std::string_view key, int value) {
  WriteString(section, key, std::to_string(value));
}

void TIniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

bool TIniFile::SectionExists(std::string_view section) const {
  std::size_t header, end;
  return FindSection(Utf8ToAnsi(TrimSpaces(section)), header, end);
}

bool TIniFile::ValueExists(std::string_view section, std::string_view key) const {
  std::size_t header, end;
  return FindSection(Utf8ToAnsi(TrimSpaces(section)), header, end) &&
         FindKey(header, end, Utf8ToAnsi(TrimSpaces(key))) != npos;
}

void TIniFile::DeleteKey(std::string_view section, std::string_view key) {
  std::size_t header, end;
  if (!FindSection(Utf8ToAnsi(TrimSpaces(section)), header, end)) return;
  const std::size_t at = FindKey(header, end, Utf8ToAnsi(TrimSpaces(key)));
  if (at == npos) return;
  lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(at));
  dirty_ = true;
}

void TIniFile::EraseSection(std::string_view section) {
  const std::string name = Utf8ToAnsi(TrimSpaces(section));
  std::size_t header, end;
  if (!FindSection(name, header, end)) return;
  // The header and the entries go; comment and blank lines stay where they were. Every section
  // of that name goes: were a later duplicate left, it would become the first one and hide what
  // is written after the erase.
  std::vector<Line> kept;
  kept.reserve(lines_.size());
  bool inErased = false;
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    const Kind kind = KindOf(lines_[i].text);
    if (kind == Kind::Header) inErased = SameText(HeaderName(lines_[i].text), name);
    if (inErased && (kind == Kind::Header || kind == Kind::Entry)) continue;
    kept.push_back(std::move(lines_[i]));
  }
  lines_ = std::move(kept);
  dirty_ = true;
}

std::vector<std::string> TIniFile::ReadSectionLines(std::string_view section) const {
  std::vector<std::string> result;
  std::size_t header, end;
  if (!FindSection(Utf8ToAnsi(TrimSpaces(section)), header, end)) return result;
  for (std::size_t i = header + 1; i < end; ++i) {
    if (KindOf(lines_[i].text) != Kind::Entry) continue;
    std::string_view key, value;
    if (SplitEntry(lines_[i].text, key, value))
      result.push_back(AnsiToUtf8(key) + "=" + AnsiToUtf8(value));
    else
      result.push_back(AnsiToUtf8(TrimBlanks(lines_[i].text)));
  }
  return result;
}

std::vector<std::pair<std::string, std::string>> TIniFile::ReadSectionValues(
    std::string_view section) const {
  std::vector<std::pair<std::string, std::string>> result;
  for (const std::string& line : ReadSectionLines(section)) {
    const auto eq = line.find('=');
    if (eq == npos)
      result.emplace_back(line, std::string());
    else
      result.emplace_back(line.substr(0, eq), line.substr(eq + 1));
  }
  return result;
}

std::string TIniFile::Text() const {
  std::string data;
  for (const Line& line : lines_) {
    data += line.text;
    data += line.end;
  }
  return data;
}

void TIniFile::UpdateFile() {
  if (!dirty_) return;
  WriteFileAtomically(path_, Text());
  dirty_ = false;
}

}  // namespace kelvane
