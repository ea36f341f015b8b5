#include "controllers/platform/DirectoryLock.h"

#include <QFile>

#ifdef Q_OS_WIN
#include "controllers/platform/Win32SingleInstance.h"

#include <QDir>
#include <QFileInfo>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace platform {

DirectoryLock::DirectoryLock(const QString &path, bool readableByAll) {
#ifdef Q_OS_WIN
    Q_UNUSED(readableByAll) // Windows shares the file with nobody while it is held
    const QString native = QDir::toNativeSeparators(path);
    m_handle = win32::lockFileExclusively(reinterpret_cast<const wchar_t *>(native.utf16()));
#else
    const QByteArray name = QFile::encodeName(path);
    // Never through a link someone planted in a directory others can write.
    const int mode = readableByAll ? 0644 : 0660;
    int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, mode);
    // A file another account left: flock() needs no write access.
    if (fd < 0 && errno == EACCES)
        fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return;
    if (readableByAll)
        static_cast<void>(::fchmod(fd, mode)); // despite the umask; only its owner can, as needed
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

bool DirectoryLock::setNote(const QByteArray &text) {
#ifdef Q_OS_WIN
    Q_UNUSED(text)
    return false;
#else
    const int fd = static_cast<int>(m_handle);
    return locked() && ::ftruncate(fd, 0) == 0 &&
           ::pwrite(fd, text.constData(), size_t(text.size()), 0) == ssize_t(text.size());
#endif
}

bool DirectoryLock::heldElsewhere(const QString &path) {
#ifdef Q_OS_WIN
    return QFileInfo::exists(path) && !DirectoryLock(path).locked();
#else
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return errno != ENOENT;
    const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
    ::close(fd);
    return held;
#endif
}

QByteArray DirectoryLock::noteOf(const QString &path) {
#ifdef Q_OS_WIN
    Q_UNUSED(path)
    return QByteArray();
#else
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return QByteArray();
    char head[32];
    const ssize_t got = ::read(fd, head, sizeof head);
    ::close(fd);
    return got > 0 ? QByteArray(head, int(got)) : QByteArray();
#endif
}

} // namespace platform
