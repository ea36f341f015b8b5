#pragma once

#include <QString>

namespace platform {

// A command's answer (--version, --verificar, ...) where the technician reads it: standard
// output, or standard error, in the machine's 8-bit encoding. On Windows the service is a
// program of the GUI subsystem: started from a console, it writes to that console.
void print(const QString &text, bool error = false);

} // namespace platform
