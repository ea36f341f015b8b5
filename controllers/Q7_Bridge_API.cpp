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
    resolveEntryPoint(*handle, "GetServer", GetServer);
    resolveEntryPoint(*handle, "SetServer", SetServer);
    resolveEntryPoint(*handle, "SetSenha", SetSenha);
    resolveEntryPoint(*handle, "GetTimeout", GetTimeout);
    resolveEntryPoint(*handle, "SetTimeout", SetTimeout);
    resolveEntryPoint(*handle, "ConsultarStatus", ConsultarStatus);
    resolveEntryPoint(*handle, "IniciaVenda", IniciaVenda);
    resolveEntryPoint(*handle, "IniciaVendaDebito", IniciaVendaDebito);
    resolveEntryPoint(*handle, "IniciaVendaCredito", IniciaVendaCredito);
    resolveEntryPoint(*handle, "IniciaCancelamentoVenda", IniciaCancelamentoVenda);
    resolveEntryPoint(*handle, "IniciaOperacaoAdministrativa", IniciaOperacaoAdministrativa);
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
