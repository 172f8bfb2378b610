#include "build/projectlog.h"

#include <iostream>

#include "platform/encoding.h"
#include "platform/paths.h"

namespace kelvane {

std::string FormatLogLine(const std::string& text, int kind, TDateTime when,
                          const TFormatSettings& settings) {
  const char* prefix = kind == mkInformational ? "[Informational message] ["
                       : kind == mkWarning     ? "[Warning message] ["
                                               : "[Error message] [";
  return prefix + DateToStr(when, settings) + " " + TimeToStr(when, settings) + "] : " + text;
}

std::string ProjectStatusText(const TUpdateProject& project) {
  const std::string location = !project.projectpath.empty() && FileExists(project.projectpath)
                                   ? project.projectpath
                                   : "Project Not Saved";
  return "Current Project : " + project.projectname + "      Location : " + location;
}

TProjectLog::TProjectLog() : Console(&std::cout) {}

void TProjectLog::LogMessage(const std::string& text, int kind) {
  lines_.push_back(FormatLogLine(text, kind, Now()));
  if (View) View->LogLineAdded(lines_.back());
}

void TProjectLog::ClearLog() {
  lines_.clear();
  if (View) View->LogCleared();
}

void TProjectLog::SaveLog(const std::string& path) const {
  std::string text;
  for (const std::string& line : lines_) text += line + "\r\n";
  WriteFileAtomically(path, Utf8ToAnsi(text));
}

void TProjectLog::ReportTotalProgress(int percent) {
  if (View) View->TotalProgressChanged(percent);
  if (CompileFlag && Console) {
    // The line, then two empty lines.
    *Console << "@TOTAL:" << percent << "\n\n\n";
    Console->flush();
  }
}

void TProjectLog::ShowProjectStatus(const TUpdateProject& project) {
  if (View) View->ProjectStatusChanged(ProjectStatusText(project));
}

}  // namespace kelvane
