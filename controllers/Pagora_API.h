#pragma once

#include <QString>
#include <QStringList>

class QLibrary;

// Holds the screen-driven TEF library and its seven entry points, resolved by name once
// the library is loaded. An entry point the library does not export stays null: callers
// check before calling.
class Pagora_API {
public:
    using Autenticador = int (*)();
    using IniciarOperacaoTEF = int (*)();
    // Step functions: the buffer carries the capture document both ways; the size is read
    // and may be rewritten by the library, the buffer holding ten times its value.
    using RealizarPagamentoTEF = int (*)(int tipoPagamento, char *buffer, int *tamanho);
    using RealizarAdmTEF = int (*)(int operacao, char *buffer, int *tamanho);
    using RealizarConfiguracao = int (*)(char *buffer, int *tamanho);
    using ConfirmarOperacaoTEF = int (*)(int confirmar);
    using FinalizarOperacaoTEF = int (*)(int codigo);

    // On Windows the library's fixed install path; elsewhere the replacement library
    // beside the executable.
    static QString defaultPath();

    explicit Pagora_API(const QString &path = defaultPath());
    ~Pagora_API();
    Pagora_API(const Pagora_API &) = delete;
    Pagora_API &operator=(const Pagora_API &) = delete;

    bool isLoaded() const;
    bool unload();
    QString errorString() const;

    Autenticador autenticador = nullptr;
    IniciarOperacaoTEF iniciarOperacaoTEF = nullptr;
    RealizarPagamentoTEF realizarPagamentoTEF = nullptr;
    RealizarAdmTEF realizarAdmTEF = nullptr;
    RealizarConfiguracao realizarConfiguracao = nullptr;
    ConfirmarOperacaoTEF confirmarOperacaoTEF = nullptr;
    FinalizarOperacaoTEF finalizarOperacaoTEF = nullptr;

    // Every entry point with its export name: what loading resolves and unloading clears.
    template <typename Self, typename Visit> static void forEachEntryPoint(Self &self, Visit visit) {
        visit("OrvixTEF_Autenticador", self.autenticador);
        visit("OrvixTEF_IniciarOperacaoTEF", self.iniciarOperacaoTEF);
        visit("OrvixTEF_RealizarPagamentoTEF", self.realizarPagamentoTEF);
        visit("OrvixTEF_RealizarAdmTEF", self.realizarAdmTEF);
        visit("OrvixTEF_RealizarConfiguracao", self.realizarConfiguracao);
        visit("OrvixTEF_ConfirmarOperacaoTEF", self.confirmarOperacaoTEF);
        visit("OrvixTEF_FinalizarOperacaoTEF", self.finalizarOperacaoTEF);
    }

private:
    QLibrary *library;
};
