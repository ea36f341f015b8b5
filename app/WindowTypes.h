#pragma once

// Makes the operator window loadable: its resources ("qrc:/main.qml" and its assets) and
// the C++ types it may use ("QSystemTrayIcon" 1.0). Call in the GUI thread, after the
// application object exists and before loading the window; later calls do nothing.
void registerWindowTypes();
