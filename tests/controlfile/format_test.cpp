#include "controlfile/format.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>

#include "platform/datetime.h"

namespace kelvane {
namespace {

TEST(ControlFileFormat, EveryKeyIsDefinedOnceAndSectionsFollowTheWrittenOrder) {
  std::set<std::pair<std::string, std::string>> seen;
  std::size_t sectionIndex = 0;
  for (const TControlKey* key : inf::AllKeys) {
    EXPECT_TRUE(seen.emplace(std::string(key->Section), std::string(key->Name)).second)
        << key->Section << "/" << key->Name << " defined twice";
    // Sections must come in the generator's order, never going back.
    while (sectionIndex < inf::ControlSectionOrder.size() &&
           inf::ControlSectionOrder[sectionIndex] != key->Section)
      ++sectionIndex;
    EXPECT_LT(sectionIndex, inf::ControlSectionOrder.size())
        << key->Section << "/" << key->Name << " out of section order";
  }
}

struct IntegerCase {
  const char* name;
  const char* text;
  bool ok;
  int value;
};

TEST(ControlFileFormat, ParseControlInteger) {
  const IntegerCase cases[] = {
      {"decimal", "42", true, 42},
      {"negative", "-17", true, -17},
      {"plus sign", "+5", true, 5},
      {"lowest", "-2147483648", true, INT32_MIN},
      {"highest", "2147483647", true, INT32_MAX},
      {"decimal overflow", "2147483648", false, 0},
      {"decimal underflow", "-2147483649", false, 0},
      {"dollar hex", "$1F", true, 31},
      {"0x hex", "0x1f", true, 31},
      {"0X hex", "0XfF", true, 255},
      {"hex top bit wraps", "$80000000", true, INT32_MIN},
      {"hex all ones", "0xFFFFFFFF", true, -1},
      {"negative hex", "-$10", true, -16},
      {"hex too wide", "$100000000", false, 0},
      {"dollar alone", "$", false, 0},
      {"0x alone", "0x", false, 0},
      {"empty", "", false, 0},
      {"sign alone", "-", false, 0},
      {"trailing letters", "12abc", false, 0},
      {"letters", "abc", false, 0},
      {"hex digits in decimal", "1F", false, 0},
      {"inner blank", "1 2", false, 0},
      {"leading zeros", "007", true, 7},
  };
  for (const auto& c : cases) {
    int value = 12345;
    EXPECT_EQ(ParseControlInteger(c.text, value), c.ok) << c.name;
    if (c.ok) {
      EXPECT_EQ(value, c.value) << c.name;
    } else {
      EXPECT_EQ(value, 12345) << c.name << ": a refused text must leave the value alone";
    }
  }
}

TEST(ControlFileFormat, DatesAndTimesHaveNoLeadingZeros) {
  const TDateTime march5 = EncodeDate(2010, 3, 5);
  EXPECT_EQ(FormatControlDate(march5, true), "5/3/2010");
  EXPECT_EQ(FormatControlDate(march5, false), "3/5/2010");
  EXPECT_EQ(FormatControlDate(EncodeDate(2009, 8, 14), true), "14/8/2009");
  EXPECT_EQ(FormatControlDate(EncodeDate(2009, 12, 31), false), "12/31/2009");
  // A date-time value: only the date part counts.
  EXPECT_EQ(FormatControlDate(march5 + EncodeTime(23, 59, 0, 0), true), "5/3/2010");

  EXPECT_EQ(FormatControlTime(EncodeTime(7, 4, 59, 0)), "7:4");
  EXPECT_EQ(FormatControlTime(EncodeTime(0, 0, 0, 0)), "0:0");
  EXPECT_EQ(FormatControlTime(EncodeTime(23, 59, 59, 999)), "23:59");
  EXPECT_EQ(FormatControlTime(march5 + EncodeTime(9, 5, 0, 0)), "9:5");
}

TEST(ControlFileFormat, FileLocationJoinsTheUploadBase) {
  struct Case {
    const char* base;
    const char* path;
    const char* location;
  } cases[] = {
      {"http://host/upd", "C:\\rel\\app.exe", "http://host/upd/app.exe"},
      {"http://host/upd/", "app.exe", "http://host/upd/app.exe"},
      {"\\\\server\\updates\\", "D:\\x\\app.exe", "\\\\server\\updates\\app.exe"},
      {"\\\\server\\updates", "app.exe", "\\\\server\\updates/app.exe"},
      {"", "C:\\rel\\app.exe", "app.exe"},
      {"", "/home/me/app.exe", "app.exe"},
      {"{APP}", "app.exe", "{APP}/app.exe"},
  };
  for (const auto& c : cases) EXPECT_EQ(FileLocation(c.base, c.path), c.location) << c.base;
  EXPECT_EQ(UploadBase(""), "");
  EXPECT_EQ(UploadBase("ftp://h/a"), "ftp://h/a/");
}

}  // namespace
}  // namespace kelvane
