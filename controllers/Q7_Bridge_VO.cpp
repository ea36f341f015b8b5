#include "controllers/Q7_Bridge_VO.h"

#include <QDate>
#include <QTime>

Q7_Bridge_VO::Q7_Bridge_VO() {
    setOperacao(QString());
    setIdTransacao(QString());
    setPdv(QString());
    setValorTotal(QString());
    setTipoCartao(QString());
    setFinanciamento(QString(), QString());
    setNsu(QString());
    setDataHora(QString(), QString());
}

void Q7_Bridge_VO::setOperacao(QString operacao) {
    m_operacao = std::move(operacao);
}

void Q7_Bridge_VO::setIdTransacao(QString idTransacao) {
    const int id = idTransacao.toInt(&m_idFitsLibrary, 10);
    m_idTransacao = m_idFitsLibrary ? id : -1;
    m_identificacao = std::move(idTransacao);
}

void Q7_Bridge_VO::setPdv(QString pdv) {
    m_pdv = pdv.isEmpty() ? QStringLiteral("q7") : std::move(pdv);
}

void Q7_Bridge_VO::setValorTotal(QString valorTotal) {
    m_valorTotal = std::move(valorTotal).remove(QLatin1Char(','));
}

void Q7_Bridge_VO::setTipoCartao(QString tipoCartao) {
    bool ok = false;
    const int tipo = tipoCartao.toInt(&ok, 10);
    m_tipoCartao = ok ? tipo : 0;
}

void Q7_Bridge_VO::setFinanciamento(QString tipoParcelamento, QString quantidadeParcelas) {
    bool typeGiven = false;
    const int tipo = tipoParcelamento.toInt(&typeGiven, 10);
    bool countGiven = false;
    int parcelas = quantidadeParcelas.toInt(&countGiven, 10);
    if (!countGiven)
        parcelas = 0;

    if (!typeGiven) {
        m_tipoFinanciamento = parcelas == 1 ? 1 : 0;
        m_numParcelas = 0;
        return;
    }
    switch (tipo) {
    case 0:
        m_tipoFinanciamento = 3;
        break;
    case 1:
        m_tipoFinanciamento = 2;
        break;
    default:
        m_tipoFinanciamento = -1;
        break;
    }
    m_numParcelas = parcelas;
}

void Q7_Bridge_VO::setNsu(QString nsu) {
    m_nsu = std::move(nsu);
}

void Q7_Bridge_VO::setDataHora(QString data, QString hora) {
    if (data.isEmpty()) {
        m_dataHora.clear();
        return;
    }
    const QString joined = data + hora;

    // Date and time are parsed apart rather than as one local date-time, so that a time that
    // falls into a daylight-saving gap is still read.
    if (joined.size() == 14) {
        const QDate date = QDate::fromString(joined.left(8), QStringLiteral("ddMMyyyy"));
        const QTime time = QTime::fromString(joined.mid(8), QStringLiteral("HHmmss"));
        if (date.isValid() && time.isValid()) {
            m_dataHora = date.toString(QStringLiteral("dd/MM/yyyy")) + QLatin1Char(' ') +
                         time.toString(QStringLiteral("HH:mm:ss"));
            return;
        }
    }
    const QDate date = QDate::fromString(joined, QStringLiteral("ddMMyyyy"));
    m_dataHora = date.isValid() ? date.toString(QStringLiteral("dd/MM/yyyy")) : joined;
}
