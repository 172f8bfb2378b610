#include "controlfile/generator.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <string_view>

#include "controlfile/format.h"
#include "platform/encoding.h"
#include "platform/errors.h"
#include "platform/inifile.h"
#include "platform/paths.h"
#include "project/projectfile.h"

namespace kelvane {

namespace {

// Writes keys of the format through the INI layer. Every text goes through here, so no value can
// carry a line break into the file.
class TControlFileWriter {
 public:
  explicit TControlFileWriter(TIniFile& ini) : ini_(ini) {}

  void Text(const TControlKey& key, std::string_view value, std::string_view suffix = {}) {
    std::string line(value);
    std::replace_if(
        line.begin(), line.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    std::string section(key.Section);
    section.append(suffix);
    ini_.WriteString(section, key.Name, line);
  }
  void Integer(const TControlKey& key, int value, std::string_view suffix = {}) {
    Text(key, std::to_string(value), suffix);
  }
  void Flag(const TControlKey& key, std::string_view suffix = {}) { Integer(key, 1, suffix); }
  void TextIfAny(const TControlKey& key, std::string_view value) {
    if (!value.empty()) Text(key, value);
  }

 private:
  TIniFile& ini_;
};

int& OwnNewProjectCounter() {
  static int counter = 0;
  return counter;
}

void WriteUpdateCondition(TControlFileWriter& w, const TUpdateProject& project) {
  switch (project.update) {
    case ukDateBased:
      w.Text(inf::UpdateDate, FormatControlDate(project.date, project.datefmt == 0));
      if (project.inctime) w.Text(inf::UpdateTime, FormatControlTime(project.time));
      break;
    case ukFileBased: {
      // Without a chosen base file the update has no condition at all.
      const TFileObject* base = project.BaseFile();
      if (base == nullptr) break;
      switch (base->update) {
        case fuVersion:
          w.Text(inf::UpdateNewVersion, VersionToText(*base));
          break;
        case fuSize:
          w.Integer(inf::UpdateNewSize, base->newsize);
          break;
        case fuChecksum:
          w.Integer(inf::UpdateNewChecksum, base->newsum);
          break;
        case fuCRC32:
          w.Integer(inf::UpdateNewChecksum, base->newcrc32sum);
          break;
        default:
          return;  // unconditional base file: nothing to compare
      }
      w.Text(inf::UpdateLocalVersion, base->localver);
      break;
    }
    case ukUnconditional:
      w.Flag(inf::UpdateUnconditional);
      break;
    default:
      break;  // no kind chosen yet
  }
}

void WriteFileSection(TControlFileWriter& w, const TUpdateProject& project, const std::string& base,
                      const TFileObject& file, int number) {
  const std::string n = std::to_string(number);
  const std::string published = PublishedName(file);
  w.Text(inf::FileUrl, UploadBase(base) + published, n);
  if (file.update == fuVersion &&
      (file.major != 0 || file.minor != 0 || file.release != 0 || file.build != 0))
    w.Text(inf::FileNewVersion, VersionToText(file), n);
  if (!file.localver.empty()) w.Text(inf::FileLocalVersion, file.localver, n);
  if (!file.targetdir.empty()) w.Text(inf::FileTargetDir, file.targetdir, n);
  if (!file.descr.empty()) w.Text(inf::FileDescr, file.descr, n);
  // An archive that is an application component is unpacked by the restart helper after the
  // application ended, so the engine must not extract it itself.
  if (file.compressed == 1)
    w.Integer(inf::FileCompressed, IsApplicationComponent(project.comps, published) ? 0 : 1, n);
  if (file.update == fuSize && file.newsize > 0) w.Integer(inf::FileNewSize, file.newsize, n);
  if (file.update == fuChecksum && file.newsum != 0)
    w.Integer(inf::FileNewChecksum, file.newsum, n);
  if (file.update == fuCRC32 && file.newcrc32sum != 0)
    w.Integer(inf::FileNewChecksum, file.newcrc32sum, n);
  if (file.mandatory) w.Flag(inf::FileMandatory, n);
}

void WriteProjectKeys(TControlFileWriter& w, const TUpdateProject& project) {
  const std::string& base = project.unc ? project.uncdir : project.baseurl;

  WriteUpdateCondition(w, project);

  if (!project.inform.empty()) w.Text(inf::ActionMsg, EscapeMultiLine(project.inform));
  if (!project.query.empty()) w.Text(inf::ActionQuery, EscapeMultiLine(project.query));
  w.TextIfAny(inf::ActionShowUrl, project.weburl);
  w.TextIfAny(inf::ActionHtmlDlg, project.htmldlg);
  w.TextIfAny(inf::ActionRunBefore, project.runbefore);
  w.TextIfAny(inf::ActionRunAfter, project.runafter);

  // Only level-0 entries are files of the update; CAB members travel inside their head's archive.
  // An entry whose record is still being built by the editor is left out of both count and list.
  if (!project.files.empty()) {
    int count = 0;
    for (const TFileEntry& entry : project.files)
      if (entry.level == 0 && entry.file) ++count;
    w.Integer(inf::FilesCount, count);
    int number = 0;
    for (const TFileEntry& entry : project.files)
      if (entry.level == 0 && entry.file) WriteFileSection(w, project, base, *entry.file, ++number);
  }

  if (project.ApplicationComponentCount() > 0) {
    w.Flag(inf::AppUpdate);
    w.Text(inf::AppName, project.restart ? inf::AppNameNoRestart : std::string_view(project.cl));
    if (project.prompt) w.Flag(inf::AppSilentRestart);
    w.TextIfAny(inf::AppComps, project.comps);
  }

  w.TextIfAny(inf::CustomProcessMsg, project.procmsg);
  w.TextIfAny(inf::CustomProcessParam, project.procparam);
  w.TextIfAny(inf::CustomValidateMsg, project.valmsg);
  w.TextIfAny(inf::CustomValidateParam, project.valparam);

  if (!project.eula.empty()) w.Text(inf::EulaFile, FileLocation(base, project.eula));
  if (!project.whatsnew.empty()) w.Text(inf::WhatsNewFile, FileLocation(base, project.whatsnew));

  // Last key of the file, appended to [update].
  w.TextIfAny(inf::UpdateSignature, project.signature);
}

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Writes the keys into a scratch file beside `path` and renames it into place, so that a failed
// or interrupted run never leaves a partial control file at `path`. Returns the bytes written.
std::string WriteControlFile(const TUpdateProject& project, const std::string& path) {
  std::random_device random;
  const std::string scratch = ExtractFilePath(path) + "." + ExtractFileName(path) + ".gen" +
                              std::to_string(getpid()) + "_" + std::to_string(random());
  std::remove(scratch.c_str());
  try {
    TIniFile ini(scratch);
    TControlFileWriter writer(ini);
    WriteProjectKeys(writer, project);
    ini.UpdateFile();
  } catch (const EInOutError&) {
    std::remove(scratch.c_str());
    RaiseUnableToWrite(path);
  }
  if (!FileExists(scratch)) {
    // No key at all (a file-based project without base file and nothing else): an empty file.
    WriteFileAtomically(path, {});
    return {};
  }
  std::string bytes = ReadWholeFile(scratch);
  if (std::rename(scratch.c_str(), path.c_str()) != 0) {
    std::remove(scratch.c_str());
    RaiseUnableToWrite(path);
  }
  return bytes;
}

}  // namespace

bool IsApplicationComponent(const std::string& comps, const std::string& name) {
  if (name.empty()) return false;
  std::size_t pos = 0;
  while (pos < comps.size()) {
    const std::size_t start = comps.find_first_not_of(' ', pos);
    if (start == std::string::npos) break;
    std::size_t end = comps.find(' ', start);
    if (end == std::string::npos) end = comps.size();
    if (comps.compare(start, end - start, name) == 0) return true;
    pos = end;
  }
  return false;
}

std::string ControlFilePath(const std::string& updateFilePath, const std::string& projectName) {
  // The default folder carries a trailing separator; adding a second one would only show up as
  // "//" in log lines and console output.
  return IncludeTrailingPathDelimiter(updateFilePath) +
         ChangeFileExt(projectName, inf::ControlFileExtension);
}

std::string GenerateControlFile(TUpdateProject& project, const TControlFileContext& context) {
  if (project.loading) return {};
  if (context.Log) context.Log->LogMessage("Updating INF file", mkInformational);

  if (project.projectname.empty()) {
    // Named like New names a project, but without New's reset: the change that brought us here
    // (files being added, a field typed) stays in the model.
    int& counter = context.NewProjectCounter ? *context.NewProjectCounter : OwnNewProjectCounter();
    ++counter;
    project.projectname = "Project" + std::to_string(counter) + ".KelvaneProj";
    project.projectpath.clear();
    if (project.OnIdentityChanged) project.OnIdentityChanged(project);
  }
  if (context.View) context.View->SetTitle(project.projectname + "* - Kelvane");

  const std::string path = ControlFilePath(context.UpdateFilePath, project.projectname);
  const std::string bytes = WriteControlFile(project, path);
  if (context.View) context.View->ShowControlFile(AnsiToUtf8(bytes));
  return path;
}

}  // namespace kelvane
