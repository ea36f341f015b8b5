#pragma once

#include <QSharedMemory>
#include <QString>
#include <QSystemSemaphore>

// Allows one running service per machine: the holder keeps an 8-byte shared-memory
// segment attached, and a system semaphore serialises every attach, detach and create.
class SingleInstanceGuard {
public:
    explicit SingleInstanceGuard(const QString &id);
    ~SingleInstanceGuard();

    SingleInstanceGuard(const SingleInstanceGuard &) = delete;
    SingleInstanceGuard &operator=(const SingleInstanceGuard &) = delete;

    bool isAnotherRunning();
    bool tryToRun();
    void release();

    // SHA-1 of the UTF-8 bytes of id + suffix, as 40 lower-case hex digits.
    static QString generateKeyHash(const QString &id, const QString &suffix);

    QString lockKey() const { return m_lockKey; }
    QString memoryKey() const { return m_memoryKey; }

private:
    const QString m_id;
    const QString m_lockKey;
    const QString m_memoryKey;
    QSharedMemory m_sharedMemory;
    QSystemSemaphore m_lock;
};
