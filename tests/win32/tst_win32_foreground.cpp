// Brings the operator window to the front while a window of another thread or another
// process holds the foreground and the keyboard focus, and compares what an operator would
// notice (the window in front, on top, with the focus, a key typed next reaching it) with what
// each row expects. Runs under Wine on Xvfb.
#include "controllers/platform/Win32Foreground.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

namespace {

const wchar_t kClass[] = L"Q7Win32ForegroundTest";
constexpr WPARAM kKey = '7';
thread_local int g_keys = 0; // keys the windows of the calling thread received

LRESULT CALLBACK countKeys(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_KEYDOWN && wParam == kKey)
        ++g_keys;
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND makeWindow(const wchar_t *title, bool visible) {
    return CreateWindowExW(0, kClass, title, WS_OVERLAPPEDWINDOW | (visible ? WS_VISIBLE : 0), 50, 50, 300,
                           200, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
}

std::string title(HWND window) {
    char text[64] = "none";
    if (window)
        GetWindowTextA(window, text, sizeof text);
    return text;
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
        const auto left = static_cast<LONG>(end - GetTickCount());
        if (left <= 0)
            return false;
        if (MsgWaitForMultipleObjects(handle ? 1 : 0, &handle, FALSE, DWORD(left), QS_ALLINPUT) ==
                WAIT_OBJECT_0 &&
            handle)
            return true;
    }
}

// The other party: a window that takes the foreground and the focus, then counts the keys it
// gets until `quit` is signalled.
int rival(HANDLE ready, HANDLE quit) {
    const HWND window = makeWindow(L"rival", true);
    SetForegroundWindow(window);
    SetFocus(window);
    SetEvent(ready);
    pumpUntil(quit, 600000);
    DestroyWindow(window);
    return g_keys;
}

enum class Rival { None, Thread, Process };

// A rival in another thread of this process or in a child process of this program, which
// inherits the two events.
class RivalParty {
public:
    explicit RivalParty(Rival kind) {
        SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
        ready = CreateEventW(&inherited, TRUE, FALSE, nullptr);
        quit = CreateEventW(&inherited, TRUE, FALSE, nullptr);
        if (kind == Rival::Thread) {
            thread = std::thread([this] { keys = rival(ready, quit); });
        } else if (kind == Rival::Process) {
            wchar_t path[MAX_PATH];
            GetModuleFileNameW(nullptr, path, MAX_PATH);
            std::wstring command = L"\"" + std::wstring(path) + L"\" --rival " +
                                   std::to_wstring(reinterpret_cast<UINT_PTR>(ready)) + L' ' +
                                   std::to_wstring(reinterpret_cast<UINT_PTR>(quit));
            STARTUPINFOW startup{};
            startup.cb = sizeof startup;
            CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                           &process);
        }
        if (kind != Rival::None)
            pumpUntil(ready, 20000);
    }
    ~RivalParty() {
        stop();
        CloseHandle(ready);
        CloseHandle(quit);
    }
    RivalParty(const RivalParty &) = delete;
    RivalParty &operator=(const RivalParty &) = delete;

    // Ends the rival; returns the keys it got.
    int stop() {
        SetEvent(quit);
        if (thread.joinable())
            thread.join();
        if (process.hProcess) {
            WaitForSingleObject(process.hProcess, 20000);
            DWORD code = 0;
            GetExitCodeProcess(process.hProcess, &code);
            keys = static_cast<int>(code);
            CloseHandle(process.hProcess);
            CloseHandle(process.hThread);
            process = {};
        }
        return keys;
    }

private:
    HANDLE ready;
    HANDLE quit;
    int keys = 0;
    std::thread thread;
    PROCESS_INFORMATION process{};
};

struct Row {
    const char *name;
    bool operatorWindow; // otherwise only a hidden helper window, or none
    bool helper;
    Rival rival;
    bool fromWindowThread; // as the service does it; otherwise from a worker thread
    bool passHandle;       // otherwise the process search has to find the window
    bool hidden;           // the operator window is hidden when the call is made
};

const Row kRows[] = {
    {"no window of the process", false, false, Rival::None, false, false, false},
    {"only a hidden helper window", false, true, Rival::None, false, false, false},
    {"rival thread, worker asks", true, true, Rival::Thread, false, true, false},
    {"rival process, worker asks", true, true, Rival::Process, false, true, false},
    {"rival process, window thread asks", true, true, Rival::Process, true, true, false},
    {"rival process, hidden window", true, true, Rival::Process, false, true, true},
    {"rival process, search finds the window", true, true, Rival::Process, false, false, false},
    {"rival process, search keeps the hidden window", true, true, Rival::Process, false, false, true},
};

HWND g_helper = nullptr;
HWND g_operator = nullptr;

// What the operator would notice after the call, as one line.
std::string run(const Row &row) {
    // Like the windows Qt makes for itself (the tray icon's): hidden, top-level.
    if (row.helper && !g_helper)
        g_helper = makeWindow(L"helper", false);
    if (row.operatorWindow && !g_operator)
        g_operator = makeWindow(L"operator", true);
    if (g_operator) {
        SetWindowPos(g_operator, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE);
        ShowWindow(g_operator, row.hidden ? SW_HIDE : SW_SHOWNA);
    }
    g_keys = 0;
    RivalParty party(row.rival);
    const std::string before = title(GetForegroundWindow());

    win32::FrontResult result;
    const HWND handle = row.passHandle ? g_operator : nullptr;
    if (row.fromWindowThread) {
        result = win32::bringToFront(handle);
    } else {
        const HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        std::thread worker([&] {
            result = win32::bringToFront(handle);
            SetEvent(done);
        });
        // The calls send messages to this thread's window: keep dispatching while they run.
        pumpUntil(done, 20000);
        worker.join();
        CloseHandle(done);
    }

    std::string seen = "acted on " + title(result.window) +
                       (result.placed ? ", placed" : ", error " + std::to_string(result.error)) +
                       (g_helper && IsWindowVisible(g_helper) ? "; helper shown" : "");
    if (!row.operatorWindow)
        return seen;
    GUITHREADINFO gui{};
    gui.cbSize = sizeof gui;
    GetGUIThreadInfo(0, &gui);
    seen += "; " + before + " had the front; front " + title(GetForegroundWindow()) + ", focus " +
            title(gui.hwndFocus) + (IsWindowVisible(g_operator) ? "; shown" : "; hidden") +
            (GetWindowLongW(g_operator, GWL_EXSTYLE) & WS_EX_TOPMOST ? ", topmost" : "");
    INPUT keys[2]{};
    keys[0].type = keys[1].type = INPUT_KEYBOARD;
    keys[0].ki.wVk = keys[1].ki.wVk = kKey;
    keys[1].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(2, keys, sizeof(INPUT));
    const bool ours = pumpUntil(nullptr, 3000);
    return seen + "; key to" + (ours ? " the operator" : "") + (party.stop() ? " the rival" : "");
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
        const std::string expected = row.operatorWindow
                                         ? "acted on operator, placed; rival had the front; front "
                                           "operator, focus operator; shown, topmost; key to "
                                           "the operator"
                                         : "acted on none, error 1400";
        const std::string seen = run(row);
        failed += seen != expected;
        std::printf("%s %s\n", seen == expected ? "PASS" : "FAIL", row.name);
        if (seen != expected)
            std::printf("  seen:     %s\n  expected: %s\n", seen.c_str(), expected.c_str());
        std::fflush(stdout);
    }
    std::printf("%d passed, %d failed\n", int(std::size(kRows)) - failed, failed);
    return failed ? 1 : 0;
}
