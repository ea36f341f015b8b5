// Brings the operator window to the front while a window of another thread or another
// process holds the foreground and the keyboard focus, then checks foreground, topmost,
// focus and that a key typed next reaches the operator window. Runs under Wine on Xvfb.
#include "controllers/platform/Win32Foreground.h"

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

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
        const DWORD left = ms == INFINITE ? INFINITE : end - GetTickCount();
        if (ms != INFINITE && static_cast<LONG>(left) <= 0)
            return false;
        if (MsgWaitForMultipleObjects(handle ? 1 : 0, &handle, FALSE, left, QS_ALLINPUT) == WAIT_OBJECT_0 &&
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
    pumpUntil(quit, INFINITE);
    DestroyWindow(window);
    return g_keys;
}

// Runs `f` in a new thread; the handle is signalled when it ends.
template <typename F> HANDLE startThread(F &f) {
    return CreateThread(
        nullptr, 0,
        [](LPVOID function) -> DWORD {
            (*static_cast<F *>(function))();
            return 0;
        },
        &f, 0, nullptr);
}

std::wstring eventName(const char *what, DWORD pid) {
    return L"Q7Win32ForegroundTest_" + std::wstring(what, what + std::strlen(what)) + L"_" +
           std::to_wstring(pid);
}

enum class Rival { None, Thread, Process };

// A rival running in another thread of this process or in a child process of this program.
class RivalParty {
public:
    explicit RivalParty(Rival kind)
        : kind(kind) {
        if (kind == Rival::None)
            return;
        const DWORD pid = GetCurrentProcessId();
        ready = CreateEventW(nullptr, TRUE, FALSE, eventName("ready", pid).c_str());
        quit = CreateEventW(nullptr, TRUE, FALSE, eventName("quit", pid).c_str());
        wchar_t path[MAX_PATH];
        GetModuleFileNameW(nullptr, path, MAX_PATH);
        std::wstring command = L"\"" + std::wstring(path) + L"\" --rival " + std::to_wstring(pid);
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        if (kind == Rival::Thread)
            thread = startThread(runRival);
        else
            CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                           &process);
        pumpUntil(ready, 20000);
    }
    ~RivalParty() { stop(); }

    // Ends the rival; returns the keys it got.
    int stop() {
        if (kind == Rival::None || !quit)
            return keys;
        SetEvent(quit);
        if (thread) {
            WaitForSingleObject(thread, 20000);
            CloseHandle(thread);
        }
        if (process.hProcess) {
            WaitForSingleObject(process.hProcess, 20000);
            DWORD code = 0;
            GetExitCodeProcess(process.hProcess, &code);
            keys = static_cast<int>(code);
            CloseHandle(process.hProcess);
            CloseHandle(process.hThread);
        }
        CloseHandle(ready);
        CloseHandle(quit);
        quit = nullptr;
        return keys;
    }
    RivalParty(const RivalParty &) = delete;
    RivalParty &operator=(const RivalParty &) = delete;

    bool holdsForeground() const {
        DWORD pid = 0;
        const DWORD thread = GetWindowThreadProcessId(GetForegroundWindow(), &pid);
        if (kind == Rival::Thread)
            return thread == GetThreadId(this->thread);
        return kind == Rival::Process && pid == process.dwProcessId;
    }

private:
    const Rival kind;
    HANDLE ready = nullptr;
    HANDLE quit = nullptr;
    int keys = 0;
    std::function<void()> runRival = [this] {
        keys = rival(ready, quit);
    };
    HANDLE thread = nullptr;
    PROCESS_INFORMATION process{};
};

enum class Windows { None, HelperOnly, Operator };

struct Row {
    const char *name;
    Windows windows;
    Rival rival;
    bool fromWindowThread; // as the service does it; otherwise from a worker thread
    bool passHandle;       // otherwise the process search has to find the window
    bool hidden;           // the operator window is hidden when the call is made
};

const Row kRows[] = {
    {"no window of the process", Windows::None, Rival::None, false, false, false},
    {"only a hidden helper window", Windows::HelperOnly, Rival::None, false, false, false},
    {"rival thread, worker asks", Windows::Operator, Rival::Thread, false, true, false},
    {"rival process, worker asks", Windows::Operator, Rival::Process, false, true, false},
    {"rival process, window thread asks", Windows::Operator, Rival::Process, true, true, false},
    {"rival process, hidden window", Windows::Operator, Rival::Process, false, true, true},
    {"rival process, search finds the window", Windows::Operator, Rival::Process, false, false, false},
    {"rival process, search keeps the hidden window", Windows::Operator, Rival::Process, false, false, true},
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
    RivalParty party(row.rival);
    if (row.rival != Rival::None && !party.holdsForeground())
        return "the rival did not get the foreground, " + title(GetForegroundWindow()) + " has it";

    const HWND handle = row.passHandle ? g_operator : nullptr;
    win32::FrontResult result;
    if (row.fromWindowThread) {
        result = win32::bringToFront(handle);
    } else {
        auto ask = [&] {
            result = win32::bringToFront(handle);
        };
        const HANDLE worker = startThread(ask);
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
    if (!IsWindowVisible(g_operator))
        return "not visible";
    if (!(GetWindowLongW(g_operator, GWL_EXSTYLE) & WS_EX_TOPMOST))
        return "not topmost";
    if (GetForegroundWindow() != g_operator)
        return "the foreground window is " + title(GetForegroundWindow());
    GUITHREADINFO gui{};
    gui.cbSize = sizeof gui;
    if (!GetGUIThreadInfo(0, &gui) || gui.hwndFocus != g_operator)
        return "the keyboard focus is on " + title(gui.hwndFocus);
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

    if (argc == 3 && std::strcmp(argv[1], "--rival") == 0) {
        const DWORD parent = std::stoul(argv[2]);
        const HANDLE ready = OpenEventW(EVENT_ALL_ACCESS, FALSE, eventName("ready", parent).c_str());
        const HANDLE quit = OpenEventW(EVENT_ALL_ACCESS, FALSE, eventName("quit", parent).c_str());
        return ready && quit ? rival(ready, quit) : 255;
    }

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
