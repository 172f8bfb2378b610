#include "platform/messages.h"

#include <utility>

namespace kelvane {

namespace {
TProcessMessages& Callback() {
  static TProcessMessages callback;
  return callback;
}
}  // namespace

void SetProcessMessages(TProcessMessages callback) { Callback() = std::move(callback); }

void ProcessMessages() {
  if (Callback()) Callback()();
}

}  // namespace kelvane
