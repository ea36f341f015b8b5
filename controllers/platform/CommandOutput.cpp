#include "controllers/platform/CommandOutput.h"

#ifdef Q_OS_WIN
#include "controllers/platform/Win32Console.h"
#else
#include <cstdio>
#endif

namespace platform {

void print(const QString &text, bool error) {
    const QByteArray bytes = text.toLocal8Bit();
#ifdef Q_OS_WIN
    win32::writeOutput(error, reinterpret_cast<const wchar_t *>(text.utf16()),
                       static_cast<std::size_t>(text.size()), bytes.constData(),
                       static_cast<std::size_t>(bytes.size()));
#else
    std::FILE *stream = error ? stderr : stdout;
    std::fputs(bytes.constData(), stream);
    std::fflush(stream);
#endif
}

} // namespace platform
