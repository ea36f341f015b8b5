#pragma once

#include <QLibrary>
#include <QString>
#include <QStringList>

namespace platform {

enum class PaymentLibrary { Bridge, Tef01, APITEFOrvix };

// Where the service loads a payment library from: on Windows the real library, by name
// (found through the library search order, the executable's directory first) or, for
// APITEFOrvix, by its full path; elsewhere the replacement library beside the executable.
QString paymentLibraryPath(PaymentLibrary library);

} // namespace platform

// Points `entryPoint` at the library's export `name`, or at null when there is none.
template <typename Function>
void resolveEntryPoint(QLibrary &library, const char *name, Function &entryPoint) {
    entryPoint = reinterpret_cast<Function>(library.resolve(name));
}

// Export names of the holder's entry points not resolved: every one when the library did not load.
template <typename Holder> QStringList unresolvedEntryPoints(const Holder &holder) {
    QStringList missing;
    Holder::forEachEntryPoint(holder, [&missing](const char *name, auto entryPoint) {
        if (!entryPoint)
            missing << QLatin1String(name);
    });
    return missing;
}
