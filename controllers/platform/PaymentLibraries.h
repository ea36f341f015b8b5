#pragma once

#include <QLibrary>
#include <QString>

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
