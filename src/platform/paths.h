#pragma once
// Folders of the running system and path helpers shared by every module. Paths are UTF-8.
#include <string>
#include <string_view>

namespace kelvane {

std::string ExecutableFolder();  // folder of the running executable, with a trailing "/"
std::string TempFolder();        // $TMPDIR, else /tmp, with a trailing "/"
std::string DocumentsFolder();   // XDG Documents folder, else $HOME/Documents, with a trailing "/"
std::string ConfigFolder();      // $XDG_CONFIG_HOME/kelvane, else $HOME/.config/kelvane, with "/"

// The file-name part after the last "/" or "\"; the folder part including that separator;
// a path whose extension (from the last "." of the file name) is replaced or added.
std::string ExtractFileName(std::string_view path);
std::string ExtractFilePath(std::string_view path);
std::string ChangeFileExt(std::string_view path, std::string_view extension);
std::string IncludeTrailingPathDelimiter(std::string_view folder);

bool FileExists(const std::string& path);       // a regular file (or a link to one)
bool DirectoryExists(const std::string& path);

// A UNC name (\\server\share\...), which only the share layer can reach.
bool IsUncPath(std::string_view path);

// Replaces the file at `target` with `data` atomically: written beside it, then renamed into
// place, so readers see the old or the new content, never a part. Throws EInOutError
// "Unable to write to <target>" when the platform refuses.
void WriteFileAtomically(const std::string& target, std::string_view data);

}  // namespace kelvane
