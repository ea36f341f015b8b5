#pragma once

#include <QString>

// The fields of one Tef01 request, converted once for the library calls. Every setter takes
// the request's text as it came in the request document.
class Q7_Tef_VO {
public:
    QString header() const { return m_header; }
    void setHeader(const QString &value);
    int codigoTransacao() const { return m_codigoTransacao; }
    void setCodigoTransacao(const QString &value);
    // The request's text: the sales application takes back only a response that echoes it as it
    // wrote it ("00777" is not "777"), and the library never sees it.
    QString identificacao() const { return m_identificacao; }
    void setIdentificacao(const QString &value);
    QString aplicacao() const { return m_aplicacao; }
    void setAplicacao(const QString &value);
    QString versaoAplicacao() const { return m_versaoAplicacao; }
    void setVersaoAplicacao(const QString &value);
    QString estabelecimento() const { return m_estabelecimento; }
    void setEstabelecimento(const QString &value);
    QString loja() const { return m_loja; }
    void setLoja(const QString &value);
    QString terminal() const { return m_terminal; }
    void setTerminal(const QString &value);
    int tipoCartao() const { return m_tipoCartao; }
    void setTipoCartao(const QString &value);
    // From the number of instalments: "A vista", "Parcelado" or empty.
    QString pagamento() const { return m_pagamento; }
    void setPagamento(const QString &quantidadeParcelas);
    // From the instalment type: "Estabelecimento", "Administradora" or empty.
    QString financiado() const { return m_financiado; }
    void setFinanciado(const QString &tipoParcelamento);
    QString parcela() const { return m_parcela; }
    void setParcela(const QString &value);
    QString valor() const { return m_valor; }
    void setValor(const QString &value);
    QString admUsuario() const { return m_admUsuario; }
    void setAdmUsuario(const QString &value);
    QString admSenha() const { return m_admSenha; }
    void setAdmSenha(const QString &value);

private:
    QString m_header;
    int m_codigoTransacao = 0;
    QString m_identificacao;
    QString m_aplicacao;
    QString m_versaoAplicacao;
    QString m_estabelecimento;
    QString m_loja;
    QString m_terminal;
    int m_tipoCartao = 0;
    QString m_pagamento;
    QString m_financiado;
    QString m_parcela;
    QString m_valor;
    QString m_admUsuario;
    QString m_admSenha;
};
