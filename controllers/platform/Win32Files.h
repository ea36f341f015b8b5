#pragma once

// Plain Win32, no Qt, like Win32Foreground.h.
namespace win32 {

// FlushFileBuffers() of the file behind a C runtime descriptor.
bool flushFile(int descriptor);
// MoveFileExW() that returns once the rename is on the disk.
bool moveFileWriteThrough(const wchar_t *from, const wchar_t *to, bool replace);

} // namespace win32
