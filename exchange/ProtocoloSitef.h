#pragma once

#include <QDateTime>
#include <QHash>
#include <QJsonArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVector>

#include <optional>

class QJsonObject;
class QJsonValue;

// Vocabulary of the file exchange with the sales application: tag constants, operation
// codes, line layout and the JSON-member-to-tag dictionaries, plus the request reader and
// the response writers built on them. Not changed after its owner has set it up, so one
// instance may be used from several threads at once.
//
// The reader and the writers report through Qt's message output only, never the log file.
//
// The writers speak one of two layouts: the service's own (the default), or the one sales
// applications of the TEF Dial kind read (one copy of each receipt, the kind of payment, date,
// time and control code in their forms). The owner chooses before the writers are used.
class ProtocoloSitef : public QObject {
    Q_OBJECT

public:
    enum class ValueKind : int { Bool = 0, Integer = 1, Text = 2, LineList = 3 };

    // One row of a dictionary. `tag` is a single tag ("375-000"), a date/time pair
    // ("022-000|023-000"), a counted block ("028-000|029-xxx") or the placeholder "xxx".
    struct TagMapping {
        QString name;
        QString tag;
        ValueKind kind;
    };

    explicit ProtocoloSitef(QObject *parent = nullptr);

    enum class Compatibilidade { Padrao, TefDial };
    void setCompatibilidade(Compatibilidade compatibilidade) { m_compatibilidade = compatibilidade; }
    Compatibilidade compatibilidade() const { return m_compatibilidade; }
    // Where a TEF Dial response takes the date and time the library does not give, and the
    // ground of its control codes; tests fix it.
    using Clock = QDateTime (*)();
    void setClock(Clock clock) { m_clock = clock; }

    const QString TAG_000_000 = QStringLiteral("000-000");
    const QString TAG_001_000 = QStringLiteral("001-000");
    const QString TAG_002_000 = QStringLiteral("002-000");
    const QString TAG_003_000 = QStringLiteral("003-000");
    const QString TAG_004_000 = QStringLiteral("004-000");
    const QString TAG_005_000 = QStringLiteral("005-000");
    const QString TAG_006_000 = QStringLiteral("006-000");
    const QString TAG_007_000 = QStringLiteral("007-000");
    const QString TAG_008_000 = QStringLiteral("008-000");
    const QString TAG_009_000 = QStringLiteral("009-000");
    const QString TAG_010_000 = QStringLiteral("010-000");
    const QString TAG_010_001 = QStringLiteral("010-001");
    const QString TAG_010_002 = QStringLiteral("010-002");
    const QString TAG_010_003 = QStringLiteral("010-003");
    const QString TAG_010_004 = QStringLiteral("010-004");
    const QString TAG_010_005 = QStringLiteral("010-005");
    const QString TAG_010_006 = QStringLiteral("010-006");
    const QString TAG_010_007 = QStringLiteral("010-007");
    const QString TAG_011_000 = QStringLiteral("011-000");
    const QString TAG_012_000 = QStringLiteral("012-000");
    const QString TAG_012_001 = QStringLiteral("012-001");
    const QString TAG_013_000 = QStringLiteral("013-000");
    const QString TAG_017_000 = QStringLiteral("017-000");
    const QString TAG_018_000 = QStringLiteral("018-000");
    const QString TAG_022_000 = QStringLiteral("022-000");
    const QString TAG_023_000 = QStringLiteral("023-000");
    const QString TAG_027_000 = QStringLiteral("027-000");
    const QString TAG_028_000 = QStringLiteral("028-000");
    const QString TAG_030_000 = QStringLiteral("030-000");
    const QString TAG_043_000 = QStringLiteral("043-000");
    const QString TAG_043_001 = QStringLiteral("043-001");
    const QString TAG_047_000 = QStringLiteral("047-000");
    const QString TAG_050_000 = QStringLiteral("050-000");
    const QString TAG_050_001 = QStringLiteral("050-001");
    const QString TAG_150_000 = QStringLiteral("150-000");
    const QString TAG_150_001 = QStringLiteral("150-001");
    const QString TAG_150_003 = QStringLiteral("150-003");
    const QString TAG_200_000 = QStringLiteral("200-000");
    const QString TAG_210_004 = QStringLiteral("210-004");
    const QString TAG_210_052 = QStringLiteral("210-052");
    const QString TAG_210_065 = QStringLiteral("210-065");
    const QString TAG_300_001 = QStringLiteral("300-001");
    const QString TAG_504_000 = QStringLiteral("504-000");
    const QString TAG_600_000 = QStringLiteral("600-000");
    const QString TAG_701_016 = QStringLiteral("701-016");
    const QString TAG_718_000 = QStringLiteral("718-000");
    const QString TAG_731_000 = QStringLiteral("731-000");
    const QString TAG_742_000 = QStringLiteral("742-000");
    const QString TAG_805_000 = QStringLiteral("805-000");
    const QString TAG_999_999 = QStringLiteral("999-999");

    const QString OP_ADM = QStringLiteral("ADM");
    const QString OP_CRT = QStringLiteral("CRT");
    const QString OP_CNC = QStringLiteral("CNC");
    const QString OP_CNF = QStringLiteral("CNF");
    const QString OP_NCN = QStringLiteral("NCN");
    const QString OP_ATV = QStringLiteral("ATV");

    const QString TAG_375_004 = QStringLiteral("375-004");
    const QString TAG_375_016 = QStringLiteral("375-016");
    const QString TAG_375_017 = QStringLiteral("375-017");
    const QString TAG_375_018 = QStringLiteral("375-018");
    const QString TAG_375_019 = QStringLiteral("375-019");
    const QString TAG_375_021 = QStringLiteral("375-021");
    const QString TAG_375_022 = QStringLiteral("375-022");
    const QString TAG_375_023 = QStringLiteral("375-023");
    const QString TAG_375_024 = QStringLiteral("375-024");
    const QString TAG_375_025 = QStringLiteral("375-025");
    const QString TAG_375_026 = QStringLiteral("375-026");
    const QString TAG_375_027 = QStringLiteral("375-027");

    const QString lineFormat = QStringLiteral("%1 = %2");
    const QString lineSeparator = QStringLiteral("\r\n");

    // Response document of the bridge product, and the member "tef" of the Tef01 one.
    const QVector<TagMapping> bridgeTags;
    const QVector<TagMapping> tefTags;

    // Request file text -> request document as compact JSON. Never fails: an invalid
    // request yields a document carrying "msg_erro".
    QString parseRequest(const QString &content) const;
    // The non-empty lines of a request file: a line ends at CR LF, LF or a lone CR, as the
    // writing platform has it.
    static QVector<QStringRef> requestLines(const QString &content);

    // What a response document carries of its request under "requisicao", for the TEF Dial
    // layout to fall back on where the library's reply is silent: the card and instalments asked
    // for, and the transaction a cancellation names. Empty when the request holds none of them.
    // Both layouts echo its fiscal document ("documento", 002-000), which some clients require.
    static QJsonObject requestFallback(const QJsonObject &request);

    // A result or code of a payment library: a whole JSON number, or a text that holds one
    // ("51"). None for anything else (absent, a word, a fraction, beyond int), which is never an
    // approval: only a 0 read this way is.
    static std::optional<int> resultNumber(const QJsonValue &value);
    // Whether two NSUs or control codes, as sales applications echo them, name the same
    // transaction: all digits, they compare as numbers (leading zeros ignored); else as text. An
    // empty one names nothing.
    static bool sameReference(const QString &a, const QString &b);

    // Line builders shared by the writers.
    QStringList operationLine(const QString &tag, const QString &operation) const;
    QStringList dateTimeLines(const QString &tags, const QString &value) const;
    QStringList lineBlock(const QString &tags, const QJsonArray &texts) const;

    // Response document (JSON text) -> response file text. The bridge and Tef01 writers
    // join the lines with CR LF; the SiTef writer ends every line with CR LF.
    QString buildBridgeResponse(const QString &json) const;
    QString buildTefResponse(const QString &json) const;
    QString buildSitefResponse(const QString &json) const;

private:
    // When a request key is accepted, judged on the request's operation code (its last "000-000").
    enum class Condition { Always, NotAtvAdm, NotAtvAdmCnfNcn, IsCrt, HasChq, HasCncCnfNcn, HasCnc };
    struct RequestKey {
        QString member;
        Condition condition;
    };

    // How a transaction data item of the SiTef layout is turned into lines.
    enum class ItemRule { Plain, Pan, DataTrans, Trilha02, FormaFinanciamento };
    struct SitefItem {
        QString tag;
        ItemRule rule;
    };

    // The lines of a response being built (ProtocoloSitef_lines.h).
    class Lines;
    // What a writer knows of a transaction for the TEF Dial layout (ProtocoloSitef_tefdial.cpp).
    struct TefDial;

    QHash<QString, RequestKey> makeRequestKeys() const;
    QHash<QString, SitefItem> makeSitefItems() const;

    bool accepts(Condition condition, const QString &operation) const;
    int operationNumber(const QString &code) const;
    void addOperation(Lines &lines, const QString &tag, const QString &operation) const;
    void addDateTime(Lines &lines, const QString &tags, const QString &value) const;
    void addSitefItem(Lines &lines, const QString &item) const;
    void echoDocument(Lines &lines, const QJsonObject &document) const;
    // The TEF Dial layout: what each writer knows, and the changes all three share.
    void tefDialBridge(Lines &lines, const QJsonObject &document, const QStringList &storeCopy,
                       const QStringList &holderCopy) const;
    void tefDialTef(Lines &lines, const QJsonObject &document, const QJsonObject &tef,
                    const QStringList &storeCopy, const QStringList &holderCopy,
                    const QString &formaPagamento) const;
    void tefDialSitef(Lines &lines, const QJsonObject &document) const;
    void adaptTefDial(Lines &lines, const TefDial &facts) const;

    static QHash<QString, int> rowsByName(const QVector<TagMapping> &rows);

    const QHash<QString, RequestKey> m_requestKeys;
    const QHash<QString, SitefItem> m_sitefItems;
    // Row of each dictionary member name, so the writers read a document's members in one pass.
    const QHash<QString, int> m_bridgeRows;
    const QHash<QString, int> m_tefRows;

    Compatibilidade m_compatibilidade = Compatibilidade::Padrao;
    Clock m_clock = &QDateTime::currentDateTime;
};
