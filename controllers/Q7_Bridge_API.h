#pragma once

#include <QString>
#include <QStringList>

class QLibrary;

// Owns the bridge library and its entry points, resolved by name once it is loaded. Every
// entry point answers with a UTF-8 JSON text that the library owns; a pointer is null when
// the library is not loaded or lacks that export, so callers test it before every call.
class Q7_Bridge_API {
public:
    // Settings of the library itself; resolved and kept, not called by the service.
    using GetServerFn = const char *(*)();
    using SetServerFn = const char *(*)(const char *servidor);
    using SetSenhaFn = const char *(*)(const char *senha);
    using GetTimeoutFn = const char *(*)();
    using SetTimeoutFn = const char *(*)(int segundos);
    using ConsultarStatusFn = const char *(*)();
    // The operations.
    using IniciaVendaFn = const char *(*)(int idTransacao, const char *pdv, const char *valorTotal);
    using IniciaVendaDebitoFn = IniciaVendaFn;
    using IniciaVendaCreditoFn = const char *(*)(int idTransacao, const char *pdv, const char *valorTotal,
                                                 int tipoFinanciamento, int numParcelas);
    using IniciaCancelamentoVendaFn = const char *(*)(int idTransacao, const char *pdv,
                                                      const char *valorTotal, const char *dataHora,
                                                      const char *nsu);
    using IniciaOperacaoAdministrativaFn = const char *(*)(int idTransacao, const char *pdv, int reservado);

    // "Q7_Bridge.dll" on Windows (found through the library search order), elsewhere
    // libQ7_Bridge.so in the executable's directory.
    static QString defaultLibraryPath();

    explicit Q7_Bridge_API(const QString &libraryPath = defaultLibraryPath());
    ~Q7_Bridge_API();
    Q7_Bridge_API(const Q7_Bridge_API &) = delete;
    Q7_Bridge_API &operator=(const Q7_Bridge_API &) = delete;

    bool isLoaded() const;
    bool unload();
    QString errorString() const;

    GetServerFn GetServer = nullptr;
    SetServerFn SetServer = nullptr;
    SetSenhaFn SetSenha = nullptr;
    GetTimeoutFn GetTimeout = nullptr;
    SetTimeoutFn SetTimeout = nullptr;
    ConsultarStatusFn ConsultarStatus = nullptr;
    IniciaVendaFn IniciaVenda = nullptr;
    IniciaVendaDebitoFn IniciaVendaDebito = nullptr;
    IniciaVendaCreditoFn IniciaVendaCredito = nullptr;
    IniciaCancelamentoVendaFn IniciaCancelamentoVenda = nullptr;
    IniciaOperacaoAdministrativaFn IniciaOperacaoAdministrativa = nullptr;

    // Every entry point with its export name: what loading resolves and unloading clears.
    template <typename Self, typename Visit> static void forEachEntryPoint(Self &self, Visit visit) {
        visit("GetServer", self.GetServer);
        visit("SetServer", self.SetServer);
        visit("SetSenha", self.SetSenha);
        visit("GetTimeout", self.GetTimeout);
        visit("SetTimeout", self.SetTimeout);
        visit("ConsultarStatus", self.ConsultarStatus);
        visit("IniciaVenda", self.IniciaVenda);
        visit("IniciaVendaDebito", self.IniciaVendaDebito);
        visit("IniciaVendaCredito", self.IniciaVendaCredito);
        visit("IniciaCancelamentoVenda", self.IniciaCancelamentoVenda);
        visit("IniciaOperacaoAdministrativa", self.IniciaOperacaoAdministrativa);
    }

private:
    bool load(const QString &libraryPath);
    void clearEntryPoints();

    QLibrary *handle;
};
