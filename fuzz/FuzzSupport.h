#pragma once

// Shared by the harnesses: input decoding and property checks. A violated property aborts,
// which libFuzzer reports like a crash, keeping the input as an artifact.

#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>

class ProtocoloSitef;

namespace fuzz {

// The bytes as the monitor hands them on: UTF-8 text.
QString inputText(const std::uint8_t *data, std::size_t size);

void require(bool holds, const char *property, const QString &detail);

// One writer in both layouts on the input. The bridge and Tef01 writers (`sitef` false) give
// nothing for anything but a non-empty JSON object, otherwise lines joined by CR LF, each tag
// once; the SiTef writer gives nothing only for text that is not JSON, otherwise lines each
// ended by CR LF. Lines are tag " = " value, no line break inside, sorted, "999-999 = 0" last;
// `fixed` are always among them, and in the TEF Dial layout its date, time, control code and
// confirmation too.
using Writer = QString (ProtocoloSitef::*)(const QString &) const;
void checkWriter(const std::uint8_t *data, std::size_t size, Writer writer, bool sitef, QStringList fixed);

} // namespace fuzz
