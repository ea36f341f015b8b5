#pragma once

// Property checks shared by the harnesses: a violated property aborts, which libFuzzer
// reports like a crash and keeps the input as an artifact.

#include <QRegularExpression>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace fuzz {

inline void silence(QtMsgType, const QMessageLogContext &, const QString &) {}

// Diagnostics of the code under test would only slow the fuzzer down.
inline void silenceQtMessages() {
    qInstallMessageHandler(silence);
}

inline void require(bool holds, const char *property, const QString &detail = QString()) {
    if (holds)
        return;
    std::fprintf(stderr, "property violated: %s\n%s\n", property, qUtf8Printable(detail));
    std::abort();
}

// Response lines: tag " = " value, no line break inside, sorted, "999-999 = 0" last.
// With `uniqueTags`, no tag may occur twice.
inline void checkResponseLines(const QStringList &lines, bool uniqueTags) {
    static const QRegularExpression tagShape(QStringLiteral("\\A[0-9]{3}-[0-9]{3,}\\z"));
    require(!lines.isEmpty() && lines.last() == QLatin1String("999-999 = 0"), "ends with 999-999 = 0",
            lines.join(QLatin1Char('|')));
    require(std::is_sorted(lines.cbegin(), lines.cend()), "lines sorted", lines.join(QLatin1Char('|')));
    QSet<QString> tags;
    for (const QString &line : lines) {
        // Values may hold anything but a line break (even a lone surrogate, which the
        // regular expression engine would refuse), so only the tag is matched.
        const int equals = line.indexOf(QLatin1String(" = "));
        const QString tag = line.left(equals);
        require(equals > 0 && tagShape.match(tag).hasMatch(), "line is tag = value", line);
        require(!line.contains(QLatin1Char('\r')) && !line.contains(QLatin1Char('\n')),
                "no line break in a value", line);
        require(!uniqueTags || !tags.contains(tag), "tag written once", line);
        tags.insert(tag);
    }
}

} // namespace fuzz
