#include "base/Log.h"
#include "fuzz/FuzzSupport.h"

#include <QRegularExpression>

#include <algorithm>

// Whatever the text (DEL stands for a surrogate without its pair), a log line is valid UTF-16
// without control characters, grows only by its escapes, and shows no card number: no 16 digits
// in a row, single blanks, dashes or dots between them allowed, that pass Luhn.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const QString text = fuzz::inputText(data, size).replace(QChar(0x7f), QChar(0xdc00));
    const QString line = Log::safe(text);
    fuzz::require(line.size() <= 7 * text.size() && line.isValidUtf16(), "bounded, valid growth", line);
    fuzz::require(std::none_of(line.cbegin(), line.cend(), [](QChar c) { return c < QChar(0x20); }),
                  "no control character", line);
    static const QRegularExpression run(QStringLiteral("[0-9](?:[ .-]?[0-9])*"));
    for (QRegularExpressionMatchIterator it = run.globalMatch(line); it.hasNext();) {
        const QString digits = it.next().captured().remove(QRegularExpression(QStringLiteral("[ .-]")));
        for (int start = 0, sum = 0; start + 16 <= digits.size(); ++start, sum = 0) {
            for (int k = 0; k < 16; ++k) {
                const int digit = (digits.at(start + 15 - k).unicode() - '0') * (k % 2 + 1);
                sum += digit > 9 ? digit - 9 : digit;
            }
            fuzz::require(sum % 10 != 0, "no Luhn-valid 16 digits", line);
        }
    }
    return 0;
}
