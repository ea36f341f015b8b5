// Brings the operator window to the front while a window of another process holds the
// foreground and the keyboard focus, then checks foreground, topmost, focus and that a key
// typed next reaches the operator window. Runs under Wine on Xvfb.
#include "controllers/platform/Win32Foreground.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

const wchar_t kClass[] = L"Q7Win32ForegroundTest";
constexpr WPARAM kKey = '7';
int g_keys = 0; // keys the windows of this process received

LRESULT CALLBACK countKeys(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_KEYDOWN && wParam == kKey)
        ++g_keys;
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND makeWindow(const wchar_t *title, bool visible) {
    return CreateWindowExW(0, kClass, title, WS_OVERLAPPEDWINDOW | (visible ? WS_VISIBLE : 0), 50, 50, 300,
                           200, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
}

// Dispatches this thread's messages until `handle` is signalled (or, without one, until a key
// has arrived) or `ms` have passed.
bool pumpUntil(HANDLE handle, DWORD ms) {
    const DWORD end = GetTickCount() + ms;
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (!handle && g_keys > 0)
            return true;
        const DWORD left = ms == INFINITE ? INFINITE : end - GetTickCount();
        if (ms != INFINITE && static_cast<LONG>(left) <= 0)
            return false;
        if (MsgWaitForMultipleObjects(handle ? 1 : 0, &handle, FALSE, left, QS_ALLINPUT) == WAIT_OBJECT_0 &&
            handle)
            return true;
    }
}

// The rival: this program in a child process, with a window that takes the foreground and the
// focus, then counts the keys it gets until the parent signals `quit`; its exit code is that count.
class Rival {
public:
    explicit Rival(bool wanted) {
        if (!wanted)
            return;
        SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE}; // handed down to the rival
        ready = CreateEventW(&inherited, TRUE, FALSE, nullptr);
        quit = CreateEventW(&inherited, TRUE, FALSE, nullptr);
        wchar_t path[MAX_PATH];
        GetModuleFileNameW(nullptr, path, MAX_PATH);
        std::wstring command = L"\"" + std::wstring(path) + L"\" --rival " +
                               std::to_wstring(reinterpret_cast<UINT_PTR>(ready)) + L" " +
                               std::to_wstring(reinterpret_cast<UINT_PTR>(quit));
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
        pumpUntil(ready, 20000);
    }
    ~Rival() { stop(); }
    Rival(const Rival &) = delete;
    Rival &operator=(const Rival &) = delete;

    // Ends the rival; returns the keys it got.
    DWORD stop() {
        DWORD keys = 0;
        if (!quit)
            return keys;
        SetEvent(quit);
        WaitForSingleObject(process.hProcess, 20000);
        GetExitCodeProcess(process.hProcess, &keys);
        for (HANDLE handle : {process.hProcess, process.hThread, ready, quit})
            CloseHandle(handle);
        quit = nullptr;
        return keys;
    }
    bool holdsForeground() const {
        DWORD pid = 0;
        GetWindowThreadProcessId(GetForegroundWindow(), &pid);
        return pid == process.dwProcessId;
    }

private:
    HANDLE ready = nullptr;
    HANDLE quit = nullptr;
    PROCESS_INFORMATION process{};
};

int rival(HANDLE ready, HANDLE quit) {
    const HWND window = makeWindow(L"rival", true);
    SetForegroundWindow(window);
    SetFocus(window);
    SetEvent(ready);
    pumpUntil(quit, INFINITE);
    DestroyWindow(window);
    return g_keys;
}

enum class Windows { None, HelperOnly, Operator };

struct Row {
    const char *name;
    Windows windows;
    bool fromWindowThread; // as the service does it; otherwise from a worker thread
    bool passHandle;       // otherwise the process search has to find the window
    bool hidden;           // the operator window is hidden when the call is made
};

const Row kRows[] = {
    {"no window of the process", Windows::None, false, false, false},
    {"only a hidden helper window", Windows::HelperOnly, false, false, false},
    {"worker asks", Windows::Operator, false, true, false},
    {"window thread asks", Windows::Operator, true, true, false},
    {"hidden window", Windows::Operator, false, true, true},
    {"search finds the window", Windows::Operator, false, false, false},
    {"search keeps the hidden window", Windows::Operator, false, false, true},
};

HWND g_helper = nullptr;
HWND g_operator = nullptr;

std::string check(const Row &row) {
    // Like the windows Qt makes for itself (the tray icon's): hidden, top-level.
    if (row.windows != Windows::None && !g_helper)
        g_helper = makeWindow(L"helper", false);
    if (g_helper)
        ShowWindow(g_helper, SW_HIDE);
    if (row.windows == Windows::Operator && !g_operator)
        g_operator = makeWindow(L"operator", true);
    if (g_operator) {
        SetWindowPos(g_operator, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE);
        ShowWindow(g_operator, row.hidden ? SW_HIDE : SW_SHOWNA);
    }

    g_keys = 0;
    Rival party(row.windows == Windows::Operator);
    if (row.windows == Windows::Operator && !party.holdsForeground())
        return "the rival did not get the foreground";

    const HWND handle = row.passHandle ? g_operator : nullptr;
    win32::FrontResult result;
    auto ask = [&] {
        result = win32::bringToFront(handle);
    };
    if (row.fromWindowThread) {
        ask();
    } else {
        const HANDLE worker = CreateThread(
            nullptr, 0,
            [](LPVOID function) -> DWORD {
                (*static_cast<decltype(ask) *>(function))();
                return 0;
            },
            &ask, 0, nullptr);
        // The calls send messages to this thread's window: keep dispatching while they run.
        pumpUntil(worker, 20000);
        CloseHandle(worker);
    }

    if (row.windows != Windows::Operator) {
        if (result.window || result.placed || result.error != ERROR_INVALID_WINDOW_HANDLE)
            return "expected no window and error 1400, got error " + std::to_string(result.error);
        return IsWindowVisible(g_helper) ? "the hidden helper window was shown" : "";
    }
    if (result.window != g_operator)
        return "acted on another window than the operator window";
    if (!result.placed)
        return "SetWindowPos failed with " + std::to_string(result.error);
    if (!IsWindowVisible(g_operator) || !(GetWindowLongW(g_operator, GWL_EXSTYLE) & WS_EX_TOPMOST))
        return "not visible and topmost";
    if (GetForegroundWindow() != g_operator)
        return "another window has the foreground";
    GUITHREADINFO gui{};
    gui.cbSize = sizeof gui;
    if (!GetGUIThreadInfo(0, &gui) || gui.hwndFocus != g_operator)
        return "another window has the keyboard focus";
    if (IsWindowVisible(g_helper))
        return "the hidden helper window was shown";

    INPUT keys[2]{};
    keys[0].type = keys[1].type = INPUT_KEYBOARD;
    keys[0].ki.wVk = keys[1].ki.wVk = kKey;
    keys[1].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(2, keys, sizeof(INPUT));
    if (!pumpUntil(nullptr, 3000))
        return "the key did not reach the operator window";
    return party.stop() ? "the key also reached the rival" : "";
}

} // namespace

int main(int argc, char **argv) {
    WNDCLASSW windowClass{0,       countKeys, 0,       0,       GetModuleHandleW(nullptr),
                          nullptr, nullptr,   nullptr, nullptr, kClass};
    RegisterClassW(&windowClass);

    if (argc == 4 && std::strcmp(argv[1], "--rival") == 0)
        return rival(reinterpret_cast<HANDLE>(std::stoull(argv[2])),
                     reinterpret_cast<HANDLE>(std::stoull(argv[3])));

    int failed = 0;
    for (const Row &row : kRows) {
        const std::string failure = check(row);
        failed += !failure.empty();
        std::printf("%s %s%s%s\n", failure.empty() ? "PASS" : "FAIL", row.name, failure.empty() ? "" : ": ",
                    failure.c_str());
        std::fflush(stdout);
    }
    std::printf("%d passed, %d failed\n", int(std::size(kRows)) - failed, failed);
    return failed ? 1 : 0;
}
