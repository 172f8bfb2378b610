// kelvane-example: makes and shows the bundled example project through the program's own project
// code (model, file facts, project file writer and reader). `make demo` uses it; it is a developer
// tool, not part of the program's command line.
//
//   kelvane-example make <examples folder> <project file> [<folder written into the paths>]
//   kelvane-example show <project file>
#include <cstdio>
#include <iostream>
#include <string>

#include "build/projectlog.h"
#include "filefacts/filefacts.h"
#include "platform/datetime.h"
#include "platform/errors.h"
#include "platform/paths.h"
#include "project/projectfile.h"

namespace kelvane {
namespace {

TFileObject& Add(TUpdateProject& p, int level, const std::string& path) {
  TFileEntry entry;
  entry.level = level;
  entry.file = std::make_unique<TFileObject>();
  if (level == 0) {
    entry.file->update = fuUnconditional;  // as the Add command does
    ReadFileFacts(*entry.file, path);
  } else {
    entry.file->url = path;  // a CAB member carries only its path
  }
  p.files.push_back(std::move(entry));
  return *p.files.back().file;
}

std::string Rerooted(const std::string& path, const std::string& from, const std::string& to) {
  return path.compare(0, from.size(), from) == 0 ? to + path.substr(from.size()) : path;
}

int Make(const std::string& examples, const std::string& projectFile, std::string root) {
  const std::string folder = IncludeTrailingPathDelimiter(examples);
  root = root.empty() ? folder : IncludeTrailingPathDelimiter(root);
  if (!DirectoryExists(folder + "ExampleApp")) {
    std::cerr << "No example application in " << folder << "\n";
    return 1;
  }
  TUpdateProject p;
  p.Clear();
  p.descr = "Example App 2.1\r\nPrices come from prices.dat; the price library is faster.";
  p.datefmt = 1;
  p.date = EncodeDate(2026, 12, 9);
  p.time = EncodeTime(18, 45, 3, 0);
  p.inform = "Example App is updated to version 2.1.";
  p.query = "Example App 2.1 is available.\r\nDo you want to update now?";
  p.cl = "/restarted";
  p.unc = false;
  p.ftpchoice = true;
  p.host = "127.0.0.1";
  p.userid = "demo";
  p.passwd = "demo";
  p.ftpdir = "/updates";
  p.baseurl = "http://127.0.0.1:8080/updates/";
  p.ftppass = true;
  p.signature = "ExampleApp-2.1";
  p.whatsnew = folder + "whatsnew.txt";
  p.eula = folder + "eula.txt";

  TFileObject& app = Add(p, 0, folder + "ExampleApp/ExampleApp.exe");
  app.update = fuVersion;
  app.includeappcomps = true;
  app.mandatory = true;
  app.descr = "Example App";
  TFileObject& lib = Add(p, 0, folder + "ExampleApp/ExampleLib.dll");
  lib.update = fuVersion;
  lib.compressed = 1;
  lib.descr = "Price library and price table";
  Add(p, 1, folder + "ExampleApp/ExampleLib.dll");
  Add(p, 1, folder + "ExampleApp/prices.dat");
  TFileObject& readme = Add(p, 0, folder + "ExampleApp/readme.txt");
  readme.update = fuCRC32;
  readme.descr = "Read me";

  // The facts were read from the real folder; the paths may name another place.
  for (TFileEntry& entry : p.files) entry.file->url = Rerooted(entry.file->url, folder, root);
  p.whatsnew = Rerooted(p.whatsnew, folder, root);
  p.eula = Rerooted(p.eula, folder, root);
  p.RebuildApplicationComponents();
  p.RebuildBaseFileChoices();
  p.update = ukFileBased;
  p.app = 0;
  WriteProjectFile(p, projectFile);
  std::cout << "Wrote " << projectFile << "\n";
  return 0;
}

const char* KindText(int kind) {
  switch (kind) {
    case fuVersion:
      return "version";
    case fuSize:
      return "size";
    case fuChecksum:
      return "checksum";
    case fuCRC32:
      return "CRC32";
    case fuUnconditional:
      return "always";
    default:
      return "?";
  }
}

int Show(const std::string& projectFile) {
  if (!FileExists(projectFile)) {
    std::cerr << "The file " << projectFile << " does not exist\n";
    return 4;
  }
  TProjectLog log;
  TUpdateProject p;
  const bool complete = ReadProjectFile(p, projectFile, &log);
  for (const std::string& line : log.Lines()) std::cout << line << "\n";
  if (!complete) return 1;

  std::cout << ProjectStatusText(p) << "\n";
  const TFileObject* base = p.BaseFile();
  std::cout << "Update: "
            << (p.update == ukDateBased ? "date based"
                : p.update == ukFileBased
                    ? "file based, base file " + (base ? base->localver : std::string("(none)"))
                    : std::string("unconditional"))
            << "\n";
  std::cout << "Upload: "
            << (p.unc ? "directory " + p.uncdir
                      : "FTP server " + p.host + ", folder " + p.ftpdir + ", served from " +
                            p.baseurl)
            << "\n";
  std::cout << "Application components: " << p.comps << "\n";
  std::cout << "What's new: " << p.whatsnew << "\nLicence: " << p.eula << "\n\n";

  std::printf("%-40s %-10s %10s %11s %11s %-8s %s\n", "File list", "Version", "Size", "Checksum",
              "CRC32", "Update", "Published as");
  for (int i = 0; i < static_cast<int>(p.files.size()); ++i) {
    const TFileEntry& entry = p.files[i];
    const TFileObject& f = *entry.file;
    const std::string shown = (entry.level == 1 ? "    " : "") + entry.NameText;
    if (entry.level != 0) {
      std::printf("%-40s   member of the archive above\n", shown.c_str());
      continue;
    }
    std::printf("%-40s %-10s %10s %11d %11d %-8s %s\n", shown.c_str(), VersionToText(f).c_str(),
                FormatFileSize(f.newsize).c_str(), f.newsum, f.newcrc32sum, KindText(f.update),
                PublishedName(f).c_str());
  }
  return 0;
}

}  // namespace
}  // namespace kelvane

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  try {
    if (command == "make" && (argc == 4 || argc == 5))
      return kelvane::Make(argv[2], argv[3], argc == 5 ? argv[4] : "");
    if (command == "show" && argc == 3) return kelvane::Show(argv[2]);
  } catch (const kelvane::EKelvaneError& e) {
    std::cerr << e.ClassName() << ": " << e.what() << "\n";
    return 1;
  }
  std::cerr << "usage: kelvane-example make <examples folder> <project file> [<folder in paths>]\n"
               "       kelvane-example show <project file>\n";
  return 2;
}
