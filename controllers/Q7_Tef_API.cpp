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
    resolveEntryPoint(*m_library, "GetProdutoTef", GetProdutoTef);
    resolveEntryPoint(*m_library, "SetProdutoTef", SetProdutoTef);
    resolveEntryPoint(*m_library, "GetClientTCP", GetClientTCP);
    resolveEntryPoint(*m_library, "SetClientTCP", SetClientTCP);
    resolveEntryPoint(*m_library, "IniciarOperacaoTEF", IniciarOperacaoTEF);
    resolveEntryPoint(*m_library, "RecuperarOperacaoTEF", RecuperarOperacaoTEF);
    resolveEntryPoint(*m_library, "RealizarPagamentoTEF", RealizarPagamentoTEF);
    resolveEntryPoint(*m_library, "RealizarAdmTEF", RealizarAdmTEF);
    resolveEntryPoint(*m_library, "ConfirmarOperacaoTEF", ConfirmarOperacaoTEF);
    resolveEntryPoint(*m_library, "FinalizarOperacaoTEF", FinalizarOperacaoTEF);
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
