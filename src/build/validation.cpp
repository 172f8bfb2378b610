#include "build/validation.h"

#include <string>

#include "platform/paths.h"

namespace kelvane {

bool ValidateProject(const TUpdateProject& project, TProjectLog& log) {
  bool valid = true;
  auto problem = [&](const std::string& text) {
    log.LogMessage(text, mkWarning);
    ++log.ErrorCount;
    valid = false;
  };

  log.LogMessage("Verifying Valid INF file", mkInformational);

  if (!project.eula.empty() && !FileExists(project.eula))
    problem("License agreement file specified cannot be found");
  if (!project.whatsnew.empty() && !FileExists(project.whatsnew))
    problem("What's new file specified cannot be found");

  for (const TFileEntry& entry : project.files) {
    if (!entry.file) continue;  // a record still being built by the editor names no file yet
    const TFileObject& file = *entry.file;
    if (!FileExists(file.url)) problem("File specified : \r\n" + file.url + "\r\ncannot be found");
    if (file.newsize != 0 && file.localver.empty())
      problem("Filesize based update found for : \r\n" + file.url +
              "\r\nbut no local resource specified");
    if (file.newsum != 0 && file.localver.empty())
      problem("Checksum based update found for : \r\n" + file.url +
              "\r\nbut no local resource specified");
  }

  if (project.ApplicationComponentCount() > 0 && project.comps.empty())
    problem("Application update specified but no application components set");

  return valid;
}

}  // namespace kelvane
