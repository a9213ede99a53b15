#pragma once

#include <QString>

namespace cavrel {

// The one error of the hub client. Whatever went wrong (the hub refused a request, the
// connection failed, a reply did not read, a body could not be written), the UI shows
// `errorDescription()` and nothing else; `kind` lets callers and tests tell the cases apart
// without parsing the text.
struct APIError {
    enum class Kind {
        Refused,   // the hub answered outside 200...299: "<METHOD> <path> failed: <body>"
        Transport, // no usable HTTP reply: refused connection, time-out, closed socket
        Decoding,  // a reply that does not read as the expected record or list
        Encoding,  // a request body that cannot be written as JSON; nothing was sent
    };

    Kind kind = Kind::Refused;
    QString message;

    APIError() = default;
    explicit APIError(QString message, Kind kind = Kind::Refused)
        : kind(kind), message(std::move(message)) {}

    // The text an error alert shows: the message with nothing added.
    const QString& errorDescription() const { return message; }

    bool operator==(const APIError&) const = default;
};

} // namespace cavrel
