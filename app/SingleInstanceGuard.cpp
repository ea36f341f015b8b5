#include "app/SingleInstanceGuard.h"

#include "controllers/platform/DirectoryLock.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QRegularExpression>

#ifdef Q_OS_WIN
#include "controllers/platform/Win32SingleInstance.h"
#endif

QString SingleInstanceGuard::generateKeyHash(const QString &id, const QString &suffix) {
    QCryptographicHash hash(QCryptographicHash::Sha1);
    hash.addData(id.toUtf8());
    hash.addData(suffix.toUtf8());
    return QString::fromLatin1(hash.result().toHex());
}

SingleInstanceGuard::SingleInstanceGuard(const QString &id)
    : m_id(id)
    , m_lockKey(generateKeyHash(id, QStringLiteral("_memLockKey")))
    , m_memoryKey(generateKeyHash(id, QStringLiteral("_sharedmemKey")))
    , m_lockPath(QDir::temp().filePath(QStringLiteral("q7_pagora_passivo_%1.lock").arg(m_memoryKey)))
#ifdef Q_OS_WIN
    , m_sharedMemory(m_memoryKey)
    , m_lock(m_lockKey, 1, QSystemSemaphore::Open)
#endif
{
#ifdef Q_OS_WIN
    m_lock.acquire();
    {
        QSharedMemory fix(m_memoryKey);
        fix.attach();
    }
    m_lock.release();
#endif
}

SingleInstanceGuard::~SingleInstanceGuard() {
    release();
}

#ifdef Q_OS_WIN

bool SingleInstanceGuard::isAnotherRunning() {
    if (m_sharedMemory.isAttached())
        return false;

    m_lock.acquire();
    const bool attached = m_sharedMemory.attach();
    if (attached)
        m_sharedMemory.detach();
    m_lock.release();
    return attached;
}

bool SingleInstanceGuard::tryToRun() {
    if (isAnotherRunning())
        return false;

    m_lock.acquire();
    const bool created = m_sharedMemory.create(sizeof(quint64));
    m_lock.release();
    if (!created) {
        release();
        return false;
    }
    // The segment is of this logon session only: one copy per machine needs the global namespace.
    const QString global = QStringLiteral("Global\\") + m_memoryKey;
    if (!win32::claimMachineWide(reinterpret_cast<const wchar_t *>(global.utf16()))) {
        release();
        return false;
    }
    return true;
}

void SingleInstanceGuard::release() {
    m_lock.acquire();
    if (m_sharedMemory.isAttached())
        m_sharedMemory.detach();
    m_lock.release();
}

#else

bool SingleInstanceGuard::isAnotherRunning() {
    if (m_fileLock)
        return false;
    // The kernel frees the lock of a holder that is gone, however it went: a file it left behind,
    // whatever it says, takes no slot.
    if (!platform::DirectoryLock::heldElsewhere(m_lockPath))
        return false;
    const QString note = QString::fromLatin1(platform::DirectoryLock::noteOf(m_lockPath)).trimmed();
    static const QRegularExpression pid(QStringLiteral("^[0-9]{1,10}$"));
    m_holder = pid.match(note).hasMatch() ? note : QString();
    return true;
}

bool SingleInstanceGuard::tryToRun() {
    if (m_fileLock)
        return true;
    auto lock = std::make_unique<platform::DirectoryLock>(m_lockPath, true);
    if (!lock->locked()) {
        static_cast<void>(isAnotherRunning()); // who holds it
        return false;
    }
    // Never removed on release: one that opened this file meanwhile would lock a name nobody sees.
    lock->setNote(QByteArray::number(QCoreApplication::applicationPid()) + '\n');
    m_fileLock = std::move(lock);
    m_holder.clear();
    return true;
}

void SingleInstanceGuard::release() {
    m_fileLock.reset();
}

#endif
