#pragma once
// Project validation: the first step of a build. Before anything is written or transferred, every
// file the project names must exist and the settings that depend on each other must be complete.
//
//   if (!ValidateProject(state.Project, state.Log)) { /* ask about the error log, cancel */ }
#include "build/projectlog.h"
#include "project/updateproject.h"

namespace kelvane {

// Logs "Verifying Valid INF file" (informational), then runs every check below in this order and
// never stops early, so one run reports all problems of the project. Each problem is logged as a
// warning with its text and adds 1 to log.ErrorCount. Returns true when no problem was found.
//
//  1. eula names no existing file:      "License agreement file specified cannot be found"
//  2. whatsnew names no existing file:  "What's new file specified cannot be found"
//  for every entry of the file list (CAB members included), in list order:
//  3. no file at its url:               "File specified : \r\n<url>\r\ncannot be found"
//  4. newsize not 0, localver empty:    "Filesize based update found for : \r\n<url>\r\nbut no
//                                        local resource specified"
//  5. newsum not 0, localver empty:     "Checksum based update found for : \r\n<url>\r\nbut no
//                                        local resource specified"
//  6. application components in the list but comps empty:
//                                       "Application update specified but no application
//                                        components set"
// Checks 4 and 5 look at the stored size and checksum whatever the entry's update kind.
// Raises nothing: a missing file is a problem to report, not a failure.
bool ValidateProject(const TUpdateProject& project, TProjectLog& log);

}  // namespace kelvane
