#include "controllers/platform/Win32Console.h"

#include "controllers/platform/Win32Api.h"

namespace win32 {

namespace {

HANDLE outputHandle(bool error) {
    const DWORD which = error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE;
    HANDLE handle = GetStdHandle(which);
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE)
        return handle;
    static const bool attached = AttachConsole(ATTACH_PARENT_PROCESS) != 0;
    if (!attached)
        return nullptr;
    handle = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return nullptr;
    SetStdHandle(which, handle);
    return handle;
}

} // namespace

bool writeOutput(bool error, const wchar_t *text, std::size_t length, const char *bytes, std::size_t size) {
    const HANDLE handle = outputHandle(error);
    if (handle == nullptr)
        return false;
    DWORD mode = 0;
    DWORD written = 0;
    if (GetConsoleMode(handle, &mode))
        return WriteConsoleW(handle, text, static_cast<DWORD>(length), &written, nullptr) != 0;
    return WriteFile(handle, bytes, static_cast<DWORD>(size), &written, nullptr) != 0;
}

} // namespace win32
