#pragma once
// The project file (.KelvaneProj): INI text, Windows-1252, CR LF, sections and keys in a fixed
// order, [file0] .. [fileN-1] for the file list (CAB members included). The reader fills a
// TUpdateProject; every key it misses, or finds with a value that is not a decimal integer, takes
// that key's default, so a damaged file still opens.
#include <string>
#include <string_view>

#include "project/projectstate.h"
#include "project/updateproject.h"

namespace kelvane {

// Writes the whole project to `path` (the file is replaced as a whole: written beside it and
// renamed into place, so a failed write leaves the previous file as it was), then sets
// projectpath to `path`, projectname to its file name and raises OnIdentityChanged.
// Throws EInOutError "Unable to write to <path>" when the platform refuses the write.
// Texts that the code page lacks are stored as '?'. A line break inside a single-line text
// would break the file's structure, so it is stored as a blank.
void WriteProjectFile(TUpdateProject& project, const std::string& path);

// Replaces the project's content by the file's, with the loading flag set throughout: the
// settings, the file list (facts of every level-0 file read again from disk; stored version
// parts kept for a file without version), the base-file choices, the identity. Keeps `ftpport`
// always, `app` unless the project is file based, and `update` when the stored kind is not 10, 11
// or 12. Does not regenerate anything and does not mark the project modified.
//
// A missing or unreadable file reads as empty: the defaults of every key. Returns false when the
// stored date or time does not exist (month 13, hour 25): the error is logged through `log` (when
// given) as "EConvertError error raised, with message : ...", the loading flag is cleared and what
// was read up to then is kept (the description and inctime; the file list and the rest stay as
// they were).
bool ReadProjectFile(TUpdateProject& project, const std::string& path, TMessageLog* log = nullptr);

// Multi-line texts (descr, inform, query) in the model separate their lines with CR LF. In the
// file each line is followed by the two characters "\n" and nothing else marks a break; reading
// turns every "\n" back into a line break (a final break gives no extra empty line).
std::string EscapeMultiLine(std::string_view text);
std::string UnescapeMultiLine(std::string_view stored);

}  // namespace kelvane
