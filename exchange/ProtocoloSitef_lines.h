#pragma once

// Private to the writers of ProtocoloSitef: the lines of a response being built, and the
// conversions they share.

#include "exchange/ProtocoloSitef.h"

#include <QJsonValue>
#include <QStringList>
#include <QStringView>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace protocolo {

// The complete receipt: its count and its numbered lines.
constexpr QStringView kCompleteReceipt(u"028-000|029-xxx");

// A whole number, as a JSON number or as a text holding one, in decimal; "0" for anything else.
// The range check keeps the conversion defined for numbers no 64-bit integer can hold.
inline QString asInteger(const QJsonValue &value) {
    if (value.isString()) {
        bool isNumber = false;
        const qint64 number = value.toString().trimmed().toLongLong(&isNumber, 10);
        return QString::number(isNumber ? number : 0);
    }
    if (!value.isDouble())
        return QStringLiteral("0");
    const double number = value.toDouble();
    constexpr double limit = -static_cast<double>(std::numeric_limits<qint64>::min());
    if (std::trunc(number) != number || number < -limit || number >= limit)
        return QStringLiteral("0");
    return QString::number(static_cast<qint64>(number));
}

// 009-000: the result's number, -1 when it holds none, so that nothing but a library's 0
// reads as approved.
inline QString asResult(const QJsonValue &value) {
    return QString::number(ProtocoloSitef::resultNumber(value).value_or(-1));
}

// What 030-000 says of an answer that carries no message of its own.
inline QString defaultMessage(bool approved) {
    return approved ? QStringLiteral("Transação aprovada") : QStringLiteral("Transação não aprovada");
}

// A JSON value that may be a string or a number, such as an identification, as its text.
inline QString textOf(const QJsonValue &value) {
    return value.isDouble() ? asInteger(value) : value.toString();
}

inline QString asBool(const QJsonValue &value) {
    return value.toBool(false) ? QStringLiteral("true") : QStringLiteral("false");
}

// A line break inside a value would split the line in the sales application's reader and
// could even forge a line of its own (say "009-000 = 0"), so values never carry one.
inline bool hasLineBreak(QStringView text) {
    return std::any_of(text.cbegin(), text.cend(), [](QChar c) { return c == u'\n' || c == u'\r'; });
}

// A position of a counted block: at least three digits, zero-padded.
inline QStringView positionDigits(int position, char16_t (&buffer)[12]) {
    char16_t *const end = std::end(buffer);
    char16_t *first = end;
    auto rest = static_cast<unsigned>(position);
    do {
        *--first = static_cast<char16_t>(u'0' + rest % 10);
        rest /= 10;
    } while (rest != 0);
    while (end - first < 3)
        *--first = u'0';
    return QStringView(first, end);
}

// What text.split(separator).value(n) gives for n = 0 and 1, without copying.
inline QStringView part(QStringView text, QChar separator, int n) {
    const qsizetype first = text.indexOf(separator);
    if (n == 0)
        return first < 0 ? text : text.left(first);
    if (first < 0)
        return QStringView();
    const QStringView rest = text.mid(first + 1);
    const qsizetype next = rest.indexOf(separator);
    return next < 0 ? rest : rest.left(next);
}

} // namespace protocolo

// The lines of a response, in the layout of lineFormat, written back to back into one buffer
// and put in order only when joined. A response holds a hundred lines and more: a string
// and a list node for each, and sorting them with whole-string comparisons, cost more than
// everything else but parsing the document.
class ProtocoloSitef::Lines {
public:
    explicit Lines(int expectedChars = 1024) {
        m_text.reserve(expectedChars);
        m_lines.reserve(128);
    }

    // "tag = value", the tag given in up to three pieces.
    void add(QStringView tag, QStringView value) { add(tag, QStringView(), QStringView(), value); }
    void add(QStringView head, QStringView middle, QStringView tail, QStringView value) {
        static constexpr QStringView equals(u" = ");
        const int begin = m_text.size();
        m_text.resize(begin + static_cast<int>(head.size() + middle.size() + tail.size() + equals.size() +
                                               value.size()));
        QChar *out = m_text.data() + begin;
        for (const QStringView piece : {head, middle, tail, equals, value})
            out = copy(piece, out);
        if (protocolo::hasLineBreak(value)) {
            // Only the new line is compacted; the buffer before it is left as it is.
            QChar *const first = m_text.data() + begin;
            QChar *const last = std::remove_if(first, m_text.data() + m_text.size(),
                                               [](QChar c) { return c == u'\n' || c == u'\r'; });
            m_text.truncate(static_cast<int>(last - m_text.constData()));
        }
        m_lines.push_back({begin, m_text.size() - begin});
    }

    // The line of a Bool, Integer or Text row; LineList rows are blocks of their own.
    void addValue(const TagMapping &row, const QJsonValue &value) {
        switch (row.kind) {
        case ValueKind::Bool:
            add(row.tag, protocolo::asBool(value));
            break;
        case ValueKind::Integer:
            add(row.tag, protocolo::asInteger(value));
            break;
        default:
            add(row.tag, value.toString());
            break;
        }
    }

    // Every text on its numbered line ("xxx" of the line tag pattern is the 1-based
    // position), then the count line: the number of texts unless `count` says otherwise.
    void addNumbered(QStringView tags, const QStringList &texts, int count = -1) {
        const QStringView countTag = protocolo::part(tags, u'|', 0);
        const QStringView pattern = protocolo::part(tags, u'|', 1);
        const qsizetype at = pattern.indexOf(QLatin1String("xxx"));
        const QStringView head = at < 0 ? pattern : pattern.left(at);
        const QStringView tail = at < 0 ? QStringView() : pattern.mid(at + 3);
        char16_t buffer[12];
        for (int i = 0; i < texts.size(); ++i)
            add(head, protocolo::positionDigits(i + 1, buffer), tail, texts.at(i));
        add(countTag, QString::number(count < 0 ? texts.size() : count));
    }

    // Whether addTextBlock leaves `texts` out: a block holding a single blank text.
    static bool isBlankBlock(const QStringList &texts) {
        return texts.size() == 1 && texts.first().trimmed().isEmpty();
    }

    void addTextBlock(QStringView tags, const QStringList &texts) {
        if (!isBlankBlock(texts))
            addNumbered(tags, texts);
    }

    int size() const { return static_cast<int>(m_lines.size()); }

    bool anyStartsWith(QStringView prefix) const {
        return std::any_of(m_lines.cbegin(), m_lines.cend(),
                           [&](const Span &span) { return view(span).startsWith(prefix); });
    }

    void removeStartingWith(QStringView prefix) {
        m_lines.erase(std::remove_if(m_lines.begin(), m_lines.end(),
                                     [&](const Span &span) { return view(span).startsWith(prefix); }),
                      m_lines.end());
    }

    // Every line of `tag`.
    void removeTag(QStringView tag) { removeStartingWith(tag.toString() + QLatin1String(" = ")); }

    // The value of the first line of `tag`; null when there is none.
    QString valueOf(QStringView tag) const {
        const QString prefix = tag.toString() + QLatin1String(" = ");
        for (const Span &span : m_lines)
            if (view(span).startsWith(prefix))
                return view(span).mid(prefix.size()).toString();
        return QString();
    }

    // The lines in the order they were added.
    QStringList toList() const {
        QStringList list;
        list.reserve(size());
        for (const Span &span : m_lines)
            list << view(span).toString();
        return list;
    }

    // The lines in QStringList::sort() order (code unit by code unit, a prefix before what
    // it begins), joined by `separator` and, with `trailing`, ended by it too. Lines mostly
    // differ within their first eight code units: packed into two integers, those settle
    // nearly every comparison, and equal packs fall back to comparing whole lines.
    QString sortedJoin(QStringView separator, bool trailing) const {
        struct Entry {
            quint64 head;
            quint64 next;
            Span span;
        };
        std::vector<Entry> entries;
        entries.reserve(m_lines.size());
        qsizetype length = trailing || m_lines.empty() ? 0 : -separator.size();
        for (const Span &span : m_lines) {
            const QStringView line = view(span);
            entries.push_back({pack(line, 0), pack(line, 4), span});
            length += span.size + separator.size();
        }
        std::sort(entries.begin(), entries.end(), [this](const Entry &a, const Entry &b) {
            if (a.head != b.head)
                return a.head < b.head;
            if (a.next != b.next)
                return a.next < b.next;
            return view(a.span) < view(b.span);
        });

        QString joined(static_cast<int>(length), Qt::Uninitialized);
        QChar *out = joined.data();
        for (size_t i = 0; i < entries.size(); ++i) {
            if (i > 0)
                out = copy(separator, out);
            out = copy(view(entries[i].span), out);
        }
        if (trailing && !entries.empty())
            copy(separator, out);
        return joined;
    }

private:
    struct Span {
        int begin;
        int size;
    };

    QStringView view(const Span &span) const { return QStringView(m_text).mid(span.begin, span.size); }

    // Returns the end of the copy. An empty view may carry no data: never hand that to memcpy.
    static QChar *copy(QStringView text, QChar *out) {
        if (text.isEmpty())
            return out;
        std::memcpy(static_cast<void *>(out), text.data(), static_cast<size_t>(text.size()) * sizeof(QChar));
        return out + text.size();
    }

    // Four code units from `from` as one number in the same order; missing ones count as
    // zero, which keeps a line before every longer line it begins.
    static quint64 pack(QStringView text, int from) {
        quint64 packed = 0;
        for (int i = from; i < from + 4; ++i)
            packed = (packed << 16) | (i < text.size() ? text[i].unicode() : 0u);
        return packed;
    }

    QString m_text;
    std::vector<Span> m_lines;
};
