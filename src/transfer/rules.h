#pragma once
// The path and URL rules every transfer kind shares. Internal to transfer/ (and its tests).
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

#include "platform/datetime.h"

namespace kelvane::transfer {

// Everything after the last "/", then after the last "\".
std::string FileNameOf(std::string_view urlOrPath);
// Folder and name with exactly one separator between them. Local paths here use "/"; a folder
// that already ends in "/" or "\" (a UNC folder) gets no second separator.
std::string JoinPath(std::string_view folder, std::string_view name);
// Creates the folder and every missing parent. True when the folder exists at the end.
bool CreateFolders(std::string path);
// "report.txt" -> "report(1).txt", "report(2).txt", ... the first name no file has.
std::string UniqueName(const std::string& path);
// Every "\" becomes "/".
std::string Slashes(std::string_view text);
// http:// URLs get "user:password@" after the scheme when both are set.
std::string ApplyProxyCredentials(std::string_view url, std::string_view user,
                                  std::string_view password);
std::string UrlHost(std::string_view url);           // server[:port], no user part, no path
std::string UrlPath(std::string_view url);           // from the first "/" after the server
std::string LoginCaptionHost(std::string_view url);  // for "Connect to <host>"
// "Authorization: Basic <base64(user:password)>" with each character's low 8 bits; empty when
// user and password are both empty.
std::string BasicAuthorization(std::string_view user, std::string_view password);
std::string Base64(std::string_view bytes);

// A calendar time taken as it is (no time-zone conversion) as a TDateTime.
TDateTime CalendarToDateTime(std::time_t utc);
// Seconds since 1970 as a Windows FILETIME (100 ns since 1601).
std::uint64_t UnixToFileTime(std::time_t t);

// "name:port" -> name and port; a missing or bad port gives `defaultPort`.
void SplitHostPort(std::string_view host, int defaultPort, std::string& name, int& port);

}  // namespace kelvane::transfer
