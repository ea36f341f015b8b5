// Linked into the thread-sanitizer build's test executables only. Qt's QMutex, QWaitCondition,
// QSemaphore and QThread::wait() synchronise inside the uninstrumented libQt5Core, so the sanitizer
// would report every access they guard as a race. These definitions come before the library's (an
// executable's own come first), call it and tell the sanitizer what it did. Only the overloads our
// code and the controller suites call are here.
#include <QMutex>
#include <QSemaphore>
#include <QThread>
#include <QVariant>
#include <QWaitCondition>

#include <dlfcn.h>
#include <sanitizer/tsan_interface.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The library's definition of `symbol`, the next after ours, with `this` as its first argument.
template <typename Function> Function next(const char *symbol) {
    void *found = dlsym(RTLD_NEXT, symbol);
    if (!found) {
        std::fprintf(stderr, "TsanQtSync: %s not found\n", symbol);
        std::abort();
    }
    Function function;
    std::memcpy(&function, &found, sizeof function);
    return function;
}

} // namespace

void QMutex::lock() QT_MUTEX_LOCK_NOEXCEPT {
    static const auto real = next<void (*)(QMutex *)>("_ZN6QMutex4lockEv");
    real(this);
    __tsan_acquire(this);
}

void QMutex::unlock() noexcept {
    static const auto real = next<void (*)(QMutex *)>("_ZN6QMutex6unlockEv");
    __tsan_release(this);
    real(this);
}

bool QWaitCondition::wait(QMutex *lockedMutex, QDeadlineTimer deadline) {
    static const auto real = next<bool (*)(QWaitCondition *, QMutex *, QDeadlineTimer)>(
        "_ZN14QWaitCondition4waitEP6QMutex14QDeadlineTimer");
    __tsan_release(lockedMutex);
    const bool woken = real(this, lockedMutex, deadline);
    __tsan_acquire(lockedMutex);
    return woken;
}

void QSemaphore::acquire(int n) {
    static const auto real = next<void (*)(QSemaphore *, int)>("_ZN10QSemaphore7acquireEi");
    real(this, n);
    __tsan_acquire(this);
}

bool QSemaphore::tryAcquire(int n, int timeout) {
    static const auto real = next<bool (*)(QSemaphore *, int, int)>("_ZN10QSemaphore10tryAcquireEii");
    const bool acquired = real(this, n, timeout);
    if (acquired)
        __tsan_acquire(this);
    return acquired;
}

void QSemaphore::release(int n) {
    static const auto real = next<void (*)(QSemaphore *, int)>("_ZN10QSemaphore7releaseEi");
    __tsan_release(this);
    real(this, n);
}

void QThread::start(Priority priority) {
    static const auto real = next<void (*)(QThread *, Priority)>("_ZN7QThread5startENS_8PriorityE");
    // Once per thread object: finished() is emitted in the thread as the last thing it does.
    if (!property("q7TsanHooked").toBool()) {
        setProperty("q7TsanHooked", true);
        connect(this, &QThread::finished, [this] { __tsan_release(this); });
    }
    real(this, priority);
}

bool QThread::wait(QDeadlineTimer deadline) {
    static const auto real = next<bool (*)(QThread *, QDeadlineTimer)>("_ZN7QThread4waitE14QDeadlineTimer");
    const bool ended = real(this, deadline);
    if (ended)
        __tsan_acquire(this);
    return ended;
}

bool QThread::wait(unsigned long time) {
    static const auto real = next<bool (*)(QThread *, unsigned long)>("_ZN7QThread4waitEm");
    const bool ended = real(this, time);
    if (ended)
        __tsan_acquire(this);
    return ended;
}
