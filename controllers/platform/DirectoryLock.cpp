#include "controllers/platform/DirectoryLock.h"

#include <QFile>

#ifdef Q_OS_WIN
#include "controllers/platform/Win32SingleInstance.h"

#include <QDir>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace platform {

DirectoryLock::DirectoryLock(const QString &path) {
#ifdef Q_OS_WIN
    const QString native = QDir::toNativeSeparators(path);
    m_handle = win32::lockFileExclusively(reinterpret_cast<const wchar_t *>(native.utf16()));
#else
    const QByteArray name = QFile::encodeName(path);
    // Never through a link someone planted in a directory others can write.
    const int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0660);
    if (fd < 0)
        return;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return;
    }
    m_handle = fd;
#endif
}

DirectoryLock::~DirectoryLock() {
    if (!locked())
        return;
#ifdef Q_OS_WIN
    win32::unlockFile(m_handle);
#else
    ::close(static_cast<int>(m_handle));
#endif
}

} // namespace platform
