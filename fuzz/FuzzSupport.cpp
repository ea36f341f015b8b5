#include "fuzz/FuzzSupport.h"

#include "exchange/ProtocoloSitef.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

// Diagnostics of the code under test would only slow the fuzzer down.
extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    return 0;
}

namespace fuzz {

QString inputText(const std::uint8_t *data, std::size_t size) {
    return QString::fromUtf8(reinterpret_cast<const char *>(data), static_cast<int>(size));
}

void require(bool holds, const char *property, const QString &detail) {
    if (holds)
        return;
    std::fprintf(stderr, "property violated: %s\n%s\n", property, qUtf8Printable(detail));
    std::abort();
}

void checkWriter(const std::uint8_t *data, std::size_t size, Writer writer, bool sitef, QStringList fixed) {
    static const QRegularExpression tagShape(QStringLiteral("\\A[0-9]{3}-[0-9]{3,}\\z"));
    static ProtocoloSitef padrao;
    static ProtocoloSitef tefDial;
    tefDial.setCompatibilidade(ProtocoloSitef::Compatibilidade::TefDial);
    const QString json = inputText(data, size);
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(json.toUtf8(), &error);
    const bool nothing = sitef ? error.error != QJsonParseError::NoError : document.object().isEmpty();
    for (const ProtocoloSitef *protocolo : {&padrao, &tefDial}) {
        QString text = (protocolo->*writer)(json);
        require(text.isEmpty() == nothing, "empty exactly for no document", json);
        if (text.isEmpty())
            continue;
        const QString &separator = protocolo->lineSeparator;
        require(!sitef || text.endsWith(separator), "every line ended by CR LF", text);
        if (sitef)
            text.chop(separator.size());
        if (protocolo == &tefDial)
            fixed += QStringList{"022-000 = ", "023-000 = ", "027-000 = ", "729-000 = "};
        const QStringList lines = text.split(separator);
        require(lines.last() == QLatin1String("999-999 = 0"), "ends with 999-999 = 0", text);
        require(std::is_sorted(lines.cbegin(), lines.cend()), "lines sorted", text);
        QSet<QString> tags;
        for (const QString &line : lines) {
            // Values may hold anything but a line break (even a lone surrogate, which the
            // regular expression engine would refuse), so only the tag is matched.
            const int equals = line.indexOf(QLatin1String(" = "));
            const QString tag = line.left(equals);
            require(equals > 0 && tagShape.match(tag).hasMatch(), "line is tag = value", line);
            require(!line.contains(QLatin1Char('\r')) && !line.contains(QLatin1Char('\n')),
                    "no line break in a value", line);
            require(sitef || !tags.contains(tag), "tag written once", line);
            tags.insert(tag);
        }
        for (const QString &prefix : fixed)
            require(std::any_of(lines.cbegin(), lines.cend(),
                                [&](const QString &l) { return l.startsWith(prefix); }),
                    "fixed lines present", text);
    }
}

} // namespace fuzz
