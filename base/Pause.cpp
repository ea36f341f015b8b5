#include "base/Pause.h"

#include <QThread>
#include <atomic>
#include <cmath>

namespace {
std::atomic<double> g_scale{1.0};
}

namespace Pause {

int scaled(int milliseconds) {
    return static_cast<int>(std::lround(milliseconds * g_scale.load(std::memory_order_relaxed)));
}

void sleep(int milliseconds) {
    const int ms = scaled(milliseconds);
    if (ms > 0)
        QThread::msleep(static_cast<unsigned long>(ms));
}

void setScale(double scale) {
    g_scale.store(scale < 0 ? 0 : scale, std::memory_order_relaxed);
}

double scale() {
    return g_scale.load(std::memory_order_relaxed);
}

} // namespace Pause
