#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace cavrel {

// Decodes UTF-8 text, refusing anything malformed (overlong forms, surrogates, truncated
// sequences). QString::fromUtf8 would quietly put U+FFFD in place of bad bytes, but a config
// file or git output that is not UTF-8 must be treated as unreadable, not as altered text.
std::optional<QString> decodeStrictUtf8(const QByteArray& bytes);

} // namespace cavrel
