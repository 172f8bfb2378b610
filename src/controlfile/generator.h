#pragma once
// The control file generator: turns the update project into its control file (.INF), writes it
// into the update file folder and hands the written text to the window's preview. A build calls
// it once for the file it publishes; the editor calls it after every change of the project, so
// the preview always shows what a build would publish.
//
//   TControlFileContext context;
//   context.UpdateFilePath = state.Environment.UpdateFilePath;
//   context.Log = &state.Log;
//   std::string inf = GenerateControlFile(state.Project, context);
//
// The format itself (sections, keys, value forms, defaults) is controlfile/format.h.
#include <string>

#include "project/projectstate.h"
#include "project/updateproject.h"

namespace kelvane {

// What the generator shows in the window. The editor implements it; compile mode and tests that
// do not care pass none. Every member does nothing by default.
class TControlFileView {
 public:
  virtual ~TControlFileView() = default;
  // The window title, e.g. "Project1.KelvaneProj* - Kelvane": the star marks the project modified.
  virtual void SetTitle(const std::string& /*title*/) {}
  // The preview page "Generated .INF file" takes the text of the file just written (UTF-8, CR LF).
  virtual void ShowControlFile(const std::string& /*text*/) {}
};

struct TControlFileContext {
  // The environment setting UpdateFilePath: the folder the control file goes to.
  std::string UpdateFilePath;
  TMessageLog* Log = nullptr;        // not owned; none: nothing is logged
  TControlFileView* View = nullptr;  // not owned; none: no title, no preview (compile mode)
  // The run's new-project counter (0 at start, 1 more for every New), shared with New so that a
  // project the generator has to name gets the next "Project<n>.KelvaneProj". None: the
  // generator counts in a process-wide counter of its own.
  int* NewProjectCounter = nullptr;
};

// Writes the control file of `project` and returns its full path: the UpdateFilePath folder and
// the project's display name with its extension replaced by ".INF", joined by one "/". Returns empty text and
// does nothing else while the project's loading flag is set.
//
// Steps: logs "Updating INF file"; a project without a name first gets the next new-project name
// (the model is kept as it is); sets the title to the name followed by "* - Kelvane"; writes the
// file; shows its text in the preview.
//
// The file is written beside its final name and renamed into place, so the path holds either the
// previous control file or the complete new one. Throws EInOutError "Unable to write to <path>"
// when the folder does not exist or cannot be written; nothing is shown in the preview then.
// Characters outside Windows-1252 are written as '?'; a line break inside a single-line text would
// end its key=value line and let the text forge keys the engine obeys, so it is written as a blank.
std::string GenerateControlFile(TUpdateProject& project, const TControlFileContext& context);

// The output path GenerateControlFile uses for a project named `projectName`.
std::string ControlFilePath(const std::string& updateFilePath, const std::string& projectName);

// True when `name` is one of the space-separated names of an application components text,
// compared with case. Whole names only: "app.CAB" is not a component of "myapp.CAB ".
bool IsApplicationComponent(const std::string& comps, const std::string& name);

}  // namespace kelvane
