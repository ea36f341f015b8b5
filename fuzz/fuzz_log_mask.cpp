#include "base/Log.h"
#include "fuzz/FuzzSupport.h"

#include <QRegularExpression>

// Whatever the text (DEL stands for a surrogate without its pair), a log line is valid UTF-16
// without control characters, grows only by its escapes, and shows no card number: no 16 digits
// in a row, single blanks, dashes or dots between them allowed, that pass Luhn.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const QString text = fuzz::inputText(data, size).replace(QChar(0x7f), QChar(0xdc00));
    const QString line = Log::safe(text);
    static const QRegularExpression control("[\\x{0}-\\x{1f}]"), run("[0-9](?:[ .-]?[0-9])*");
    fuzz::require(line.size() <= 7 * text.size() && line.isValidUtf16() && !line.contains(control),
                  "a valid line, no longer than its escapes make it", line);
    for (QRegularExpressionMatchIterator it = run.globalMatch(line); it.hasNext();) {
        const QString digits = it.next().captured().remove(QRegularExpression("[ .-]"));
        for (int start = 0, sum = 0; start + 16 <= digits.size(); ++start, sum = 0) {
            for (int k = 0; k < 16; ++k) {
                const int digit = digits.at(start + 15 - k).digitValue();
                sum += k % 2 ? 2 * digit - (digit > 4 ? 9 : 0) : digit;
            }
            fuzz::require(sum % 10 != 0, "no Luhn-valid 16 digits", line);
        }
    }
    return 0;
}
