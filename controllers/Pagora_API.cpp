#include "controllers/Pagora_API.h"

#include "controllers/platform/PaymentLibraries.h"

QString Pagora_API::defaultPath() {
    return platform::paymentLibraryPath(platform::PaymentLibrary::APITEFOrvix);
}

Pagora_API::Pagora_API(const QString &path)
    : library(new QLibrary) {
    if (!QLibrary::isLibrary(path))
        return;
    library->setFileName(path);
    if (!library->load())
        return;
    forEachEntryPoint(
        *this, [this](const char *name, auto &entryPoint) { resolveEntryPoint(*library, name, entryPoint); });
}

Pagora_API::~Pagora_API() {
    delete library;
}

bool Pagora_API::isLoaded() const {
    return library->isLoaded();
}

bool Pagora_API::unload() {
    // The addresses die with the library.
    forEachEntryPoint(*this, [](const char *, auto &entryPoint) { entryPoint = nullptr; });
    return library->unload();
}

QString Pagora_API::errorString() const {
    return library->errorString();
}
