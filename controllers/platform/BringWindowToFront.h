#pragma once

namespace platform {

// Brings the process's operator window to the front and keeps it on top. Safe to call
// from any thread: the work is queued to the GUI thread, which owns the window. Logs
// "[Base_Controller] g_HWND is null" (debug) when no window of the process is known, then
// "[Base_Controller] Janela travada no front" (info) on success or
// "[Base_Controller] Erro ao ativar janela no front: <code>" (critical). Never fails outward.
void bringWindowToFront();

} // namespace platform
