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
    resolveEntryPoint(*library, "OrvixTEF_Autenticador", autenticador);
    resolveEntryPoint(*library, "OrvixTEF_IniciarOperacaoTEF", iniciarOperacaoTEF);
    resolveEntryPoint(*library, "OrvixTEF_RealizarPagamentoTEF", realizarPagamentoTEF);
    resolveEntryPoint(*library, "OrvixTEF_RealizarAdmTEF", realizarAdmTEF);
    resolveEntryPoint(*library, "OrvixTEF_RealizarConfiguracao", realizarConfiguracao);
    resolveEntryPoint(*library, "OrvixTEF_ConfirmarOperacaoTEF", confirmarOperacaoTEF);
    resolveEntryPoint(*library, "OrvixTEF_FinalizarOperacaoTEF", finalizarOperacaoTEF);
}

Pagora_API::~Pagora_API() {
    delete library;
}

bool Pagora_API::isLoaded() const {
    return library->isLoaded();
}

bool Pagora_API::unload() {
    // The addresses die with the library.
    autenticador = nullptr;
    iniciarOperacaoTEF = nullptr;
    realizarPagamentoTEF = nullptr;
    realizarAdmTEF = nullptr;
    realizarConfiguracao = nullptr;
    confirmarOperacaoTEF = nullptr;
    finalizarOperacaoTEF = nullptr;
    return library->unload();
}
