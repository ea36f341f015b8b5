#pragma once

// Makes the operator window loadable: its resources ("qrc:/main.qml" and its assets) and
// the C++ types it may use ("QSystemTrayIcon" 1.0). Call in the GUI thread, after the
// application object exists and before loading the window; later calls do nothing.
void registerWindowTypes();

// Starts, on a pool thread, the one-off work the window's creation would otherwise do on the
// GUI thread: reading the system's fonts and finding the image formats. Loading the window's
// QML imports keeps the GUI thread waiting meanwhile, so on a machine with two cores the
// window is created that much sooner.
void warmUpWindowResources();
