#include "StrictUtf8.h"

#include <QStringDecoder>

namespace cavrel {

std::optional<QString> decodeStrictUtf8(const QByteArray& bytes) {
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError()) {
        return std::nullopt;
    }
    return text;
}

} // namespace cavrel
