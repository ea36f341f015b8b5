#include "app/SingleInstanceGuard.h"

#include <QCryptographicHash>

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
    , m_sharedMemory(m_memoryKey)
    , m_lock(m_lockKey, 1, QSystemSemaphore::Open) {
    // On Unix a segment left by a killed holder survives it; attaching and detaching a
    // throw-away handle removes it once nobody is attached any more.
    m_lock.acquire();
    {
        QSharedMemory fix(m_memoryKey);
        fix.attach();
    }
    m_lock.release();
}

SingleInstanceGuard::~SingleInstanceGuard() {
    release();
}

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
#ifdef Q_OS_WIN
    // The segment is of this logon session only: one copy per machine needs the global namespace.
    const QString global = QStringLiteral("Global\\") + m_memoryKey;
    if (!win32::claimMachineWide(reinterpret_cast<const wchar_t *>(global.utf16()))) {
        release();
        return false;
    }
#endif
    return true;
}

void SingleInstanceGuard::release() {
    m_lock.acquire();
    if (m_sharedMemory.isAttached())
        m_sharedMemory.detach();
    m_lock.release();
}
