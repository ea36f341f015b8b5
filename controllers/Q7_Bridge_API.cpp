#include "controllers/Q7_Bridge_API.h"

#include "controllers/platform/PaymentLibraries.h"

QString Q7_Bridge_API::defaultLibraryPath() {
    return platform::paymentLibraryPath(platform::PaymentLibrary::Bridge);
}

Q7_Bridge_API::Q7_Bridge_API(const QString &libraryPath)
    : handle(new QLibrary) {
    load(libraryPath);
}

Q7_Bridge_API::~Q7_Bridge_API() {
    unload();
    delete handle;
}

bool Q7_Bridge_API::load(const QString &libraryPath) {
    if (!QLibrary::isLibrary(libraryPath))
        return false;
    handle->setFileName(libraryPath);
    if (!handle->load())
        return false;
    forEachEntryPoint(
        *this, [this](const char *name, auto &entryPoint) { resolveEntryPoint(*handle, name, entryPoint); });
    return true;
}

bool Q7_Bridge_API::isLoaded() const {
    return handle->isLoaded();
}

bool Q7_Bridge_API::unload() {
    // The pointers would dangle once the code is gone.
    clearEntryPoints();
    return handle->unload();
}

void Q7_Bridge_API::clearEntryPoints() {
    forEachEntryPoint(*this, [](const char *, auto &entryPoint) { entryPoint = nullptr; });
}

QString Q7_Bridge_API::errorString() const {
    return handle->errorString();
}
