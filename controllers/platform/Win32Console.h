#pragma once

#include <cstddef>

// Plain Win32, no Qt, like Win32Foreground.h.
namespace win32 {

// A command's answer from a program of the GUI subsystem: to standard output (or error) as
// inherited when redirected, else to the console of the process that started it, which such a
// program does not get on its own. A console gets `text` as UTF-16, so that accents survive its
// code page; a file or pipe gets `bytes`. False when there is nowhere to write.
bool writeOutput(bool error, const wchar_t *text, std::size_t length, const char *bytes, std::size_t size);

} // namespace win32
