// What Windows and a sales application do to the service, for the Windows lane under Wine:
//   stop_sender endsession   the end of the session, as Windows tells it to every top-level
//                            window: WM_QUERYENDSESSION, then WM_ENDSESSION; returns when the
//                            service's handler has returned, as Windows waits for it
//   stop_sender close        a polite close, as taskkill without /F sends it
//   stop_sender hold FILE    keeps FILE open as a sales application reading it does (sharing
//                            read and write, not delete) until stdin closes
// Prints what it did; exit status 0 when the service's window was found and answered.
#include "controllers/platform/Win32SessionEnd.h"

#include <cstdio>
#include <cstring>
#include <cwchar>

namespace {

int hold(const wchar_t *file) {
    const HANDLE handle = CreateFileW(file, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        std::printf("open failed: %lu\n", GetLastError());
        return 1;
    }
    std::printf("held\n");
    std::fflush(stdout);
    char byte;
    while (std::fread(&byte, 1, 1, stdin) == 1) {
    }
    CloseHandle(handle);
    return 0;
}

} // namespace

int wmain(int argc, wchar_t **argv) {
    if (argc == 3 && std::wcscmp(argv[1], L"hold") == 0)
        return hold(argv[2]);
    const bool endSession = argc == 2 && std::wcscmp(argv[1], L"endsession") == 0;
    if (!endSession && !(argc == 2 && std::wcscmp(argv[1], L"close") == 0)) {
        std::printf("usage: stop_sender endsession|close|hold FILE\n");
        return 2;
    }
    const HWND window = FindWindowW(win32::kStopWindowClass, nullptr);
    if (!window) {
        std::printf("no window of class Q7PagoraPassivoStop\n");
        return 1;
    }
    if (!endSession) {
        PostMessageW(window, WM_CLOSE, 0, 0);
        std::printf("close posted\n");
        return 0;
    }
    DWORD_PTR allowed = 0;
    if (!SendMessageTimeoutW(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_NORMAL, 10000,
                             &allowed)) {
        std::printf("WM_QUERYENDSESSION unanswered: %lu\n", GetLastError());
        return 1;
    }
    const DWORD started = GetTickCount();
    // Windows waits for the handler too, however long it takes (then offers to end the program).
    SendMessageW(window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
    std::printf("query answered %lu; WM_ENDSESSION returned after %lu ms\n",
                static_cast<unsigned long>(allowed), GetTickCount() - started);
    return allowed ? 0 : 1;
}
