#include "controllers/RespostaTef.h"

#include <QJsonDocument>

void RespostaTef::setId(const QString &id) {
    resposta.insert(QStringLiteral("id"), id);
}

void RespostaTef::setHeader(const QString &header) {
    resposta.insert(QStringLiteral("header"), header);
}

void RespostaTef::setDocumentoFiscalVinculado(const QString &documento) {
    resposta.insert(QStringLiteral("documento_fiscal_vinculado"), documento);
}

void RespostaTef::setTextoOperador(const QString &texto) {
    resposta.insert(QStringLiteral("texto_operador"), texto);
}

void RespostaTef::setComprovanteLoja(const QString &comprovante) {
    resposta.insert(QStringLiteral("comprovante_loja"), comprovante);
}

void RespostaTef::setComprovanteCliente(const QString &comprovante) {
    resposta.insert(QStringLiteral("comprovante_cliente"), comprovante);
}

void RespostaTef::setDadosTransacao(const QString &dados) {
    resposta.insert(QStringLiteral("dados_transacao"), dados);
}

void RespostaTef::setResultado(int resultado) {
    resposta.insert(QStringLiteral("resultado"), resultado);
}

void RespostaTef::setOperacao(int operacao) {
    resposta.insert(QStringLiteral("operacao"), operacao);
}

void RespostaTef::setRequisicao(const QJsonObject &requisicao) {
    if (!requisicao.isEmpty())
        resposta.insert(QStringLiteral("requisicao"), requisicao);
}

QString RespostaTef::toJsonString() const {
    return QString::fromUtf8(QJsonDocument(resposta).toJson(QJsonDocument::Compact));
}
