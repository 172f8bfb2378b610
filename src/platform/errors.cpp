#include "platform/errors.h"

namespace kelvane {

void RaiseUnableToWrite(const std::string& path) { throw EInOutError("Unable to write to " + path); }

}  // namespace kelvane
