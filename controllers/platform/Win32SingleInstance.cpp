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

long long lockFileExclusively(const wchar_t *path) {
    const HANDLE file = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    return file == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<long long>(file);
}

void unlockFile(long long handle) {
    CloseHandle(reinterpret_cast<HANDLE>(handle));
}

} // namespace win32
