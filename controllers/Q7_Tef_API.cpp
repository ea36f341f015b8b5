#include "controllers/Q7_Tef_API.h"

#include <QCoreApplication>
#include <QLibrary>

namespace {

template <typename Fn> void resolve(QLibrary &library, Fn &entryPoint, const char *name) {
    entryPoint = reinterpret_cast<Fn>(library.resolve(name));
}

} // namespace

Q7_Tef_API::Q7_Tef_API(const QString &path)
    : m_path(path)
    , m_library(std::make_unique<QLibrary>()) {}

Q7_Tef_API::~Q7_Tef_API() {
    unload();
}

QString Q7_Tef_API::defaultPath() {
#ifdef Q_OS_WIN
    return QStringLiteral("Q7_Tef01.dll");
#else
    return QCoreApplication::applicationDirPath() + QStringLiteral("/libQ7_Tef01.so");
#endif
}

bool Q7_Tef_API::load() {
    if (!QLibrary::isLibrary(m_path))
        return false;
    m_library->setFileName(m_path);
    if (!m_library->load())
        return false;
    resolve(*m_library, GetProdutoTef, "GetProdutoTef");
    resolve(*m_library, SetProdutoTef, "SetProdutoTef");
    resolve(*m_library, GetClientTCP, "GetClientTCP");
    resolve(*m_library, SetClientTCP, "SetClientTCP");
    resolve(*m_library, IniciarOperacaoTEF, "IniciarOperacaoTEF");
    resolve(*m_library, RecuperarOperacaoTEF, "RecuperarOperacaoTEF");
    resolve(*m_library, RealizarPagamentoTEF, "RealizarPagamentoTEF");
    resolve(*m_library, RealizarAdmTEF, "RealizarAdmTEF");
    resolve(*m_library, ConfirmarOperacaoTEF, "ConfirmarOperacaoTEF");
    resolve(*m_library, FinalizarOperacaoTEF, "FinalizarOperacaoTEF");
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
    GetProdutoTef = nullptr;
    SetProdutoTef = nullptr;
    GetClientTCP = nullptr;
    SetClientTCP = nullptr;
    IniciarOperacaoTEF = nullptr;
    RecuperarOperacaoTEF = nullptr;
    RealizarPagamentoTEF = nullptr;
    RealizarAdmTEF = nullptr;
    ConfirmarOperacaoTEF = nullptr;
    FinalizarOperacaoTEF = nullptr;
}
