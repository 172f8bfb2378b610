#include "controlfile/format.h"

#include <cstdint>

#include "platform/paths.h"

namespace kelvane {

std::string FileSection(int number) {
  return std::string(inf::SectionFile) + std::to_string(number);
}

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool ParseControlInteger(std::string_view text, int& value) {
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i < text.size() && text[i] == '$') {
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    i += 2;
  } else {
    // Decimal.
    if (i == text.size()) return false;
    std::int64_t v = 0;
    for (; i < text.size(); ++i) {
      if (text[i] < '0' || text[i] > '9') return false;
      v = v * 10 + (text[i] - '0');
      if (v > 2147483648LL) return false;
    }
    if (negative) v = -v;
    if (v > 2147483647LL) return false;
    value = static_cast<int>(v);
    return true;
  }
  // Hexadecimal: a 32-bit pattern, read as the signed value it encodes.
  if (i == text.size()) return false;
  std::uint64_t v = 0;
  for (; i < text.size(); ++i) {
    int d = HexDigit(text[i]);
    if (d < 0) return false;
    v = v * 16 + static_cast<unsigned>(d);
    if (v > 0xFFFFFFFFull) return false;
  }
  std::uint32_t bits = static_cast<std::uint32_t>(v);
  if (negative) bits = 0u - bits;
  value = static_cast<int>(bits);
  return true;
}

std::string FormatControlDate(TDateTime date, bool dayFirst) {
  int year = 0, month = 0, day = 0;
  DecodeDate(date, year, month, day);
  std::string yyyy = std::to_string(year);
  if (yyyy.size() < 4) yyyy.insert(0, 4 - yyyy.size(), '0');
  std::string first = std::to_string(dayFirst ? day : month);
  std::string second = std::to_string(dayFirst ? month : day);
  return first + "/" + second + "/" + yyyy;
}

std::string FormatControlTime(TDateTime time) {
  int hour = 0, minute = 0, second = 0, millisecond = 0;
  DecodeTime(time, hour, minute, second, millisecond);
  return std::to_string(hour) + ":" + std::to_string(minute);
}

std::string UploadBase(std::string_view base) {
  std::string out(base);
  if (!out.empty() && out.back() != '/' && out.back() != '\\') out.push_back('/');
  return out;
}

std::string FileLocation(std::string_view base, std::string_view path) {
  return UploadBase(base) + ExtractFileName(path);
}

}  // namespace kelvane
