#pragma once

#include <QString>

#include <memory>

#ifdef Q_OS_WIN
#include <QSharedMemory>
#include <QSystemSemaphore>
#else
namespace platform {
class DirectoryLock;
}
#endif

// Allows one running service per machine. On Windows the holder keeps an 8-byte shared-memory
// segment attached, and a system semaphore serialises every attach, detach and create. Elsewhere
// the slot is an flock() on a file of the temporary directory: System V objects outlive a killed
// holder, and their ftok() keys, made from 16 bits of an inode, meet those of unrelated directories.
class SingleInstanceGuard {
public:
    explicit SingleInstanceGuard(const QString &id);
    ~SingleInstanceGuard();

    SingleInstanceGuard(const SingleInstanceGuard &) = delete;
    SingleInstanceGuard &operator=(const SingleInstanceGuard &) = delete;

    bool isAnotherRunning();
    bool tryToRun();
    void release();
    // The PID of the copy that holds the slot, as it wrote it; empty when unknown.
    QString holder() const { return m_holder; }

    // SHA-1 of the UTF-8 bytes of id + suffix, as 40 lower-case hex digits.
    static QString generateKeyHash(const QString &id, const QString &suffix);

    QString lockKey() const { return m_lockKey; }
    QString memoryKey() const { return m_memoryKey; }
    // The lock file, in the temporary directory as it was when this guard was made.
    QString lockPath() const { return m_lockPath; }

private:
    const QString m_id;
    const QString m_lockKey;
    const QString m_memoryKey;
    const QString m_lockPath;
    QString m_holder;
#ifdef Q_OS_WIN
    QSharedMemory m_sharedMemory;
    QSystemSemaphore m_lock;
#else
    std::unique_ptr<platform::DirectoryLock> m_fileLock;
#endif
};
