#pragma once
// Internal: the version reader on an open file descriptor (the one-pass facts reader uses it).
#include <cstdint>

#include "filefacts/filefacts.h"

namespace kelvane {

bool ReadVersionFromFile(int fd, std::uint64_t fileSize, TFileVersion& version);

}  // namespace kelvane
