#pragma once

#include <QString>

// The fields of one bridge request in the form the bridge library takes them: numbers
// converted, the amount without commas, the point of sale defaulted, the financing plan
// reduced to two integers and the date and time reformatted. Setters never fail: text that
// does not convert leaves the field at its default.
class Q7_Bridge_VO {
public:
    Q7_Bridge_VO();

    QString operacao() const { return m_operacao; }
    int idTransacao() const { return m_idTransacao; }
    // Whether the library can take the identification: a decimal integer that fits an int.
    bool idFitsLibrary() const { return m_idFitsLibrary; }
    // The identification as the request wrote it, for the answer: the sales application takes
    // back only its own text ("00777", "A-1").
    QString identificacao() const { return m_identificacao; }
    QString pdv() const { return m_pdv; }
    QString valorTotal() const { return m_valorTotal; }
    int tipoCartao() const { return m_tipoCartao; }
    int tipoFinanciamento() const { return m_tipoFinanciamento; }
    int numParcelas() const { return m_numParcelas; }
    QString nsu() const { return m_nsu; }
    QString dataHora() const { return m_dataHora; }

    void setOperacao(QString operacao);
    // -1 when the text is not a decimal integer that fits an int.
    void setIdTransacao(QString idTransacao);
    // "q7" when empty.
    void setPdv(QString pdv);
    // Only commas are removed: "1.234,56" becomes "1.23456".
    void setValorTotal(QString valorTotal);
    // 0 when the text is not a decimal integer.
    void setTipoCartao(QString tipoCartao);
    // Parcelling type and instalment count of the request -> the library's plan and count:
    // no type and one instalment is plan 1 (cash); type 0 plan 3; type 1 plan 2; any other
    // type -1; no type and no single instalment plan 0.
    void setFinanciamento(QString tipoParcelamento, QString quantidadeParcelas);
    void setNsu(QString nsu);
    // "ddMMyyyy" + "HHmmss" -> "dd/MM/yyyy HH:mm:ss", a date alone -> "dd/MM/yyyy", anything
    // else is kept as joined; empty when there is no date.
    void setDataHora(QString data, QString hora);

private:
    QString m_operacao;
    int m_idTransacao = -1;
    bool m_idFitsLibrary = false;
    QString m_identificacao;
    QString m_pdv;
    QString m_valorTotal;
    int m_tipoCartao = 0;
    int m_tipoFinanciamento = 0;
    int m_numParcelas = 0;
    QString m_nsu;
    QString m_dataHora;
};
