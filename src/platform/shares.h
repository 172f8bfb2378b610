#pragma once
// The share layer: how a UNC name (\\server\share\folder\file) reaches the file system. Here a
// share is reachable when it is mounted (a CIFS/SMB mount in /proc/self/mounts, a desktop gvfs
// mount, or a folder registered with RegisterShareMount); its paths then work as plain folders.
// A UNC name no layer can reach is refused: it is never turned into a local folder of that name.
#include <string>
#include <string_view>

namespace kelvane {

// The share part of a UNC name: "\\server\share" (either slash accepted). Empty for other paths.
std::string ShareOfUncPath(std::string_view path);

// Maps a path to the local file system. Non-UNC paths come back unchanged (true); a UNC name
// becomes mount folder + rest with "/" (true), or false when its share is not reachable.
bool ResolveSharePath(std::string_view path, std::string& local);

// "Connecting" a share: true when it is reachable now. Credentials belong to the mount itself,
// so user and password are only checked to be consistent; `reason` says why a share failed.
bool ConnectShare(std::string_view share, std::string_view user, std::string_view password,
                  std::string& reason);
// Releases what ConnectShare took (nothing for mounts made by the system). False when the share
// is not reachable at all.
bool DisconnectShare(std::string_view share);

// Makes `folder` serve as the mount of `share` (\\server\share), for this process.
void RegisterShareMount(std::string_view share, const std::string& folder);
void UnregisterShareMount(std::string_view share);

}  // namespace kelvane
