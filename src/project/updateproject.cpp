#include "project/updateproject.h"

#include <algorithm>
#include <cmath>

#include "filefacts/filefacts.h"
#include "platform/paths.h"

namespace kelvane {

void CopyFileObject(const TFileObject* source, TFileObject* target) {
  if (source && target) *target = *source;
}

void ReadFileFacts(TFileObject& file, const std::string& path) {
  ApplyFileFacts(file, path, ReadFileFacts(path));
}

void ApplyFileFacts(TFileObject& file, const std::string& path, const TFileFacts& facts) {
  file.url = path;
  if (facts.hasVersion) {
    file.major = facts.version.major;
    file.minor = facts.version.minor;
    file.release = facts.version.release;
    file.build = facts.version.build;
  }
  file.newsize = facts.size;
  file.newsum = static_cast<std::int32_t>(facts.checksum);
  file.newcrc32sum = static_cast<std::int32_t>(facts.crc32);
  file.localver = ExtractFileName(path);
}

std::string VersionToText(const TFileObject& file) {
  return std::to_string(file.major) + "." + std::to_string(file.minor) + "." +
         std::to_string(file.release) + "." + std::to_string(file.build);
}

std::string NewCopyPath(const TFileObject& file) { return file.url + "_NEW"; }

std::string ArchivePath(const TFileObject& file) { return ChangeFileExt(file.url, ".CAB"); }

std::string PublishedName(const TFileObject& file) {
  if (file.compressed == 1) return ExtractFileName(ArchivePath(file));
  if (file.includeappcomps) return ExtractFileName(NewCopyPath(file));
  return ExtractFileName(file.url);
}

void TUpdateProject::Clear() {
  const bool wasLoading = loading;
  loading = true;
  const TDateTime now = Now();
  date = std::floor(now);  // one reading of the clock for both, so midnight cannot fall between
  time = now - date;
  inctime = false;
  update = ukUnconditional;
  app = -1;
  inform.clear();
  query.clear();
  weburl.clear();
  htmldlg.clear();
  runbefore.clear();
  runafter.clear();
  restart = false;
  prompt = false;
  cl.clear();
  comps.clear();
  unc = true;
  ftpchoice = false;
  uncdir.clear();
  host.clear();
  ftpport = 21;
  userid.clear();
  passwd.clear();
  ftpdir.clear();
  baseurl.clear();
  ftppass = false;
  procmsg.clear();
  procparam.clear();
  valmsg.clear();
  valparam.clear();
  eula.clear();
  whatsnew.clear();
  files.clear();
  baseFileChoices.clear();
  loading = wasLoading;
}

void TUpdateProject::RebuildBaseFileChoices() {
  baseFileChoices.clear();
  for (const TFileEntry& entry : files) {
    if (entry.level != 0 || !entry.file) continue;
    baseFileChoices.push_back({entry.file->localver, std::make_unique<TFileObject>(*entry.file)});
  }
}

void TUpdateProject::RebuildApplicationComponents() {
  comps.clear();
  for (const TFileEntry& entry : files) {
    if (!entry.file || !entry.file->includeappcomps) continue;
    // The same names the build publishes: the archive for a CAB head, else the _NEW copy.
    const std::string name = ExtractFileName(entry.file->url);
    if (entry.file->compressed == 1)
      comps += ChangeFileExt(name, ".CAB") + " ";
    else
      comps += name + "_NEW ";
  }
}

std::vector<std::string> TUpdateProject::CabMembers(int index) const {
  std::vector<std::string> members;
  if (index < 0 || index >= static_cast<int>(files.size()) || files[index].level == 1)
    return members;
  for (std::size_t i = index + 1; i < files.size() && files[i].level == 1; ++i)
    if (files[i].file) members.push_back(files[i].file->url);
  return members;
}

int TUpdateProject::UpdateFileCount() const {
  return static_cast<int>(
      std::count_if(files.begin(), files.end(), [](const TFileEntry& e) { return e.level == 0; }));
}

int TUpdateProject::ApplicationComponentCount() const {
  return static_cast<int>(std::count_if(files.begin(), files.end(), [](const TFileEntry& e) {
    return e.file && e.file->includeappcomps;
  }));
}

const TFileObject* TUpdateProject::BaseFile() const {
  if (app < 0 || app >= static_cast<int>(baseFileChoices.size())) return nullptr;
  return baseFileChoices[app].snapshot.get();
}

int TUpdateProject::IndexOfBaseFile(std::string_view url) const {
  for (std::size_t i = 0; i < baseFileChoices.size(); ++i)
    if (baseFileChoices[i].snapshot && baseFileChoices[i].snapshot->url == url)
      return static_cast<int>(i);
  return -1;
}

std::string TUpdateProject::EntryDisplayText(int index) const {
  if (index < 0 || index >= static_cast<int>(files.size())) return {};
  const TFileEntry& entry = files[index];
  const std::string name = entry.file ? ExtractFileName(entry.file->url) : std::string();
  if (entry.level != 0 || !entry.file) return ShortFileName(name);
  if (entry.file->compressed == 1) {
    int members = 0;
    for (std::size_t i = index + 1; i < files.size() && files[i].level == 1; ++i) ++members;
    return ShortFileName(ChangeFileExt(name, ".CAB")) +
           " [Total file count : " + std::to_string(members) + "]";
  }
  return ShortFileName(entry.file->includeappcomps ? name + "_NEW" : name);
}

}  // namespace kelvane
