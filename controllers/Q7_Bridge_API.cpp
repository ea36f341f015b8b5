#include "controllers/Q7_Bridge_API.h"

#include <QCoreApplication>
#include <QLibrary>

namespace {

template <typename Fn> void resolve(QLibrary &library, const char *name, Fn &target) {
    target = reinterpret_cast<Fn>(library.resolve(name));
}

} // namespace

QString Q7_Bridge_API::defaultLibraryPath() {
#ifdef Q_OS_WIN
    return QStringLiteral("Q7_Bridge.dll");
#else
    return QCoreApplication::applicationDirPath() + QStringLiteral("/libQ7_Bridge.so");
#endif
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
    resolve(*handle, "GetServer", GetServer);
    resolve(*handle, "SetServer", SetServer);
    resolve(*handle, "SetSenha", SetSenha);
    resolve(*handle, "GetTimeout", GetTimeout);
    resolve(*handle, "SetTimeout", SetTimeout);
    resolve(*handle, "ConsultarStatus", ConsultarStatus);
    resolve(*handle, "IniciaVenda", IniciaVenda);
    resolve(*handle, "IniciaVendaDebito", IniciaVendaDebito);
    resolve(*handle, "IniciaVendaCredito", IniciaVendaCredito);
    resolve(*handle, "IniciaCancelamentoVenda", IniciaCancelamentoVenda);
    resolve(*handle, "IniciaOperacaoAdministrativa", IniciaOperacaoAdministrativa);
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
    GetServer = nullptr;
    SetServer = nullptr;
    SetSenha = nullptr;
    GetTimeout = nullptr;
    SetTimeout = nullptr;
    ConsultarStatus = nullptr;
    IniciaVenda = nullptr;
    IniciaVendaDebito = nullptr;
    IniciaVendaCredito = nullptr;
    IniciaCancelamentoVenda = nullptr;
    IniciaOperacaoAdministrativa = nullptr;
}
