#pragma once
// One thread does everything; long work lets the window process pending messages at the points
// the design names, so a cancel click can arrive. The editor installs a callback that runs
// QCoreApplication::processEvents; compile mode and tests leave it empty.
#include <functional>

namespace kelvane {

using TProcessMessages = std::function<void()>;

void SetProcessMessages(TProcessMessages callback);
void ProcessMessages();  // runs the installed callback, if any

}  // namespace kelvane
