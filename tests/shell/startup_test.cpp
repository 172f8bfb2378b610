#include "shell/startup.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>

#include "platform/paths.h"
#include "common/testfolder.h"

namespace kelvane {
namespace {

using testing::TTestFolder;

TEST(Startup, ScanTable) {
  TTestFolder dir;
  // An existing project under a folder whose name starts with "C" and "O".
  const std::string project = dir.Write("Code/Own.KelvaneProj", "");
  struct Case {
    const char* name;
    std::vector<std::string> params;
    bool help;
    std::string compile, open, error;
  };
  const Case cases[] = {
      {"nothing", {}, false, "", "", ""},
      {"help", {"/?"}, true, "", "", ""},
      {"help wins over earlier paths",
       {"/Ca.KelvaneProj", "/Ob.KelvaneProj", "/?"},
       true,
       "",
       "",
       ""},
      {"nothing after help is seen", {"/?", "/Ca.KelvaneProj"}, true, "", "", ""},
      {"help aliases", {"--help"}, true, "", "", ""},
      {"short help alias", {"/Ca", "-h"}, true, "", "", ""},
      {"compile", {"/C/rel/p.KelvaneProj"}, false, "/rel/p.KelvaneProj", "", ""},
      {"lower case compile", {"/cp.KelvaneProj"}, false, "p.KelvaneProj", "", ""},
      {"last compile wins", {"/Ca.KelvaneProj", "/Cb.KelvaneProj"}, false, "b.KelvaneProj", "", ""},
      {"both letters count as compile", {"/C/x/O"}, false, "/x/O", "", ""},
      {"open", {"/o/rel/p.KelvaneProj"}, false, "", "/rel/p.KelvaneProj", ""},
      {"compile and open", {"/Oa", "/Cb"}, false, "b", "a", ""},
      {"option only at the start", {"x/Cy", "/home/me/Code/p.KelvaneProj"}, false, "", "", ""},
      {"existing path is no option", {project}, false, "", "", ""},
      {"short compile alias", {"-c", "/rel/p.KelvaneProj"}, false, "/rel/p.KelvaneProj", "", ""},
      {"long compile alias", {"--compile", "p"}, false, "p", "", ""},
      {"glued compile alias",
       {"--compile=/rel/a b.KelvaneProj"},
       false,
       "/rel/a b.KelvaneProj",
       "",
       ""},
      {"open aliases", {"-o", "a", "--open=b"}, false, "", "b", ""},
      {"alias path is taken as it is", {"-c", "/?"}, false, "/?", "", ""},
      {"alias without path",
       {"--compile"},
       false,
       "",
       "",
       "The option --compile needs a project file"},
  };
  for (const Case& c : cases) {
    const TCommandLine line = ScanCommandLine(c.params);
    EXPECT_EQ(line.help, c.help) << c.name;
    EXPECT_EQ(line.compilePath, c.compile) << c.name;
    EXPECT_EQ(line.openPath, c.open) << c.name;
    EXPECT_EQ(line.error, c.error) << c.name;
  }
  // An existing folder that starts with "/o" or "/c" names a folder, not an option.
  for (const char* folder : {"/opt", "/cdrom"}) {
    if (DirectoryExists(folder)) {
      EXPECT_EQ(ScanCommandLine({folder}).openPath, "") << folder;
      EXPECT_EQ(ScanCommandLine({folder}).compilePath, "") << folder;
    }
  }
}

TEST(Startup, HelpTextLines) {
  const std::string help = HelpText();
  const std::string rule(41, '-');
  EXPECT_THAT(help, ::testing::StartsWith("\n" + rule + "\nKelvane"));
  const std::string twelve =
      "\n" + rule +
      "\n\nCommand line parameters:\n\n/? : Show Help\n\n"
      "/C\"[Kelvane project file (.KelvaneProj extension)]\" : Compile project file\n\n"
      "/O\"[Kelvane project file (.KelvaneProj extension)]\" : Open project file\n";
  EXPECT_THAT(help, ::testing::HasSubstr(twelve));
  EXPECT_THAT(help, ::testing::HasSubstr("-c PATH, --compile PATH, --compile=PATH"));
  EXPECT_EQ(help.find('\r'), std::string::npos);
}

struct TRun {
  int status;
  std::string out;
};

// Runs the real program with the given shell-quoted arguments.
TRun RunKelvane(const std::string& args) {
  const std::string command = std::string(KELVANE_BINARY_DIR) + "/kelvane " + args + " 2>&1";
  TRun run{-1, {}};
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return run;
  char buffer[4096];
  std::size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
  const int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

TEST(Startup, TheProgramPrintsTheHelpAndReportsAMissingProject) {
  const TRun help = RunKelvane("'/?'");
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out, HelpText());
  EXPECT_EQ(RunKelvane("--help").out, HelpText());

  const TRun missing = RunKelvane("/C/nonexistent.KelvaneProj");
  EXPECT_EQ(missing.status, 4);
  EXPECT_EQ(missing.out, "The file /nonexistent.KelvaneProj does not exist\n");
  const TRun alias = RunKelvane("--compile '/no where/p.KelvaneProj'");
  EXPECT_EQ(alias.status, 4);
  EXPECT_EQ(alias.out, "The file /no where/p.KelvaneProj does not exist\n");

  const TRun usage = RunKelvane("-c");
  EXPECT_EQ(usage.status, 5);
  EXPECT_EQ(usage.out, "The option -c needs a project file\n");
}

}  // namespace
}  // namespace kelvane
