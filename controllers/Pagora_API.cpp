#include "controllers/Pagora_API.h"

#include <QCoreApplication>
#include <QLibrary>

namespace {

template <typename Function> void resolve(QLibrary &library, const char *name, Function &target) {
    target = reinterpret_cast<Function>(library.resolve(name));
}

} // namespace

QString Pagora_API::defaultPath() {
#ifdef Q_OS_WIN
    return QStringLiteral("C:\\APITEFOrvix\\BIN\\APITEFOrvix.dll");
#else
    return QCoreApplication::applicationDirPath() + QStringLiteral("/libAPITEFOrvix.so");
#endif
}

Pagora_API::Pagora_API(const QString &path)
    : library(new QLibrary) {
    if (!QLibrary::isLibrary(path))
        return;
    library->setFileName(path);
    if (!library->load())
        return;
    resolve(*library, "OrvixTEF_Autenticador", autenticador);
    resolve(*library, "OrvixTEF_IniciarOperacaoTEF", iniciarOperacaoTEF);
    resolve(*library, "OrvixTEF_RealizarPagamentoTEF", realizarPagamentoTEF);
    resolve(*library, "OrvixTEF_RealizarAdmTEF", realizarAdmTEF);
    resolve(*library, "OrvixTEF_RealizarConfiguracao", realizarConfiguracao);
    resolve(*library, "OrvixTEF_ConfirmarOperacaoTEF", confirmarOperacaoTEF);
    resolve(*library, "OrvixTEF_FinalizarOperacaoTEF", finalizarOperacaoTEF);
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
