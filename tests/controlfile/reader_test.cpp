#include "controlfile/reader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "temp_folder.h"

namespace kelvane {
namespace {

class ControlFileReaderTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& bytes) {
    std::string path = folder_.Path() + "/update.INF";
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }
  TempFolder folder_;
};

TEST_F(ControlFileReaderTest, MissingFileReadsEveryDefault) {
  TControlFileReader reader(folder_.Path() + "/absent.INF");
  for (const TControlKey* key : inf::AllKeys) {
    EXPECT_EQ(reader.ReadText(*key, key->Section == inf::SectionFile ? "1" : ""), key->TextDefault)
        << key->Name;
    EXPECT_EQ(reader.ReadInteger(*key, 1), key->IntegerDefault) << key->Name;
  }
  // The defaults that carry meaning for the engine.
  EXPECT_EQ(reader.ReadInteger(inf::UpdateNewChecksum), -1);
  EXPECT_EQ(reader.ReadInteger(inf::FileNewChecksum, 1), -1);
  EXPECT_TRUE(reader.ReadFlag(inf::FilePreselect, 1));
  EXPECT_FALSE(reader.ReadFlag(inf::FileHidden, 1));
  EXPECT_FALSE(reader.ReadFlag(inf::UpdateUnconditional));
  EXPECT_EQ(reader.ReadText(inf::EulaOkButton), "Ok");
  EXPECT_EQ(reader.ReadText(inf::EulaNotAccept), "I do not accept");
  EXPECT_EQ(reader.ReadText(inf::WhatsNewCancelButton), "Cancel");
  EXPECT_EQ(reader.FileCount(), 0);
}

TEST_F(ControlFileReaderTest, NamesCompareWithoutCase) {
  TControlFileReader reader(
      Write("[ACTION]\r\nShowURL=http://x/\r\nupdateurl=http://y/c.INF\r\n"
            "[Files]\r\nCOUNT=2\r\n[FILE2]\r\nUrl=b.exe\r\n"));
  EXPECT_EQ(reader.ReadText(inf::ActionShowUrl), "http://x/");
  EXPECT_EQ(reader.ReadText(inf::ActionUpdateUrl), "http://y/c.INF");
  EXPECT_EQ(reader.FileCount(), 2);
  EXPECT_EQ(reader.ReadText(inf::FileUrl, 2), "b.exe");
  EXPECT_EQ(reader.ReadText(inf::FileUrl, 1), "");
}

TEST_F(ControlFileReaderTest, IntegersTakeHexAndFallBackToTheirDefault) {
  TControlFileReader reader(Write(
      "[update]\r\nnewchecksum=$FFFFFFFE\r\nnewsize=0x400\r\n"
      "[file1]\r\nnewchecksum=abc\r\nnewsize=12abc\r\npreselect=\r\nmandatory=1\r\nhidden=2\r\n"
      "[file2]\r\nnewchecksum=-2147483648\r\npreselect=0\r\n"));
  EXPECT_EQ(reader.ReadInteger(inf::UpdateNewChecksum), -2);
  EXPECT_EQ(reader.ReadInteger(inf::UpdateNewSize), 1024);
  EXPECT_EQ(reader.ReadInteger(inf::FileNewChecksum, 1), -1);  // not a number: default
  EXPECT_EQ(reader.ReadInteger(inf::FileNewSize, 1), 0);       // no partial numbers
  EXPECT_TRUE(reader.ReadFlag(inf::FilePreselect, 1));         // empty value: default 1
  EXPECT_TRUE(reader.ReadFlag(inf::FileMandatory, 1));
  EXPECT_FALSE(reader.ReadFlag(inf::FileHidden, 1));  // only 1 counts as set
  EXPECT_EQ(reader.ReadInteger(inf::FileNewChecksum, 2), INT32_MIN);
  EXPECT_FALSE(reader.ReadFlag(inf::FilePreselect, 2));
}

TEST_F(ControlFileReaderTest, TextFlagsAndSuffixedSections) {
  TControlFileReader reader(
      Write("[update]\r\nunconditional=yes\r\n"
            "[action]\r\nmsg=Line one\\nLine two\\n\r\n"
            "[eula]\r\nfile=http://x/eula.txt\r\nokbtn=Fine\r\n"
            "[eula1031]\r\nfile=http://x/eula_de.txt\r\n"));
  EXPECT_TRUE(reader.ReadFlag(inf::UpdateUnconditional));
  EXPECT_EQ(reader.ReadMultiLine(inf::ActionMsg), "Line one\r\nLine two");
  EXPECT_EQ(reader.ReadText(inf::EulaFile), "http://x/eula.txt");
  EXPECT_EQ(reader.ReadText(inf::EulaFile, "1031"), "http://x/eula_de.txt");
  EXPECT_EQ(reader.ReadText(inf::EulaOkButton), "Fine");
  EXPECT_EQ(reader.ReadText(inf::EulaAccept), "I accept");
  EXPECT_TRUE(reader.KeyExists(inf::EulaFile, "1031"));
  EXPECT_FALSE(reader.KeyExists(inf::WhatsNewFile));
}

TEST_F(ControlFileReaderTest, PresentEmptyTextIsEmptyNotTheDefault) {
  TControlFileReader reader(Write("[eula]\r\nokbtn=\r\n"));
  EXPECT_EQ(reader.ReadText(inf::EulaOkButton), "");
}

}  // namespace
}  // namespace kelvane
