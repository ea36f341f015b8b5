#pragma once

#include <QString>
#include <QStringList>
#include <memory>

class QLibrary;

// Owns the Tef01 payment library and its entry points, resolved by name after loading. A
// pointer stays null when the library does not export that name; callers check before use.
// Texts passed in are UTF-8 and NUL-terminated; returned texts belong to the library and are
// valid until its next call.
class Q7_Tef_API {
public:
    using GetProdutoTefFn = int (*)();
    using SetProdutoTefFn = int (*)(int produto);
    using GetClientTCPFn = const char *(*)();
    using SetClientTCPFn = int (*)(const char *ip, int porta);
    using IniciarOperacaoTEFFn = const char *(*)(const char *dadosAutomacao);
    using RecuperarOperacaoTEFFn = const char *(*)(const char *dadosAutomacao);
    using RealizarPagamentoTEFFn = const char *(*)(int tipoCartao, const char *dadosTransacao,
                                                   int novaTransacao);
    using RealizarAdmTEFFn = const char *(*)(int operacao, const char *dadosTransacao, int novaTransacao);
    using ConfirmarOperacaoTEFFn = const char *(*)(int sequencial, int confirmar);
    using FinalizarOperacaoTEFFn = const char *(*)(int finalizar);

    explicit Q7_Tef_API(const QString &path = defaultPath());
    ~Q7_Tef_API();
    Q7_Tef_API(const Q7_Tef_API &) = delete;
    Q7_Tef_API &operator=(const Q7_Tef_API &) = delete;

    // "Q7_Tef01.dll" through the Windows search order; elsewhere the replacement library
    // beside the executable.
    static QString defaultPath();

    QString path() const { return m_path; }
    // Loads the library unless the path cannot name one, then resolves every entry point.
    bool load();
    bool isLoaded() const;
    bool unload();
    QString errorString() const;

    GetProdutoTefFn GetProdutoTef = nullptr;
    SetProdutoTefFn SetProdutoTef = nullptr;
    GetClientTCPFn GetClientTCP = nullptr;
    SetClientTCPFn SetClientTCP = nullptr;
    IniciarOperacaoTEFFn IniciarOperacaoTEF = nullptr;
    RecuperarOperacaoTEFFn RecuperarOperacaoTEF = nullptr;
    RealizarPagamentoTEFFn RealizarPagamentoTEF = nullptr;
    RealizarAdmTEFFn RealizarAdmTEF = nullptr;
    ConfirmarOperacaoTEFFn ConfirmarOperacaoTEF = nullptr;
    FinalizarOperacaoTEFFn FinalizarOperacaoTEF = nullptr;

    // Every entry point with its export name: what loading resolves and unloading clears.
    template <typename Self, typename Visit> static void forEachEntryPoint(Self &self, Visit visit) {
        visit("GetProdutoTef", self.GetProdutoTef);
        visit("SetProdutoTef", self.SetProdutoTef);
        visit("GetClientTCP", self.GetClientTCP);
        visit("SetClientTCP", self.SetClientTCP);
        visit("IniciarOperacaoTEF", self.IniciarOperacaoTEF);
        visit("RecuperarOperacaoTEF", self.RecuperarOperacaoTEF);
        visit("RealizarPagamentoTEF", self.RealizarPagamentoTEF);
        visit("RealizarAdmTEF", self.RealizarAdmTEF);
        visit("ConfirmarOperacaoTEF", self.ConfirmarOperacaoTEF);
        visit("FinalizarOperacaoTEF", self.FinalizarOperacaoTEF);
    }

private:
    void clearEntryPoints();

    QString m_path;
    std::unique_ptr<QLibrary> m_library;
};
