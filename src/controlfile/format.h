#pragma once
// The control file (.INF): the contract between the generator in Kelvane and the update engine in
// every installed application. This header is the only place where its sections, key names,
// value forms and reader defaults are spelled; the generator and every reader take them from here,
// so both sides cannot drift apart.
//
// Syntax is the INI layer's (platform/inifile.h): Windows-1252, CR LF, names compared without
// case, first match wins. Readers depend on neither the order of sections nor of keys; the
// generator still writes a fixed order (ControlSectionOrder, and the key order of each table
// below), so that two generations of one project give the same bytes.
//
// Value forms:
//   integer     signed decimal as written; readers also take "$1F" and "0x1F" (see
//               ParseControlInteger). Checksums are signed 32-bit, 2147483648 is -2147483648.
//   flag        written as "1" when set, left out otherwise. An integer flag is set when it reads
//   1;
//               a text flag (unconditional) is set when its text is not empty.
//   date        day/month/yyyy or month/day/yyyy, no leading zeros on day and month.
//   time        hours:minutes, no leading zeros (9:05 is 9:5).
//   version     major.minor.release.build in decimal.
//   multi-line  every line followed by the two characters backslash and n; no CR or LF inside.
//               The escaping is the project file's own (EscapeMultiLine in project/projectfile.h).
//   location    upload base (with "/" added unless it ends in "/" or "\") plus a file name.
//   text        copied verbatim; directory tokens such as {APP} pass through for the engine.
#include <array>
#include <string>
#include <string_view>

#include "platform/datetime.h"

namespace kelvane {

enum TControlValueForm {
  cvText,
  cvInteger,
  cvIntegerFlag,  // set when the value reads as 1
  cvTextFlag,     // set when the value is not empty
  cvDate,
  cvTime,
  cvVersion,
  cvMultiLine,
  cvLocation,
};

// One key of the control file with its reader default. Keys of the numbered file sections have
// Section "file"; readers append the number (1 for [file1]). The eula and whatsnew file keys are
// also read from sections with a language suffix; readers append that suffix the same way.
struct TControlKey {
  std::string_view Section;
  std::string_view Name;
  TControlValueForm Form;
  int IntegerDefault = 0;             // integer and integer-flag keys
  std::string_view TextDefault = {};  // text keys (the dialog button texts have one)
  bool Generated = true;  // false: only the engine reads it, a developer adds it by hand
};

namespace inf {

// Sections, in the order in which the generator creates them. "file" stands for [file1] to
// [fileN]; FileSection() gives the numbered name.
inline constexpr std::string_view SectionUpdate = "update";
inline constexpr std::string_view SectionAction = "action";
inline constexpr std::string_view SectionFiles = "files";
inline constexpr std::string_view SectionFile = "file";
inline constexpr std::string_view SectionApplication = "application";
inline constexpr std::string_view SectionCustom = "custom";
inline constexpr std::string_view SectionEula = "eula";
inline constexpr std::string_view SectionWhatsNew = "whatsnew";

inline constexpr std::array<std::string_view, 8> ControlSectionOrder = {
    SectionUpdate,      SectionAction, SectionFiles, SectionFile,
    SectionApplication, SectionCustom, SectionEula,  SectionWhatsNew};

// [update]: the update condition. signature is written after every other key of the file.
inline constexpr TControlKey UpdateDate{SectionUpdate, "date", cvDate};
inline constexpr TControlKey UpdateTime{SectionUpdate, "time", cvTime};
inline constexpr TControlKey UpdateNewVersion{SectionUpdate, "newversion", cvVersion};
inline constexpr TControlKey UpdateNewSize{SectionUpdate, "newsize", cvInteger, 0};
inline constexpr TControlKey UpdateNewChecksum{SectionUpdate, "newchecksum", cvInteger, -1};
inline constexpr TControlKey UpdateLocalVersion{SectionUpdate, "localversion", cvText};
inline constexpr TControlKey UpdateUnconditional{SectionUpdate, "unconditional", cvTextFlag};
inline constexpr TControlKey UpdateSignature{SectionUpdate, "signature", cvText};
inline constexpr TControlKey UpdateDescr{SectionUpdate, "descr", cvText, 0, {}, false};

// [action]: what the engine shows and runs around the update.
inline constexpr TControlKey ActionMsg{SectionAction, "msg", cvMultiLine};
inline constexpr TControlKey ActionQuery{SectionAction, "query", cvMultiLine};
inline constexpr TControlKey ActionShowUrl{SectionAction, "showurl", cvText};
inline constexpr TControlKey ActionHtmlDlg{SectionAction, "htmldlg", cvText};
inline constexpr TControlKey ActionRunBefore{SectionAction, "runbefore", cvText};
inline constexpr TControlKey ActionRunAfter{SectionAction, "runafter", cvText};
inline constexpr TControlKey ActionUpdateUrl{SectionAction, "updateURL", cvText, 0, {}, false};

// [files]: the number of [fileN] sections.
inline constexpr TControlKey FilesCount{SectionFiles, "count", cvInteger, 0};

// [fileN]: one file of the update. The generator writes them in this order.
inline constexpr TControlKey FileUrl{SectionFile, "url", cvLocation};
inline constexpr TControlKey FileNewVersion{SectionFile, "newversion", cvVersion};
inline constexpr TControlKey FileLocalVersion{SectionFile, "localversion", cvText};
inline constexpr TControlKey FileTargetDir{SectionFile, "targetdir", cvText};
inline constexpr TControlKey FileDescr{SectionFile, "descr", cvText};
inline constexpr TControlKey FileCompressed{SectionFile, "compressed", cvInteger, 0};
inline constexpr TControlKey FileNewSize{SectionFile, "newsize", cvInteger, 0};
inline constexpr TControlKey FileNewChecksum{SectionFile, "newchecksum", cvInteger, -1};
inline constexpr TControlKey FileMandatory{SectionFile, "mandatory", cvIntegerFlag, 0};
// Engine only.
inline constexpr TControlKey FileCustomVersion{SectionFile, "customversion", cvText, 0, {}, false};
inline constexpr TControlKey FileDate{SectionFile, "date", cvDate, 0, {}, false};
inline constexpr TControlKey FileTime{SectionFile, "time", cvTime, 0, {}, false};
inline constexpr TControlKey FileFileSize{SectionFile, "filesize", cvInteger, 0, {}, false};
inline constexpr TControlKey FilePreselect{SectionFile, "preselect", cvIntegerFlag, 1, {}, false};
inline constexpr TControlKey FileHidden{SectionFile, "hidden", cvIntegerFlag, 0, {}, false};

// [application]: restart of the updated application; written only when the project has
// application components.
inline constexpr TControlKey AppUpdate{SectionApplication, "appupdate", cvIntegerFlag, 0};
inline constexpr TControlKey AppName{SectionApplication, "appname", cvText};
inline constexpr TControlKey AppSilentRestart{SectionApplication, "silentrestart", cvIntegerFlag,
                                              0};
inline constexpr TControlKey AppComps{SectionApplication, "appcomps", cvText};
inline constexpr TControlKey AppParam{SectionApplication, "appparam", cvText, 0, {}, false};
// appname value meaning "update, but do not restart".
inline constexpr std::string_view AppNameNoRestart = "null";

// [custom]: values handed to the host program's custom events.
inline constexpr TControlKey CustomProcessMsg{SectionCustom, "processmsg", cvText};
inline constexpr TControlKey CustomProcessParam{SectionCustom, "processparam", cvText};
inline constexpr TControlKey CustomValidateMsg{SectionCustom, "validatemsg", cvText};
inline constexpr TControlKey CustomValidateParam{SectionCustom, "validateparam", cvText};

// [eula] and [whatsnew]: the file key may also come from a section with a language suffix; the
// dialog texts always come from the sections without it.
inline constexpr TControlKey EulaFile{SectionEula, "file", cvLocation};
inline constexpr TControlKey EulaCaption{SectionEula, "caption", cvText, 0, {}, false};
inline constexpr TControlKey EulaOkButton{SectionEula, "okbtn", cvText, 0, "Ok", false};
inline constexpr TControlKey EulaAccept{SectionEula, "accept", cvText, 0, "I accept", false};
inline constexpr TControlKey EulaNotAccept{SectionEula, "notaccept",       cvText,
                                           0,           "I do not accept", false};
inline constexpr TControlKey WhatsNewFile{SectionWhatsNew, "file", cvLocation};
inline constexpr TControlKey WhatsNewCaption{SectionWhatsNew, "caption", cvText, 0, {}, false};
inline constexpr TControlKey WhatsNewOkButton{SectionWhatsNew, "okbtn", cvText, 0, "Ok", false};
inline constexpr TControlKey WhatsNewCancelButton{SectionWhatsNew, "cancelbtn", cvText, 0,
                                                  "Cancel",        false};

// Every key above, grouped by section in ControlSectionOrder; the generated keys of a section in
// the order in which the generator writes them (signature last, as the generator appends it).
// clang-format off
inline constexpr std::array AllKeys = {
    &UpdateDate, &UpdateTime, &UpdateNewVersion, &UpdateNewSize, &UpdateNewChecksum,
    &UpdateLocalVersion, &UpdateUnconditional, &UpdateDescr, &UpdateSignature, &ActionMsg,
    &ActionQuery, &ActionShowUrl, &ActionHtmlDlg, &ActionRunBefore, &ActionRunAfter,
    &ActionUpdateUrl, &FilesCount, &FileUrl, &FileNewVersion, &FileLocalVersion, &FileTargetDir,
    &FileDescr, &FileCompressed, &FileNewSize, &FileNewChecksum, &FileMandatory,
    &FileCustomVersion, &FileDate, &FileTime, &FileFileSize, &FilePreselect, &FileHidden,
    &AppUpdate, &AppName, &AppSilentRestart, &AppComps, &AppParam, &CustomProcessMsg,
    &CustomProcessParam, &CustomValidateMsg, &CustomValidateParam, &EulaFile, &EulaCaption,
    &EulaOkButton, &EulaAccept, &EulaNotAccept, &WhatsNewFile, &WhatsNewCaption, &WhatsNewOkButton,
    &WhatsNewCancelButton};
// clang-format on

// Extension of a control file; its name is the project's display name with this extension.
inline constexpr std::string_view ControlFileExtension = ".INF";

}  // namespace inf

// "file" and 3 give "file3"; sections other than the numbered ones take no number.
std::string FileSection(int number);

// --- value forms -------------------------------------------------------------------------------

// Parses an integer value as readers do: optional blanks are already gone (the INI layer trims);
// an optional sign, then decimal digits, or "$" or "0x"/"0X" and hexadecimal digits. Hexadecimal
// takes up to 32 bits and wraps into the signed range ($FFFFFFFF is -1), since checksums are
// written that way by other tools; decimal must fit a signed 32-bit integer. Returns false for
// anything else (empty text, trailing characters, overflow), and the caller uses its default.
bool ParseControlInteger(std::string_view text, int& value);

// date: dayFirst (the project's datefmt is 0) gives 5/3/2010 for 5 March 2010, else 3/5/2010.
std::string FormatControlDate(TDateTime date, bool dayFirst);
// time: hours and minutes, seconds dropped: 07:04:59 gives 7:4.
std::string FormatControlTime(TDateTime time);

// location: the upload base with "/" added unless it is empty or ends in "/" or "\".
std::string UploadBase(std::string_view base);
// The base as UploadBase gives it followed by the file name part of `path`.
std::string FileLocation(std::string_view base, std::string_view path);

}  // namespace kelvane
