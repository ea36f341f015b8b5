#include "controllers/Q7_Tef_API.h"

#include "controllers/platform/PaymentLibraries.h"

#include <QLibrary>

Q7_Tef_API::Q7_Tef_API(const QString &path)
    : m_path(path)
    , m_library(std::make_unique<QLibrary>()) {}

Q7_Tef_API::~Q7_Tef_API() {
    unload();
}

QString Q7_Tef_API::defaultPath() {
    return platform::paymentLibraryPath(platform::PaymentLibrary::Tef01);
}

bool Q7_Tef_API::load() {
    if (!QLibrary::isLibrary(m_path))
        return false;
    m_library->setFileName(m_path);
    if (!m_library->load())
        return false;
    forEachEntryPoint(*this, [this](const char *name, auto &entryPoint) {
        resolveEntryPoint(*m_library, name, entryPoint);
    });
    return true;
}

bool Q7_Tef_API::isLoaded() const {
    return m_library->isLoaded();
}

bool Q7_Tef_API::unload() {
    // The pointers would dangle once the code is gone.
    clearEntryPoints();
    return m_library->unload();
}

void Q7_Tef_API::clearEntryPoints() {
    forEachEntryPoint(*this, [](const char *, auto &entryPoint) { entryPoint = nullptr; });
}

QString Q7_Tef_API::errorString() const {
    return m_library->errorString();
}
