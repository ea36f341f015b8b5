#pragma once

// On Unix, SIGTERM, SIGINT and SIGHUP end the event loop normally (exit code 0), so the service
// shuts down as if "Sair" had been confirmed: the slot is freed and the library unloaded.
// Elsewhere this does nothing. Call once, after the application object exists.
void quitOnTerminationSignals();
