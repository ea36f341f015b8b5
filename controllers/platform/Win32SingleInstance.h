#pragma once

// Plain Win32, no Qt, like Win32Foreground.h.
#include "controllers/platform/Win32Api.h"

namespace win32 {

// Claims `name` (a mutex, "Global\..." for the whole machine) for the rest of the process;
// false when another process holds it, also one of another account that may not open it.
// Objects of the session's own namespace, such as those of QSharedMemory, would allow one copy
// per logon session; a named mutex in the global namespace needs no privilege.
bool claimMachineWide(const wchar_t *name);

// Opens `path` (created when missing) shared with nobody, so that no other process can open it
// while this handle lives; Windows closes it when the process ends. Returns the handle as a
// number, -1 when another process has it open.
long long lockFileExclusively(const wchar_t *path);
void unlockFile(long long handle);

} // namespace win32
