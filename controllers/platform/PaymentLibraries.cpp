#include "controllers/platform/PaymentLibraries.h"

#include <QCoreApplication>

namespace platform {

QString paymentLibraryPath(PaymentLibrary library) {
#ifdef Q_OS_WIN
    switch (library) {
    case PaymentLibrary::Bridge:
        return QStringLiteral("Q7_Bridge.dll");
    case PaymentLibrary::Tef01:
        return QStringLiteral("Q7_Tef01.dll");
    case PaymentLibrary::APITEFOrvix:
        break;
    }
    return QStringLiteral("C:\\APITEFOrvix\\BIN\\APITEFOrvix.dll");
#else
    const QString directory = QCoreApplication::applicationDirPath();
    switch (library) {
    case PaymentLibrary::Bridge:
        return directory + QStringLiteral("/libQ7_Bridge.so");
    case PaymentLibrary::Tef01:
        return directory + QStringLiteral("/libQ7_Tef01.so");
    case PaymentLibrary::APITEFOrvix:
        break;
    }
    return directory + QStringLiteral("/libAPITEFOrvix.so");
#endif
}

} // namespace platform
