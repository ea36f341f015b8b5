#include "controllers/Q7_Tef_VO.h"

namespace {

int toIntOr(const QString &text, int fallback) {
    bool ok = false;
    const int number = text.toInt(&ok, 10);
    return ok ? number : fallback;
}

} // namespace

void Q7_Tef_VO::setHeader(const QString &value) {
    m_header = value;
}

void Q7_Tef_VO::setCodigoTransacao(const QString &value) {
    m_codigoTransacao = toIntOr(value, 0);
}

void Q7_Tef_VO::setIdentificacao(const QString &value) {
    m_identificacao = value;
}

void Q7_Tef_VO::setAplicacao(const QString &value) {
    m_aplicacao = value;
}

void Q7_Tef_VO::setVersaoAplicacao(const QString &value) {
    m_versaoAplicacao = value;
}

void Q7_Tef_VO::setEstabelecimento(const QString &value) {
    m_estabelecimento = value;
}

void Q7_Tef_VO::setLoja(const QString &value) {
    m_loja = value;
}

void Q7_Tef_VO::setTerminal(const QString &value) {
    m_terminal = value;
}

void Q7_Tef_VO::setTipoCartao(const QString &value) {
    m_tipoCartao = toIntOr(value, 0);
}

void Q7_Tef_VO::setPagamento(const QString &quantidadeParcelas) {
    const int parcelas = toIntOr(quantidadeParcelas, 0);
    if (parcelas == 1)
        m_pagamento = QStringLiteral("A vista");
    else if (parcelas >= 2)
        m_pagamento = QStringLiteral("Parcelado");
    else
        m_pagamento.clear();
}

void Q7_Tef_VO::setFinanciado(const QString &tipoParcelamento) {
    // -1 stands for "not a number": 0 is a meaningful value here.
    const int tipo = toIntOr(tipoParcelamento, -1);
    if (tipo == 0)
        m_financiado = QStringLiteral("Estabelecimento");
    else if (tipo == 1)
        m_financiado = QStringLiteral("Administradora");
    else
        m_financiado.clear();
}

void Q7_Tef_VO::setParcela(const QString &value) {
    m_parcela = value;
}

void Q7_Tef_VO::setValor(const QString &value) {
    m_valor = value;
}

void Q7_Tef_VO::setAdmUsuario(const QString &value) {
    m_admUsuario = value;
}

void Q7_Tef_VO::setAdmSenha(const QString &value) {
    m_admSenha = value;
}
