#include "controllers/platform/Win32SingleInstance.h"

namespace win32 {

bool claimMachineWide(const wchar_t *name) {
    // Kept open until the process ends; Windows closes it then, also after a kill.
    const HANDLE mutex = CreateMutexW(nullptr, FALSE, name);
    const DWORD error = GetLastError();
    if (!mutex)
        return error != ERROR_ACCESS_DENIED;
    if (error == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        return false;
    }
    return true;
}

} // namespace win32
