#include "project/projectfile.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <fstream>
#include <set>
#include <utility>
#include <vector>

#include "platform/datetime.h"
#include "platform/encoding.h"
#include "platform/errors.h"
#include "platform/inifile.h"
#include "platform/paths.h"

namespace kelvane {

namespace {

// Lines of a text split at CR LF, CR or LF. A break at the very end gives a last empty line, so
// that every model text survives a write and a read unchanged.
std::vector<std::string> SplitLinesKeepingLast(std::string_view text) {
  std::vector<std::string> lines;
  if (text.empty()) return lines;
  std::string current;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      lines.push_back(std::move(current));
      current.clear();
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      current += c;
    }
  }
  lines.push_back(std::move(current));
  return lines;
}

// A single-line value: a line break would end the key=value line and break the file's structure.
std::string SingleLine(std::string_view text) {
  std::string result(text);
  std::replace_if(
      result.begin(), result.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
  return result;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v'; }

// Readers trim blanks around a value and drop one pair of quotes around it, so a password like
// "x" or a command line with a leading blank would come back changed. Such a value is written
// inside one more pair of double quotes, which the reader takes away again (readers of files
// written before do the same). The component list keeps its final blank unprotected: that blank
// only separates names.
std::string Protected(std::string_view key, std::string value) {
  if (value.empty()) return value;
  const bool blanks = key != "comps" && (IsBlank(value.front()) || IsBlank(value.back()));
  std::string_view t = value;  // what the reader unquotes: the trimmed value
  while (!t.empty() && IsBlank(t.front())) t.remove_prefix(1);
  while (!t.empty() && IsBlank(t.back())) t.remove_suffix(1);
  const bool quoted =
      t.size() >= 2 && (t.front() == '"' || t.front() == '\'') && t.back() == t.front();
  return blanks || quoted ? "\"" + value + "\"" : value;
}

// The file text in the writer's canonical layout: sections in the order first written, keys in
// the order written, no blank lines, CR LF after every line.
class TProjectText {
 public:
  void Section(std::string_view name) { sections_.push_back({std::string(name), {}}); }
  void Key(std::string_view key, std::string_view value) {
    sections_.back().second.emplace_back(std::string(key), Protected(key, SingleLine(value)));
  }
  void Key(std::string_view key, long long value) { Key(key, std::to_string(value)); }
  // A key for a section written earlier goes to that section's end.
  void KeyIn(std::string_view section, std::string_view key, std::string_view value) {
    for (auto& s : sections_)
      if (s.first == section) {
        s.second.emplace_back(std::string(key), Protected(key, SingleLine(value)));
        return;
      }
  }
  std::string Text() const {
    std::string text;
    for (const auto& [name, keys] : sections_) {
      text += "[" + name + "]\r\n";
      for (const auto& [key, value] : keys) text += key + "=" + value + "\r\n";
    }
    return text;
  }

 private:
  std::vector<std::pair<std::string, std::vector<std::pair<std::string, std::string>>>> sections_;
};

// The numbers N of the [fileN] sections present in the file, as the profile functions would match
// "file" + N: header name up to the first "]", trimmed, compared without case; N written without
// leading zeros. Reading only these instead of every number up to the stored count keeps a junk
// count (2147483647) from turning the load into billions of look-ups; the result is the same,
// since an absent section is skipped anyway.
std::set<long long> FileSectionNumbers(const std::string& path) {
  std::set<long long> numbers;
  std::ifstream in(path, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    std::size_t b = 0;
    while (b < line.size() && IsBlank(line[b])) ++b;
    if (b >= line.size() || line[b] != '[') continue;
    std::size_t e = line.find(']', b + 1);
    if (e == std::string::npos) e = line.size();
    std::string name = line.substr(b + 1, e - b - 1);
    while (!name.empty() && (IsBlank(name.back()) || name.back() == '\r')) name.pop_back();
    std::size_t s = 0;
    while (s < name.size() && IsBlank(name[s])) ++s;
    name.erase(0, s);
    if (name.size() < 5 || name.size() > 15) continue;
    std::string prefix = name.substr(0, 4);
    for (char& c : prefix) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (prefix != "file") continue;
    const std::string digits = name.substr(4);
    if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
      continue;
    if (digits.size() > 1 && digits[0] == '0') continue;
    numbers.insert(std::stoll(digits));
  }
  return numbers;
}

// Clears the loading flag however the load ends.
struct TLoadingGuard {
  TUpdateProject& project;
  explicit TLoadingGuard(TUpdateProject& p) : project(p) { project.loading = true; }
  ~TLoadingGuard() { project.loading = false; }
};

}  // namespace

std::string EscapeMultiLine(std::string_view text) {
  std::string stored;
  for (const std::string& line : SplitLinesKeepingLast(text)) stored += line + "\\n";
  return stored;
}

std::string UnescapeMultiLine(std::string_view stored) {
  std::string text;
  for (std::size_t i = 0; i < stored.size(); ++i) {
    if (stored[i] == '\\' && i + 1 < stored.size() && stored[i + 1] == 'n') {
      text += '\r';
      ++i;
    } else {
      text += stored[i];
    }
  }
  std::vector<std::string> lines = SplitLinesKeepingLast(text);
  if (!text.empty() && (text.back() == '\r' || text.back() == '\n')) lines.pop_back();
  std::string joined;
  for (std::size_t i = 0; i < lines.size(); ++i) joined += (i ? "\r\n" : "") + lines[i];
  return joined;
}

void WriteProjectFile(TUpdateProject& project, const std::string& path) {
  TProjectText f;
  f.Section("update");
  f.Key("descr", EscapeMultiLine(project.descr));

  f.Section("version");
  if (project.inctime) f.Key("inctime", 1);
  int year, month, day, hour, minute, second, ms;
  DecodeDate(project.date, year, month, day);
  DecodeTime(project.time, hour, minute, second, ms);
  f.Key("year", year);
  f.Key("month", month);
  f.Key("day", day);
  f.Key("hour", hour);
  f.Key("min", minute);
  f.Key("sec", second);
  if (project.update == ukDateBased) {
    f.Key("update", ukDateBased);
  } else if (project.update == ukFileBased) {
    // A file-based project without a chosen base file stores no kind and loads as unconditional.
    if (const TFileObject* base = project.BaseFile()) {
      f.Key("update", ukFileBased);
      f.Key("app", base->url);
    }
  } else if (project.update == ukUnconditional) {
    f.Key("update", ukUnconditional);
  }

  f.Section("commands");
  f.Key("inform", EscapeMultiLine(project.inform));
  f.Key("query", EscapeMultiLine(project.query));
  f.Key("weburl", project.weburl);
  f.Key("htmldlg", project.htmldlg);
  f.Key("runbefore", project.runbefore);
  f.Key("runafter", project.runafter);

  f.Section("application");
  f.Key("restart", project.restart ? 1 : 0);
  f.Key("prompt", project.prompt ? 1 : 0);
  f.Key("cl", project.cl);
  f.Key("comps", project.comps);

  f.Section("upload");
  f.Key("uncdir", project.uncdir);
  f.Key("host", project.host);
  f.Key("userid", project.userid);
  f.Key("passwd", project.passwd);
  f.Key("ftpdir", project.ftpdir);
  f.Key("baseurl", project.baseurl);
  f.Key("unc", project.unc ? 1 : 0);
  f.Key("ftppass", project.ftppass ? 1 : 0);

  f.Section("custom");
  f.Key("procmsg", project.procmsg);
  f.Key("procparam", project.procparam);
  f.Key("valmsg", project.valmsg);
  f.Key("valparam", project.valparam);
  f.Key("signature", project.signature);

  f.KeyIn("update", "datefmt", std::to_string(project.datefmt));

  f.Section("files");
  f.Key("count", static_cast<long long>(project.files.size()));
  for (std::size_t i = 0; i < project.files.size(); ++i) {
    const TFileEntry& entry = project.files[i];
    static const TFileObject kEmpty;
    const TFileObject& file = entry.file ? *entry.file : kEmpty;
    f.Section("file" + std::to_string(i));
    f.Key("url", file.url);
    if (entry.level != 0) {
      f.Key("level", entry.level);
      continue;
    }
    f.Key("major", file.major);
    f.Key("minor", file.minor);
    f.Key("release", file.release);
    f.Key("build", file.build);
    f.Key("localver", file.localver);
    f.Key("targetdir", file.targetdir);
    f.Key("compressed", file.compressed);
    f.Key("descr", file.descr);
    f.Key("newsize", file.newsize);
    f.Key("newsum", file.newsum);
    f.Key("newcrc32sum", file.newcrc32sum);
    f.Key("includeappcomps", file.includeappcomps ? 1 : 0);
    f.Key("mandatory", file.mandatory ? 1 : 0);
    f.Key("update", file.update);
  }

  f.Section("whatsnew");
  f.Key("file", project.whatsnew);
  f.Section("eula");
  f.Key("file", project.eula);

  // Replaced as a whole: a refused write leaves the previous file intact.
  WriteFileAtomically(path, Utf8ToAnsi(f.Text()));

  project.projectpath = path;
  project.projectname = ExtractFileName(path);
  if (project.OnIdentityChanged) project.OnIdentityChanged(project);
}

bool ReadProjectFile(TUpdateProject& project, const std::string& path, TMessageLog* log) {
  TLoadingGuard guard(project);
  const TIniFile ini(path);

  int todayYear, todayMonth, todayDay, nowHour, nowMinute, nowSecond, nowMs;
  DecodeDate(Date(), todayYear, todayMonth, todayDay);
  DecodeTime(Now(), nowHour, nowMinute, nowSecond, nowMs);
  const int year = ini.ReadInteger("version", "year", todayYear);
  const int month = ini.ReadInteger("version", "month", todayMonth);
  const int day = ini.ReadInteger("version", "day", todayDay);
  const int hour = ini.ReadInteger("version", "hour", nowHour);
  const int minute = ini.ReadInteger("version", "min", nowMinute);
  const int second = ini.ReadInteger("version", "sec", nowSecond);

  project.descr = UnescapeMultiLine(ini.ReadString("update", "descr", ""));
  project.inctime = ini.ReadInteger("version", "inctime", 0) == 1;
  try {
    project.date = EncodeDate(year, month, day);
    project.time = EncodeTime(hour, minute, second, 0);
  } catch (const EKelvaneError& e) {
    // The load stops here; what was read so far stays.
    if (log)
      log->LogMessage(std::string(e.ClassName()) + " error raised, with message : " + e.what(),
                      mkError);
    return false;
  }

  project.inform = UnescapeMultiLine(ini.ReadString("commands", "inform", ""));
  project.query = UnescapeMultiLine(ini.ReadString("commands", "query", ""));
  project.weburl = ini.ReadString("commands", "weburl", "");
  project.htmldlg = ini.ReadString("commands", "htmldlg", "");
  project.runbefore = ini.ReadString("commands", "runbefore", "");
  project.runafter = ini.ReadString("commands", "runafter", "");

  project.restart = ini.ReadInteger("application", "restart", 0) == 1;
  project.prompt = ini.ReadInteger("application", "prompt", 0) == 1;
  project.cl = ini.ReadString("application", "cl", "");
  project.comps = ini.ReadString("application", "comps", "");

  project.uncdir = ini.ReadString("upload", "uncdir", "");
  project.host = ini.ReadString("upload", "host", "");
  project.userid = ini.ReadString("upload", "userid", "");
  project.passwd = ini.ReadString("upload", "passwd", "");
  project.ftpdir = ini.ReadString("upload", "ftpdir", "");
  project.baseurl = ini.ReadString("upload", "baseurl", "");
  const int unc = ini.ReadInteger("upload", "unc", 0);
  project.unc = unc == 1;
  project.ftpchoice = unc == 0;
  project.ftppass = ini.ReadInteger("upload", "ftppass", 0) == 1;

  project.procmsg = ini.ReadString("custom", "procmsg", "");
  project.procparam = ini.ReadString("custom", "procparam", "");
  project.valmsg = ini.ReadString("custom", "valmsg", "");
  project.valparam = ini.ReadString("custom", "valparam", "");
  project.signature = ini.ReadString("custom", "signature", "");

  const long long count = ini.ReadInteger("files", "count", 0);
  project.datefmt = std::clamp(ini.ReadInteger("update", "datefmt", 0), -1, 1);

  project.files.clear();
  project.baseFileChoices.clear();
  std::vector<std::size_t> measured;  // the level-0 entries, whose facts are read from disk
  // Sections [file0] .. [file<count>] (count + 1 rounds); absent ones and empty urls are skipped.
  for (const long long n : FileSectionNumbers(path)) {
    if (n > count) break;
    const std::string section = "file" + std::to_string(n);
    const std::string url = ini.ReadString(section, "url", "");
    if (url.empty()) continue;
    TFileEntry entry;
    entry.level = ini.ReadInteger(section, "level", 0);
    entry.file = std::make_unique<TFileObject>();
    TFileObject& file = *entry.file;
    file.url = url;
    if (entry.level == 0) {
      file.targetdir = ini.ReadString(section, "targetdir", "");
      file.descr = ini.ReadString(section, "descr", "");
      file.localver = ini.ReadString(section, "localver", "");
      file.major = ini.ReadInteger(section, "major", 0);
      file.minor = ini.ReadInteger(section, "minor", 0);
      file.release = ini.ReadInteger(section, "release", 0);
      file.build = ini.ReadInteger(section, "build", 0);
      file.compressed = ini.ReadInteger(section, "compressed", 0);
      file.newsize = ini.ReadInteger(section, "newsize", 0);
      file.newsum = ini.ReadInteger(section, "newsum", 0);
      file.newcrc32sum = ini.ReadInteger(section, "newcrc32sum", 0);
      file.includeappcomps = ini.ReadInteger(section, "includeappcomps", 0) != 0;
      file.mandatory = ini.ReadInteger(section, "mandatory", 0) != 0;
      file.update = ini.ReadInteger(section, "update", fuUnconditional);
      measured.push_back(project.files.size());
    }
    project.files.push_back(std::move(entry));
  }
  // The stored facts give way to the files on disk (a stored version stays when a file has none);
  // the files are read together, which is faster than one after another.
  std::vector<std::string> paths;
  for (const std::size_t i : measured) paths.push_back(project.files[i].file->url);
  const std::vector<TFileFacts> facts = ReadFileFactsMany(paths);
  for (std::size_t k = 0; k < measured.size(); ++k) {
    TFileObject& file = *project.files[measured[k]].file;
    ApplyFileFacts(file, paths[k], facts[k]);
    project.baseFileChoices.push_back({file.localver, std::make_unique<TFileObject>(file)});
  }

  for (std::size_t i = 0; i < project.files.size(); ++i) {
    TFileEntry& entry = project.files[i];
    entry.NameText = project.EntryDisplayText(static_cast<int>(i));
    const bool head = entry.level == 0 && entry.file->compressed == 1 &&
                      !project.CabMembers(static_cast<int>(i)).empty();
    entry.LeftPicture = head ? "expand" : "";
    entry.RightPicture = head ? "cab" : "";
  }

  const int kind = ini.ReadInteger("version", "update", ukUnconditional);
  if (kind == ukDateBased || kind == ukFileBased || kind == ukUnconditional) project.update = kind;

  project.whatsnew = ini.ReadString("whatsnew", "file", "");
  project.eula = ini.ReadString("eula", "file", "");

  project.projectpath = path;
  project.projectname = ExtractFileName(path);
  if (project.OnIdentityChanged) project.OnIdentityChanged(project);
  if (!project.files.empty() && project.OnSelectEntry) project.OnSelectEntry(project, 0);

  if (project.update == ukFileBased)
    project.app = project.IndexOfBaseFile(ini.ReadString("version", "app", ""));
  return true;
}

}  // namespace kelvane
