#pragma once
// Extraction of cabinets and of LZ (SZDD, "COMPRESS.EXE") files, both read through libmspack.
#include <string>

namespace kelvane {

// Extracts every file of the cabinet CabFile into DestDir (a trailing "\" or "/" is optional;
// "\" counts as a folder separator), or into the current folder when DestDir is empty. Stored
// names are relative paths with "\" (or "/") between folders; missing folders are created with
// their parents, existing files are replaced, and each file's last-write time is set from the
// archive's local date and time (the stored attributes are not applied).
//
// Returns 0 when every file was extracted, -1 otherwise: a missing or unreadable archive, a file
// that is not a cabinet, corrupt data, a target that cannot be written (a read-only existing
// file included). Files extracted before a failure stay; the file being extracted when it fails
// is never left half-written (each file is written beside its target and renamed into place).
// A cabinet holding a name that is absolute, carries a drive letter or climbs out through ".."
// is refused as a whole: -1, and nothing is written. A cabinet with no files at all (what the
// writer produces for an empty list) extracts successfully to nothing.
int ExtractCabinet(const std::string& CabFile, const std::string& DestDir);

// Expands the LZ-compressed file Name into the same folder under the name its header records
// ("setup.ex_" holding 'e' becomes "setup.exe"), replacing a file of that name, then deletes
// Name. Returns true when done.
//
// A file that is not in the LZ format is left alone under its own name (it is taken as already
// expanded) and true is returned. On any failure (unreadable file, corrupt data, an expanded
// size that differs from the one in the header, a target that cannot be written) false is
// returned, nothing is left under the expanded name that was not there before, and Name stays.
bool ExpandLZFile(const std::string& Name);

// The expanded name of an LZ file called `name` whose header records `lastChar` (0 = not
// recorded): in the base name, a final "." is dropped; otherwise a final "_" after a "." is
// replaced by lastChar, in the case of the name's last letter (or cut off when lastChar is 0).
std::string LZExpandedName(const std::string& name, char lastChar);

}  // namespace kelvane
