#pragma once

// Shared by the harnesses: input decoding and property checks. A violated property aborts,
// which libFuzzer reports like a crash, keeping the input as an artifact.

#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>

namespace fuzz {

// The bytes as the monitor hands them on: UTF-8 text.
QString inputText(const std::uint8_t *data, std::size_t size);

void require(bool holds, const char *property, const QString &detail);

// Response lines: tag " = " value, no line break inside, sorted, "999-999 = 0" last, and
// every one of `fixedPrefixes` among them. With `uniqueTags`, no tag may occur twice.
void checkResponseLines(const QStringList &lines, bool uniqueTags, const QStringList &fixedPrefixes);

} // namespace fuzz
