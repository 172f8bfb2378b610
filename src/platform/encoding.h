#pragma once
// Text crosses the program's edge in Windows-1252 (the "ANSI code page" of the files that Windows
// machines exchange with us); inside the program it is UTF-8.
#include <string>
#include <string_view>

namespace kelvane {

// UTF-8 to Windows-1252. A character the code page lacks becomes '?'; invalid UTF-8 bytes too.
std::string Utf8ToAnsi(std::string_view utf8);

// Windows-1252 to UTF-8. The five bytes the code page leaves undefined (0x81, 0x8D, 0x8F, 0x90,
// 0x9D) map to the C1 controls of the same number, as Windows does, so nothing is lost.
std::string AnsiToUtf8(std::string_view ansi);

// True when every character of the UTF-8 text has a Windows-1252 byte.
bool IsAnsiRepresentable(std::string_view utf8);

}  // namespace kelvane
