#include "controllers/platform/DurableFile.h"

#include "base/Log.h"

#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QSet>

#ifdef Q_OS_WIN
#include "controllers/platform/Win32Files.h"

#include <QDir>
#else
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace platform {

bool syncFile(QFileDevice &file) {
    if (!file.flush())
        return false;
#ifdef Q_OS_WIN
    return win32::flushFile(file.handle());
#else
    return ::fsync(file.handle()) == 0;
#endif
}

namespace {

// Creates `path` anew (what stands under that name goes first, a link itself and never its
// target), writes `bytes` and flushes them to the disk.
bool writeNew(const QString &path, const QByteArray &bytes, QString *error) {
    QFile::remove(path);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        *error = file.errorString();
        return false;
    }
    bool whole = file.write(bytes) == bytes.size() && syncFile(file);
    *error = file.errorString();
    file.close();
    // A full disk can leave a short file behind writes that seemed to succeed.
    if (whole && QFileInfo(path).size() != bytes.size()) {
        whole = false;
        *error = QStringLiteral("gravação incompleta (disco cheio?)");
    }
    if (!whole)
        QFile::remove(path);
    return whole;
}

} // namespace

// Where a directory cannot be synced (a share), nothing else would do better: the technician is
// told, once a directory.
void syncDirectory(const QString &path) {
#ifdef Q_OS_WIN
    Q_UNUSED(path)
#else
    const QString directory = QFileInfo(path).absolutePath();
    const int fd = ::open(QFile::encodeName(directory).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool synced = fd >= 0 && ::fsync(fd) == 0;
    const int error = errno;
    if (fd >= 0)
        ::close(fd);
    static QMutex mutex;
    static QSet<QString> told;
    const QMutexLocker locker(&mutex);
    if (synced || told.contains(directory))
        return;
    told.insert(directory);
    Log().critical(QStringLiteral("[DurableFile] O disco de %1 não confirma as gravações (%2): uma queda de "
                                  "energia pode perder respostas e transações; use um disco local")
                       .arg(directory, qt_error_string(error)));
#endif
}

bool renameDurably(const QString &from, const QString &to, bool replace, QString *error) {
#ifdef Q_OS_WIN
    const QString source = QDir::toNativeSeparators(from);
    const QString target = QDir::toNativeSeparators(to);
    if (!win32::moveFileWriteThrough(reinterpret_cast<const wchar_t *>(source.utf16()),
                                     reinterpret_cast<const wchar_t *>(target.utf16()), replace)) {
        *error = qt_error_string();
        return false;
    }
#else
    if (replace) {
        // Over the old file in one step: at no instant is there no file under that name.
        if (std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) != 0) {
            *error = qt_error_string(errno);
            return false;
        }
    } else {
        QFile file(from);
        if (!file.rename(to)) {
            *error = file.errorString();
            return false;
        }
    }
#endif
    syncDirectory(to);
    return true;
}

bool removeDurably(const QString &path) {
    if (!QFile::remove(path))
        return false;
    syncDirectory(path);
    return true;
}

bool writeDurably(const QString &path, const QByteArray &bytes, QString *error) {
    const QString temporary = path + QStringLiteral(".novo");
    if (writeNew(temporary, bytes, error) && renameDurably(temporary, path, true, error))
        return true;
    QFile::remove(temporary);
    return false;
}

} // namespace platform
