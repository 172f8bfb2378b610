#pragma once
// The update project held in memory: project-wide settings, the ordered file list and the base-file
// choices of a file-based update. Field names are the keys of the project file (lower case); a
// value the project file does not store has a name of its own.
//
// Nothing here raises errors of its own and nothing touches a window: the editor binds its controls
// to these fields and reacts to the events below; the project file (projectfile.h), the control
// file generator and the build read the same fields.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "filefacts/filefacts.h"
#include "platform/datetime.h"

namespace kelvane {

// The project's `update`: how the engine decides that the update applies.
enum TUpdateKind : int {
  ukNone = 0,  // before the first New or Open of a run: no kind chosen yet
  ukDateBased = 10,
  ukFileBased = 11,
  ukUnconditional = 12,
};

// A file's `update`: which fact of the installed file decides that it is outdated.
enum TFileUpdateKind : int {
  fuVersion = 0,
  fuSize = 1,
  fuChecksum = 2,
  fuCRC32 = 3,
  fuUnconditional = 4,
};

// The record of one file. Everything starts at zero, false or empty. Declaration order is the
// record's own (the project file writes its keys in another order).
struct TFileObject {
  std::int32_t compressed = 0;  // 1: heads a CAB group and travels as a CAB archive
  std::int32_t major = 0;
  std::int32_t build = 0;
  std::int32_t release = 0;
  std::int32_t minor = 0;
  std::string localver;      // file name on the user's machine that the engine inspects
  std::string targetdir;     // target directory on the user's machine
  std::string descr;         // short description of the file
  std::string url;           // full local path of the source file
  std::int32_t newsize = 0;  // low 32 bits of the size
  std::int32_t newsum = 0;   // plain checksum, held signed
  bool mandatory = false;
  std::int32_t update = 0;       // TFileUpdateKind
  std::int32_t newcrc32sum = 0;  // additive CRC32, held signed
  bool includeappcomps = false;  // an application component: travels as its _NEW copy

  bool operator==(const TFileObject&) const = default;
};

// Copies every field of `source` into `target`; does nothing when there is no source (or target).
void CopyFileObject(const TFileObject* source, TFileObject* target);

// Fills `file` from the file on disk at `path`: url := path, the four version parts (kept when the
// file has no readable version resource), newsize, newsum, newcrc32sum, and localver := the file
// name part of the path. Never fails: a missing or unreadable file gives size 0, checksum -1 and
// CRC32 0, as an empty file does. The editor refreshes its update-type captions afterwards.
void ReadFileFacts(TFileObject& file, const std::string& path);
// The same with facts already read (ReadFileFactsMany reads many files faster than one by one).
void ApplyFileFacts(TFileObject& file, const std::string& path, const TFileFacts& facts);

// "major.minor.release.build" in decimal, e.g. 2.1.0.37; 0.0.0.0 for a file without a version.
std::string VersionToText(const TFileObject& file);

// Names derived from a record (the build publishes these files, the control file names them).
std::string NewCopyPath(const TFileObject& file);    // url + "_NEW" (app.exe -> app.exe_NEW)
std::string ArchivePath(const TFileObject& file);    // url with its extension replaced by ".CAB"
std::string PublishedName(const TFileObject& file);  // file part of what the build uploads

// One line of the file list. Level 0 is an update file; level 1 a member of the CAB group headed
// by the nearest level-0 entry above it. The entry owns its record; `file` may be empty only
// while an editor builds the entry.
struct TFileEntry {
  int level = 0;
  std::unique_ptr<TFileObject> file;
  // What the file list shows (the editor draws it): the name text and the names of the left and
  // right pictures ("expand", "collapse", "cab"; empty: the file's own icon on the left, nothing on
  // the right).
  std::string NameText;
  std::string LeftPicture;
  std::string RightPicture;
};

// One base-file choice: the label shown in the base-file list (the entry's localver) and an
// independent copy of the entry's record, taken when the choices were last rebuilt.
struct TBaseFileChoice {
  std::string label;
  std::unique_ptr<TFileObject> snapshot;
};

class TUpdateProject {
 public:
  TUpdateProject() = default;
  TUpdateProject(const TUpdateProject&) = delete;
  TUpdateProject& operator=(const TUpdateProject&) = delete;

  // Identity: the display name (Project1.KelvaneProj for a new project) and the full path of the
  // project file, empty until it was saved or opened.
  std::string projectname;
  std::string projectpath;

  // Project-wide settings; the comment gives the value after New ("unchanged": New keeps it).
  TDateTime date = 0;    // release date (whole days); today
  TDateTime time = 0;    // time of day (fraction of a day); now
  bool inctime = false;  // the time is part of the update condition; false
  int update = ukNone;   // TUpdateKind; 12
  int app = -1;          // index into baseFileChoices, -1 none; -1
  int datefmt = -1;      // -1 none chosen, 0 day/month/year, 1 month/day/year; unchanged
  std::string descr;     // update description, lines separated by CR LF; unchanged
  std::string inform;    // informational message, CR LF lines; empty
  std::string query;     // question that lets the user cancel, CR LF lines; empty
  std::string weburl;
  std::string htmldlg;
  std::string runbefore;
  std::string runafter;
  bool restart = false;  // update the files but do not restart the application
  bool prompt = false;   // do not ask before shutting the application down
  std::string cl;        // restart command line
  std::string comps;     // application components, rebuilt from the file list
  // The upload choice: `unc` true selects the UNC directory. `ftpchoice` tells whether the FTP/HTTP
  // choice is selected; a project file with an unc value other than 0 and 1 selects neither, and
  // everything that tests the choice then treats the project as FTP/HTTP (unc false).
  bool unc = false;        // true after New
  bool ftpchoice = false;  // false after New
  std::string uncdir;
  std::string host;
  int ftpport = 21;  // not stored in the project file
  std::string userid;
  std::string passwd;  // plain text, as stored
  std::string ftpdir;
  std::string baseurl;
  bool ftppass = false;
  std::string procmsg;
  std::string procparam;
  std::string valmsg;
  std::string valparam;
  std::string signature;  // unchanged by New
  std::string eula;       // local path of the licence file
  std::string whatsnew;   // local path of the what's-new file

  std::vector<TFileEntry> files;
  std::vector<TBaseFileChoice> baseFileChoices;

  // True while a project is loaded, cleared, or an entry is removed: editor handlers that react to
  // field changes do nothing and the control file is not regenerated.
  bool loading = false;

  // Events (sender first; unassigned means nothing to do).
  // The identity changed after a load or a write of the project file: refresh the status line.
  std::function<void(TUpdateProject& sender)> OnIdentityChanged;
  // A load asks the file list to select this entry (the first one, when the list is not empty).
  std::function<void(TUpdateProject& sender, int index)> OnSelectEntry;

  // The New reset: every field to its value after New (see above), file list and base-file
  // choices emptied; runs with the loading flag set. Identity is left to the caller.
  void Clear();

  // Replaces the snapshots by fresh copies of every level-0 entry's record, in list order. `app`
  // keeps its number, so it names the snapshot now at that position.
  void RebuildBaseFileChoices();
  // comps := for every entry with includeappcomps, its file name + "_NEW " (not compressed) or its
  // file name with extension ".CAB" + " " (compressed); ends in a blank when not empty.
  void RebuildApplicationComponents();

  // The url values of the level-1 entries directly after `index`; empty when that entry is a
  // member itself, is the last one, has no members, or `index` is out of range.
  std::vector<std::string> CabMembers(int index) const;
  int UpdateFileCount() const;            // level-0 entries
  int ApplicationComponentCount() const;  // entries of any level with includeappcomps
  // The snapshot at `app`; nullptr when app is -1, out of range or its snapshot is absent.
  const TFileObject* BaseFile() const;
  // First position whose snapshot's url equals `url` exactly (case-sensitive), or -1.
  int IndexOfBaseFile(std::string_view url) const;

  // The name text of the entry at `index` as the file list shows it: a plain file its (shortened)
  // file name, with "_NEW" when it is an application component; a CAB head its archive name and
  // " [Total file count : N]"; a member its file name. Empty for an index out of range.
  std::string EntryDisplayText(int index) const;
};

}  // namespace kelvane
