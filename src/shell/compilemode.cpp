#include "shell/compilemode.h"

#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>

#include "cabinet/cabfile.h"
#include "platform/messages.h"
#include "project/projectfile.h"
#include "shell/environment.h"
#include "shell/startup.h"
#include "transfer/filetransfer.h"

namespace kelvane {

namespace {

// Texts of the program hold CR LF; the console ends lines with "\n".
std::string ConsoleText(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  return out;
}

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

volatile sig_atomic_t g_cancelSignal = 0;

void OnCancelSignal(int) { g_cancelSignal = 1; }

// SIGINT and SIGTERM ask for a cancel; the handler resets itself, so a second signal ends the
// process at once. A reader of standard output that went away (a closed pipe) must not end the
// build half way: the console lines are written and nobody reads them. The previous handlers
// come back when the build is over.
class TCancelSignals {
 public:
  TCancelSignals() {
    g_cancelSignal = 0;
    struct sigaction action {};
    action.sa_handler = OnCancelSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    sigaction(SIGINT, &action, &oldInt_);
    sigaction(SIGTERM, &action, &oldTerm_);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, &oldPipe_);
  }
  ~TCancelSignals() {
    sigaction(SIGINT, &oldInt_, nullptr);
    sigaction(SIGTERM, &oldTerm_, nullptr);
    sigaction(SIGPIPE, &oldPipe_, nullptr);
  }

 private:
  struct sigaction oldInt_ {};
  struct sigaction oldTerm_ {};
  struct sigaction oldPipe_ {};
};

}  // namespace

int CompileExitStatus(TBuildOutcome outcome) {
  switch (outcome) {
    case TBuildOutcome::boFinished:
      return kExitBuildFinished;
    case TBuildOutcome::boValidationFailed:
      return kExitValidationFailed;
    case TBuildOutcome::boFinishedWithErrors:
      return kExitTransferFailed;
    default:
      return kExitBuildCancelled;
  }
}

bool TConsoleBuildView::AskYesNo(const std::string& title, const std::string& message) {
  std::string heading = title;
  heading.erase(0, heading.find_first_not_of(' '));
  err_ << heading << ": " << ConsoleText(message) << "\n";
  if (!interactive_) {
    err_ << "(y/N) N - standard input is not a terminal\n";
    err_.flush();
    return false;
  }
  err_ << "(y/N) ";
  err_.flush();
  std::string answer;
  if (!std::getline(in_, answer)) return false;
  return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
}

void TConsoleBuildView::ShowLogPage() {
  if (!Log) return;
  err_ << "Project log file\n";
  for (const std::string& line : Log->Lines()) err_ << ConsoleText(line) << "\n";
  err_.flush();
}

void TConsoleLogView::LogLineAdded(const std::string& line) {
  if (StartsWith(line, "[Warning message]") || StartsWith(line, "[Error message]")) {
    err_ << ConsoleText(line) << "\n";
    err_.flush();
  }
}

int RunCompileMode(const std::string& path) {
  // The project state without a window: project, log, environment, the build's transfer engine
  // and cabinet writer.
  TProjectState state;
  TConsoleLogView logView(std::cerr);
  state.Log.View = &logView;
  TFileTransfer transfer;
  TCABFile cabinet;
  TEnvironmentFile environment;
  environment.Log = &state.Log;
  environment.ReadRecentProjects();
  environment.ReadEnvironment(state.Environment);

  // A project file that exists but cannot be read would open as an empty project and publish an
  // empty update over the real one.
  if (!std::ifstream(path, std::ios::binary)) {
    std::cerr << "Unable to read the project file " << path << "\n";
    return kExitBuildCancelled;
  }

  state.Log.CompileFlag = true;
  // A project whose date or time does not exist is read only in part (no file list): building
  // it would publish an update without its files.
  if (!ReadProjectFile(state.Project, path, &state.Log)) {
    state.Log.CompileFlag = false;
    std::cerr << "The project file " << path
              << " could not be read completely; nothing was built\n";
    return kExitBuildCancelled;
  }
  environment.AddRecentProject(path);
  if (const char* password = std::getenv("KELVANE_FTP_PASSWORD")) state.Project.passwd = password;

  TConsoleBuildView view(std::cerr, std::cin, isatty(STDIN_FILENO) == 1);
  TBuildDriver driver(state, transfer, cabinet);
  view.Log = &state.Log;
  driver.View = &view;
  {
    TCancelSignals signals;
    SetProcessMessages([&driver] {
      if (g_cancelSignal && driver.Building() && !driver.CancelFlag()) {
        std::cerr << "Cancelling the build\n";
        driver.RequestCancel();
      }
    });
    driver.RunBuild();
    SetProcessMessages(nullptr);
  }
  state.Log.CompileFlag = false;

  // The project is released unsaved with the state; nothing asks about it.
  return CompileExitStatus(driver.Outcome());
}

}  // namespace kelvane
