#pragma once

#include <QJsonObject>
#include <QString>

// The response document of one Pagora request, as the SiTef-layout writer reads it.
class RespostaTef {
public:
    // The request's identification as it wrote it: the sales application matches it by its text.
    void setId(const QString &id);
    void setHeader(const QString &header);
    void setDocumentoFiscalVinculado(const QString &documento);
    void setTextoOperador(const QString &texto);
    void setComprovanteLoja(const QString &comprovante);
    void setComprovanteCliente(const QString &comprovante);
    void setDadosTransacao(const QString &dados);
    void setResultado(int resultado);
    // The operation the flow ran (1 debit, 2 credit, ...), which tells the kind of payment.
    void setOperacao(int operacao);
    // What the response carries of the request (ProtocoloSitef::requestFallback); none when empty.
    void setRequisicao(const QJsonObject &requisicao);

    // Compact JSON text of the whole document.
    QString toJsonString() const;

private:
    QJsonObject resposta;
};
