// What Windows and a sales application do to the service, for the Windows lane under Wine:
// "endsession" sends WM_QUERYENDSESSION and WM_ENDSESSION to the service's stop window and
// returns when its handler has, as Windows waits for it; "close" posts WM_CLOSE, as taskkill
// without /F does; "hold FILE" keeps FILE open (sharing read and write, not delete) until stdin
// closes. Exit status 0 when the window was found and the session allowed to end.
#include "controllers/platform/Win32SessionEnd.h"

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t **argv) {
    const auto is = [&](const wchar_t *command) {
        return argc >= 2 && std::wcscmp(argv[1], command) == 0;
    };
    if (is(L"hold") && argc == 3) {
        const HANDLE file = CreateFileW(argv[2], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        std::printf(file == INVALID_HANDLE_VALUE ? "not held\n" : "held\n");
        std::fflush(stdout);
        while (std::getchar() != EOF) {
        }
        return file == INVALID_HANDLE_VALUE;
    }
    const HWND window = FindWindowW(win32::kStopWindowClass, nullptr);
    if (!window || !(is(L"close") || is(L"endsession"))) {
        std::printf(window ? "usage: stop_sender endsession|close|hold FILE\n" : "no stop window\n");
        return 1;
    }
    if (is(L"close")) {
        std::printf("close posted\n");
        return !PostMessageW(window, WM_CLOSE, 0, 0);
    }
    DWORD_PTR allowed = 0;
    if (!SendMessageTimeoutW(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_NORMAL, 10000, &allowed))
        return 1;
    const DWORD started = GetTickCount();
    SendMessageW(window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
    std::printf("query answered %lu; WM_ENDSESSION returned after %lu ms\n",
                static_cast<unsigned long>(allowed), GetTickCount() - started);
    return allowed ? 0 : 1;
}
