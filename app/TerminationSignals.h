#pragma once

#include <functional>

// On Unix, SIGTERM, SIGINT and SIGHUP end the event loop normally (exit code 0), so the service
// shuts down as if "Sair" had been confirmed: the slot is freed and the library unloaded.
// On Windows a polite close (taskkill without /F) does the same, and the end of the session
// runs `stopNow` (what the event loop's end leads to) before Windows may end the process,
// then ends the loop. Call once, after the application object exists, in its thread.
void quitOnTerminationSignals(std::function<void()> stopNow = {});
