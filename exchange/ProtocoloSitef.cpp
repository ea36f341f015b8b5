#include "exchange/ProtocoloSitef.h"

#include <QJsonObject>

#include <algorithm>
#include <climits>
#include <cmath>

namespace {

using Kind = ProtocoloSitef::ValueKind;

QVector<ProtocoloSitef::TagMapping> makeBridgeTags() {
    return {
        {QStringLiteral("q7_bridge_code"), QStringLiteral("375-000"), Kind::Integer},
        {QStringLiteral("q7_bridge_msg"), QStringLiteral("375-001"), Kind::Text},
        {QStringLiteral("q7_pdv"), QStringLiteral("210-052"), Kind::Text},
        {QStringLiteral("q7_cupom_fiscal"), QStringLiteral("375-002"), Kind::Bool},
        {QStringLiteral("aidCartao"), QStringLiteral("375-003"), Kind::Text},
        {QStringLiteral("uniqueID"), QStringLiteral("375-004"), Kind::Text},
        {QStringLiteral("modoEntradaCartao"), QStringLiteral("375-008"), Kind::Text},
        {QStringLiteral("modoVerificacaoSenha"), QStringLiteral("375-009"), Kind::Text},
        {QStringLiteral("modalidadeTransacao"), QStringLiteral("375-010"), Kind::Text},
        {QStringLiteral("existeTransacaoPendente"), QStringLiteral("375-011"), Kind::Bool},
        {QStringLiteral("dadosTransacaoPendente"), QStringLiteral("375-012"), Kind::Text},
        {QStringLiteral("saldoVoucher"), QStringLiteral("375-013"), Kind::Text},
        {QStringLiteral("codigoAutorizacao"), QStringLiteral("013-000"), Kind::Text},
        {QStringLiteral("codigoAutorizacaoOriginal"), QStringLiteral("375-014"), Kind::Text},
        {QStringLiteral("identificadorTransacaoAutomacao"), QStringLiteral("001-000"), Kind::Text},
        {QStringLiteral("panMascarado"), QStringLiteral("740-000"), Kind::Text},
        {QStringLiteral("panMascaradoPadrao"), QStringLiteral("375-015"), Kind::Text},
        {QStringLiteral("dataHoraTransacao"), QStringLiteral("022-000|023-000"), Kind::Text},
        {QStringLiteral("dataHoraTransacaoOriginal"), QStringLiteral("026-000"), Kind::Text},
        {QStringLiteral("comprovanteCompleto"), QStringLiteral("028-000|029-xxx"), Kind::LineList},
        {QStringLiteral("nomeCartao"), QStringLiteral("040-000"), Kind::Text},
        {QStringLiteral("nomeCartaoPadrao"), QStringLiteral("748-000"), Kind::Text},
        {QStringLiteral("nomePortadorCartao"), QStringLiteral("741-000"), Kind::Text},
        {QStringLiteral("comprovanteReduzidoPortador"), QStringLiteral("710-000|711-xxx"), Kind::LineList},
        {QStringLiteral("documentoFiscal"), QStringLiteral("002-000"), Kind::Text},
        {QStringLiteral("valorTroco"), QStringLiteral("708-000"), Kind::Text},
        {QStringLiteral("valorDesconto"), QStringLiteral("709-000"), Kind::Text},
        {QStringLiteral("identificadorEstabelecimento"), QStringLiteral("150-000"), Kind::Text},
        {QStringLiteral("nomeEstabelecimento"), QStringLiteral("375-016"), Kind::Text},
        {QStringLiteral("nomeProvedor"), QStringLiteral("010-000"), Kind::Text},
        {QStringLiteral("operacao"), QStringLiteral("000-000"), Kind::Text},
        {QStringLiteral("tipoCartao"), QStringLiteral("731-000"), Kind::Text},
        {QStringLiteral("tipoFinanciamento"), QStringLiteral("017-000"), Kind::Text},
        {QStringLiteral("numeroParcelas"), QStringLiteral("018-000"), Kind::Integer},
        {QStringLiteral("dataPredatado"), QStringLiteral("024-000"), Kind::Text},
        {QStringLiteral("comprovanteDiferenciadoLoja"), QStringLiteral("714-000|715-xxx"), Kind::LineList},
        {QStringLiteral("comprovanteDiferenciadoPortador"), QStringLiteral("712-000|713-xxx"),
         Kind::LineList},
        {QStringLiteral("mensagemResultado"), QStringLiteral("030-000"), Kind::Text},
        {QStringLiteral("codigoMoeda"), QStringLiteral("004-000"), Kind::Text},
        {QStringLiteral("valorTotal"), QStringLiteral("003-000"), Kind::Text},
        {QStringLiteral("valorOriginal"), QStringLiteral("707-000"), Kind::Text},
        {QStringLiteral("identificadorPontoCaptura"), QStringLiteral("718-000"), Kind::Text},
        {QStringLiteral("viasImprimir"), QStringLiteral("737-000"), Kind::Text},
        {QStringLiteral("resultadoTransacao"), QStringLiteral("009-000"), Kind::Integer},
        {QStringLiteral("identificadorConfirmacaoTransacao"), QStringLiteral("027-000"), Kind::Text},
        {QStringLiteral("valorDevido"), QStringLiteral("743-000"), Kind::Text},
        {QStringLiteral("modalidadePagamento"), QStringLiteral("749-000"), Kind::Text},
        {QStringLiteral("idPortadorCarteira"), QStringLiteral("750-000"), Kind::Text},
        {QStringLiteral("nsuTransacao"), QStringLiteral("043-000"), Kind::Text},
        {QStringLiteral("nsuTransacaoOriginal"), QStringLiteral("043-001"), Kind::Text},
        {QStringLiteral("nsuTerminal"), QStringLiteral("012-000"), Kind::Text},
        {QStringLiteral("nsuTerminalOriginal"), QStringLiteral("012-001"), Kind::Text},
        {QStringLiteral("provedor"), QStringLiteral("010-001"), Kind::Text},
        {QStringLiteral("requerConfirmacao"), QStringLiteral("729-000"), Kind::Bool},
        {QStringLiteral("respostaRede"), QStringLiteral("047-000"), Kind::Text},
    };
}

QVector<ProtocoloSitef::TagMapping> makeTefTags() {
    return {
        {QStringLiteral("loja"), QStringLiteral("375-019"), Kind::Text},
        {QStringLiteral("statusClient"), QStringLiteral("375-021"), Kind::Text},
        {QStringLiteral("versaoAC"), QStringLiteral("375-018"), Kind::Text},
        {QStringLiteral("servico"), QStringLiteral("375-022"), Kind::Text},
        {QStringLiteral("resultadoTransacao"), QStringLiteral("009-000"), Kind::Text},
        {QStringLiteral("mensagemResultado"), QStringLiteral("030-000"), Kind::Text},
        {QStringLiteral("identificadorPontoCaptura"), QStringLiteral("718-000"), Kind::Text},
        {QStringLiteral("transacao"), QStringLiteral("375-027"), Kind::Text},
        {QStringLiteral("nomeAC"), QStringLiteral("375-017"), Kind::Text},
        {QStringLiteral("sequencial"), QStringLiteral("375-026"), Kind::Text},
        {QStringLiteral("textoPinpad"), QStringLiteral("375-023"), Kind::Text},
        {QStringLiteral("nomeEstabelecimento"), QStringLiteral("375-016"), Kind::Text},
        {QStringLiteral("nsuTerminal"), QStringLiteral("012-000"), Kind::Text},
        {QStringLiteral("nomeProvedor"), QStringLiteral("010-000"), Kind::Text},
        {QStringLiteral("valorTotal"), QStringLiteral("003-000"), Kind::Text},
        {QStringLiteral("numeroParcelas"), QStringLiteral("018-000"), Kind::Text},
        {QStringLiteral("nomeProduto"), QStringLiteral("742-000"), Kind::Text},
        {QStringLiteral("nsuTransacao"), QStringLiteral("043-000"), Kind::Text},
        {QStringLiteral("cnpjCredenciadora"), QStringLiteral("600-000"), Kind::Text},
        {QStringLiteral("formaPagamento"), QStringLiteral("xxx"), Kind::Text},
        {QStringLiteral("tipoFinanciamento"), QStringLiteral("017-000"), Kind::Text},
        {QStringLiteral("tipoCartao"), QStringLiteral("731-000"), Kind::Text},
        {QStringLiteral("codigoAutorizacao"), QStringLiteral("013-000"), Kind::Text},
        {QStringLiteral("panMascarado"), QStringLiteral("740-000"), Kind::Text},
        {QStringLiteral("uniqueID"), QStringLiteral("375-004"), Kind::Text},
        {QStringLiteral("nomeBandeira"), QStringLiteral("010-002"), Kind::Text},
        {QStringLiteral("comprovanteDiferenciadoLoja"), QStringLiteral("714-000|715-xxx"), Kind::Text},
        {QStringLiteral("comprovanteDiferenciadoPortador"), QStringLiteral("712-000|713-xxx"), Kind::Text},
    };
}

} // namespace

ProtocoloSitef::ProtocoloSitef(QObject *parent)
    : QObject(parent)
    , bridgeTags(makeBridgeTags())
    , tefTags(makeTefTags())
    , m_requestKeys(makeRequestKeys())
    , m_sitefItems(makeSitefItems())
    , m_bridgeRows(rowsByName(bridgeTags))
    , m_tefRows(rowsByName(tefTags)) {}

QHash<QString, int> ProtocoloSitef::rowsByName(const QVector<TagMapping> &rows) {
    QHash<QString, int> byName;
    for (int i = 0; i < rows.size(); ++i)
        byName.insert(rows.at(i).name, i);
    return byName;
}

QHash<QString, ProtocoloSitef::RequestKey> ProtocoloSitef::makeRequestKeys() const {
    return {
        {TAG_001_000, {QStringLiteral("identificacao"), Condition::Always}},
        {TAG_210_052, {QStringLiteral("numero_pdv"), Condition::Always}},
        {TAG_731_000, {QStringLiteral("tipo_cartao"), Condition::Always}},
        {TAG_018_000, {QStringLiteral("quantidade_parcelas"), Condition::Always}},
        {TAG_017_000, {QStringLiteral("tipo_parcelamento"), Condition::Always}},
        {TAG_002_000, {QStringLiteral("documento"), Condition::NotAtvAdm}},
        {TAG_003_000, {QStringLiteral("valor"), Condition::NotAtvAdmCnfNcn}},
        {TAG_004_000, {QStringLiteral("moeda"), Condition::IsCrt}},
        {TAG_005_000, {QStringLiteral("cmc7"), Condition::HasChq}},
        {TAG_006_000, {QStringLiteral("tipo_pessoa"), Condition::HasChq}},
        {TAG_007_000, {QStringLiteral("documento_pessoa"), Condition::HasChq}},
        {TAG_008_000, {QStringLiteral("data_cheque"), Condition::HasChq}},
        {TAG_010_000, {QStringLiteral("nome_rede"), Condition::HasCncCnfNcn}},
        {TAG_011_000, {QStringLiteral("codigo_transacao"), Condition::Always}},
        {TAG_012_000, {QStringLiteral("numero_transacao"), Condition::HasCncCnfNcn}},
        {TAG_013_000, {QStringLiteral("codigo_autorizacao"), Condition::HasCnc}},
        {TAG_022_000, {QStringLiteral("data_transacao"), Condition::HasCnc}},
        {TAG_023_000, {QStringLiteral("hora_transacao"), Condition::HasCnc}},
        {TAG_027_000, {QStringLiteral("finalizacao"), Condition::HasCncCnfNcn}},
        {TAG_375_017, {QStringLiteral("aplicacao"), Condition::Always}},
        {TAG_375_018, {QStringLiteral("versao_aplicacao"), Condition::Always}},
        {TAG_375_016, {QStringLiteral("estabelecimento"), Condition::Always}},
        {TAG_375_019, {QStringLiteral("loja"), Condition::Always}},
        {TAG_718_000, {QStringLiteral("terminal"), Condition::Always}},
        {TAG_375_024, {QStringLiteral("adm_usuario"), Condition::Always}},
        {TAG_375_025, {QStringLiteral("adm_senha"), Condition::Always}},
        {TAG_999_999, {QStringLiteral("registro_final"), Condition::Always}},
    };
}

QJsonObject ProtocoloSitef::requestFallback(const QJsonObject &request) {
    const QJsonObject parametros = request.value(QLatin1String("parametros")).toObject();
    QJsonObject fallback;
    for (const char *name : {"tipo_cartao", "tipo_parcelamento", "quantidade_parcelas", "numero_transacao",
                             "data_transacao", "hora_transacao", "documento"}) {
        const QJsonValue value = parametros.value(QLatin1String(name));
        if (!value.isUndefined())
            fallback.insert(QLatin1String(name), value);
    }
    return fallback;
}

std::optional<int> ProtocoloSitef::resultNumber(const QJsonValue &value) {
    bool isNumber = false;
    int number = 0;
    if (value.isDouble()) {
        const double given = value.toDouble();
        isNumber = std::trunc(given) == given && given >= INT_MIN && given <= INT_MAX;
        number = isNumber ? static_cast<int>(given) : 0;
    } else if (value.isString()) {
        number = value.toString().trimmed().toInt(&isNumber, 10);
    }
    return isNumber ? std::optional<int>(number) : std::nullopt;
}

// Items absent from this table ("IdTerminal", "CodEstabCielo", "LogoPan", "CodIf",
// "CodAutenticacao" and any unknown name) write nothing.
QHash<QString, ProtocoloSitef::SitefItem> ProtocoloSitef::makeSitefItems() const {
    return {
        {QStringLiteral("Pan"), {TAG_010_004, ItemRule::Pan}},
        {QStringLiteral("ValorTrans"), {TAG_003_000, ItemRule::Plain}},
        {QStringLiteral("Nsu"), {TAG_012_000, ItemRule::Plain}},
        {QStringLiteral("HoraTrans"), {TAG_023_000, ItemRule::Plain}},
        {QStringLiteral("DataTrans"), {TAG_022_000, ItemRule::DataTrans}},
        {QStringLiteral("DataValidadeCartao"), {TAG_300_001, ItemRule::Plain}},
        {QStringLiteral("DataContabilTrans"), {TAG_701_016, ItemRule::Plain}},
        {QStringLiteral("CodAutorizacao"), {TAG_013_000, ItemRule::Plain}},
        {QStringLiteral("CodResposta"), {TAG_047_000, ItemRule::Plain}},
        {QStringLiteral("CodEstabelecimento"), {TAG_150_001, ItemRule::Plain}},
        {QStringLiteral("NroParcelas"), {TAG_018_000, ItemRule::Plain}},
        {QStringLiteral("TaxaServico"), {TAG_050_000, ItemRule::Plain}},
        {QStringLiteral("NsuHost"), {TAG_043_000, ItemRule::Plain}},
        {QStringLiteral("CodBandeira"), {TAG_010_003, ItemRule::Plain}},
        {QStringLiteral("CodServico"), {TAG_010_007, ItemRule::Plain}},
        {QStringLiteral("NroControle"), {TAG_011_000, ItemRule::Plain}},
        {QStringLiteral("CodRede"), {TAG_010_001, ItemRule::Plain}},
        {QStringLiteral("NomeBandeira"), {TAG_010_002, ItemRule::Plain}},
        {QStringLiteral("NomeRede"), {TAG_010_000, ItemRule::Plain}},
        {QStringLiteral("Trilha02"), {TAG_210_004, ItemRule::Trilha02}},
        {QStringLiteral("SaldoDisponivel"), {TAG_210_065, ItemRule::Plain}},
        {QStringLiteral("NsuTransOriginal"), {TAG_012_001, ItemRule::Plain}},
        {QStringLiteral("FormaFinanciamento"), {TAG_017_000, ItemRule::FormaFinanciamento}},
        {QStringLiteral("NsuHostTransOriginal"), {TAG_043_001, ItemRule::Plain}},
        {QStringLiteral("CodOperadoraCelular"), {TAG_504_000, ItemRule::Plain}},
        {QStringLiteral("CodArea"), {TAG_150_003, ItemRule::Plain}},
        {QStringLiteral("NroTelefone"), {TAG_805_000, ItemRule::Plain}},
        {QStringLiteral("TaxaEmbarque"), {TAG_050_001, ItemRule::Plain}},
        {QStringLiteral("CodEmpresa"), {TAG_150_000, ItemRule::Plain}},
        {QStringLiteral("NroPdv"), {TAG_210_052, ItemRule::Plain}},
        {QStringLiteral("ValorSaque"), {TAG_200_000, ItemRule::Plain}},
        {QStringLiteral("CnpjCredenciadora"), {TAG_600_000, ItemRule::Plain}},
    };
}

bool ProtocoloSitef::sameReference(const QString &a, const QString &b) {
    if (a.isEmpty() || b.isEmpty())
        return false;
    const auto digits = [](const QString &text) {
        return std::all_of(text.cbegin(), text.cend(),
                           [](QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); });
    };
    const auto significant = [](const QString &text) {
        int first = 0;
        while (first < text.size() - 1 && text.at(first) == QLatin1Char('0'))
            ++first;
        return text.mid(first);
    };
    return digits(a) && digits(b) ? significant(a) == significant(b) : a == b;
}
