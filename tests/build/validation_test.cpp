#include "build/validation.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "../controlfile/temp_folder.h"

namespace kelvane {
namespace {

using ::testing::ElementsAre;

// The log lines without their date-time stamps: "<kind>|<text>".
std::vector<std::string> Entries(const TProjectLog& log) {
  std::vector<std::string> entries;
  for (const std::string& line : log.Lines()) {
    const std::string kind = line.rfind("[Warning message] [", 0) == 0         ? "W"
                             : line.rfind("[Informational message] [", 0) == 0 ? "I"
                                                                               : "E";
    const std::size_t sep = line.find("] : ");
    entries.push_back(kind + "|" + (sep == std::string::npos ? line : line.substr(sep + 4)));
  }
  return entries;
}

class ValidationTest : public ::testing::Test {
 protected:
  std::string Existing(const std::string& name) {
    const std::string path = folder_.Path() + "/" + name;
    std::ofstream(path, std::ios::binary) << "data";
    return path;
  }
  std::string Missing(const std::string& name) { return folder_.Path() + "/" + name; }
  TFileObject& Add(int level, const std::string& url) {
    project_.files.push_back(TFileEntry{level, std::make_unique<TFileObject>(), "", "", ""});
    project_.files.back().file->url = url;
    return *project_.files.back().file;
  }

  TempFolder folder_;
  TUpdateProject project_;
  TProjectLog log_;
};

TEST_F(ValidationTest, ValidProjectLogsOnlyTheHeading) {
  TFileObject& f = Add(0, Existing("app.exe"));
  f.newsize = 4;
  f.newsum = 123;
  f.localver = "app.exe";
  Add(1, Existing("member.dll"));
  project_.eula = Existing("eula.txt");
  project_.whatsnew = Existing("news.txt");
  f.includeappcomps = true;
  project_.comps = "app.exe_NEW ";
  EXPECT_TRUE(ValidateProject(project_, log_));
  EXPECT_EQ(log_.ErrorCount, 0);
  EXPECT_THAT(Entries(log_), ElementsAre("I|Verifying Valid INF file"));

  TUpdateProject empty;
  TProjectLog emptyLog;
  EXPECT_TRUE(ValidateProject(empty, emptyLog));
  EXPECT_EQ(emptyLog.ErrorCount, 0);
}

TEST_F(ValidationTest, MissingLicenceAndTwoMissingFilesGiveThreeProblemsInOrder) {
  project_.eula = Missing("eula.txt");
  const std::string a = Missing("a.exe");
  const std::string b = Missing("b.dll");
  Add(0, a).localver = "a.exe";
  Add(0, Existing("ok.exe")).localver = "ok.exe";
  Add(0, b).localver = "b.dll";
  EXPECT_FALSE(ValidateProject(project_, log_));
  EXPECT_EQ(log_.ErrorCount, 3);
  EXPECT_THAT(Entries(log_), ElementsAre("I|Verifying Valid INF file",
                                         "W|License agreement file specified cannot be found",
                                         "W|File specified : \r\n" + a + "\r\ncannot be found",
                                         "W|File specified : \r\n" + b + "\r\ncannot be found"));
}

TEST_F(ValidationTest, EverySixChecksInOrderWithoutStoppingEarly) {
  project_.eula = Missing("eula.txt");
  project_.whatsnew = Missing("news.txt");
  const std::string head = Missing("head.exe");
  const std::string member = Missing("member.dll");
  const std::string plain = Existing("plain.exe");
  TFileObject& h = Add(0, head);  // missing, size and checksum without a local resource
  h.update = fuUnconditional;
  h.newsize = 10;
  h.newsum = -1;
  h.compressed = 1;
  h.includeappcomps = true;
  Add(1, member);                  // a member only undergoes the existence check
  TFileObject& p = Add(0, plain);  // exists; the kind does not matter for checks 4 and 5
  p.update = fuVersion;
  p.newsize = 4;
  p.newsum = 400;
  project_.comps = "";  // emptied by hand

  log_.ErrorCount = 2;  // the build resets it; validation only counts up
  EXPECT_FALSE(ValidateProject(project_, log_));
  EXPECT_EQ(log_.ErrorCount, 2 + 9);
  EXPECT_THAT(
      Entries(log_),
      ElementsAre(
          "I|Verifying Valid INF file", "W|License agreement file specified cannot be found",
          "W|What's new file specified cannot be found",
          "W|File specified : \r\n" + head + "\r\ncannot be found",
          "W|Filesize based update found for : \r\n" + head + "\r\nbut no local resource specified",
          "W|Checksum based update found for : \r\n" + head + "\r\nbut no local resource specified",
          "W|File specified : \r\n" + member + "\r\ncannot be found",
          "W|Filesize based update found for : \r\n" + plain +
              "\r\nbut no local resource specified",
          "W|Checksum based update found for : \r\n" + plain +
              "\r\nbut no local resource specified",
          "W|Application update specified but no application components set"));
}

TEST_F(ValidationTest, AFolderIsNotAFile) {
  project_.eula = folder_.Path();
  Add(0, folder_.Path());
  EXPECT_FALSE(ValidateProject(project_, log_));
  EXPECT_EQ(log_.ErrorCount, 2);
}

}  // namespace
}  // namespace kelvane
