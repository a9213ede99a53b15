// The kitty graphics command flow: chunked transmissions, dispatch by action, transmit and put,
// and the replies.

#include "Terminal.h"

#include <string>

namespace veldatron {

void Terminal::handleKittyGraphics(std::span<const uint8_t> data) {
    const KittyGraphicsCommand command = parseKittyGraphicsControl(data);
    std::optional<KittyGraphicsPending>& pending = m_kittyGraphicsState.pending;
    if (command.control.action == 'd' || command.control.action == 'D') {
        pending.reset();
    }
    if (command.control.more == 1) {
        if (!pending) {
            pending = KittyGraphicsPending{command.control, {}, false};
        }
        // The later chunks' control blocks are discarded: the first chunk's governs.
        if (!pending->overflowed) {
            if (int64_t(pending->base64Payload.size() + command.payload.size()) >
                m_kittyGraphicsState.maxPendingBytes) {
                pending->overflowed = true;
                std::vector<uint8_t>().swap(pending->base64Payload);
            } else {
                pending->base64Payload.insert(pending->base64Payload.end(), command.payload.begin(),
                                              command.payload.end());
            }
        }
        return;
    }
    if (pending) {
        KittyGraphicsPending transmission = std::move(*pending);
        pending.reset();
        if (!transmission.overflowed &&
            int64_t(transmission.base64Payload.size() + command.payload.size()) >
                m_kittyGraphicsState.maxPendingBytes) {
            transmission.overflowed = true;
        }
        if (transmission.overflowed) {
            sendKittyError(transmission.control, kittyBadPayload);
            return;
        }
        transmission.base64Payload.insert(transmission.base64Payload.end(), command.payload.begin(),
                                          command.payload.end());
        processKittyGraphics(transmission.control, transmission.base64Payload);
        return;
    }
    processKittyGraphics(command.control, command.payload);
}

void Terminal::processKittyGraphics(const KittyGraphicsControl& control,
                                    std::span<const uint8_t> base64Payload) {
    switch (control.action) {
    case 'q':
        // A query only tries the data, as direct data whatever the medium says.
        if (decodeKittyPayload(control, base64Payload)) {
            sendKittyOk(control, control.imageId, control.imageNumber, control.placementId);
        } else {
            sendKittyError(control, kittyBadPayload);
        }
        return;
    case 't':
        handleKittyTransmit(control, base64Payload, false);
        return;
    case 'T':
        handleKittyTransmit(control, base64Payload, true);
        return;
    case 'p':
        handleKittyPut(control);
        return;
    case 'd':
    case 'D':
        handleKittyDelete(control);
        return;
    default:
        sendKittyError(control, "EINVAL: unsupported action");
        return;
    }
}

void Terminal::handleKittyTransmit(const KittyGraphicsControl& control,
                                   std::span<const uint8_t> base64Payload, bool display) {
    if (control.imageId && control.imageNumber) {
        sendKittyError(control, "EINVAL: i and I are mutually exclusive");
        return;
    }
    KittyPayloadResult loaded = loadKittyPayload(control, base64Payload);
    if (loaded.errorMessage) {
        sendKittyError(control, *loaded.errorMessage);
        return;
    }
    if (!loaded.payload) {
        sendKittyError(control, kittyBadPayload);
        return;
    }
    handleKittyTransmitPayload(control, *loaded.payload, display);
}

void Terminal::handleKittyTransmitPayload(const KittyGraphicsControl& control,
                                          const KittyGraphicsPayload& payload, bool display) {
    KittyGraphicsState& state = m_kittyGraphicsState;
    uint32_t imageId = 0;
    if (control.imageNumber) {
        // Ids for numbers count on without looking at the ids in use; the counter wraps.
        imageId = state.nextImageId++;
        storeKittyImage(payload, imageId, control.imageNumber);
    } else if (control.imageId) {
        imageId = *control.imageId;
        storeKittyImage(payload, imageId, std::nullopt);
    } else {
        if (display) {
            displayKittyImage(payload, control, std::nullopt, std::nullopt);
        }
        return;
    }
    if (display && !displayKittyImage(payload, control, imageId, control.imageNumber)) {
        return;
    }
    sendKittyOk(control, imageId, control.imageNumber, control.placementId);
}

void Terminal::handleKittyPut(const KittyGraphicsControl& control) {
    KittyGraphicsState& state = m_kittyGraphicsState;
    std::optional<uint32_t> imageId;
    std::optional<uint32_t> imageNumber;
    if (control.imageNumber) {
        const auto number = state.imageNumbers.find(*control.imageNumber);
        if (number != state.imageNumbers.end() && state.imagesById.count(number->second) != 0) {
            imageId = number->second;
            imageNumber = control.imageNumber;
        }
    }
    if (!imageId && control.imageId && state.imagesById.count(*control.imageId) != 0) {
        imageId = control.imageId;
    }
    const KittyGraphicsImage* image = imageId ? updateKittyImageAccess(*imageId) : nullptr;
    if (image == nullptr) {
        sendKittyError(control, "ENOENT: image not found");
        return;
    }
    // The display may evict nothing, but it calls the host: hold the payload, not the entry.
    const KittyGraphicsPayload payload = image->payload;
    if (displayKittyImage(payload, control, imageId, imageNumber)) {
        sendKittyOk(control, imageId, imageNumber, control.placementId);
    }
}

// ---- Replies --------------------------------------------------------------------------------

void Terminal::sendKittyOk(const KittyGraphicsControl& control, std::optional<uint32_t> imageId,
                           std::optional<uint32_t> imageNumber,
                           std::optional<uint32_t> placementId) {
    // q=1 keeps the failures coming; q=2 (or any other value) silences everything.
    if (control.suppressResponses != 0) {
        return;
    }
    std::string body = "G";
    const auto item = [&](const char* key, std::optional<uint32_t> value) {
        if (value) {
            body += body.size() > 1 ? "," : "";
            body += key;
            body += std::to_string(*value);
        }
    };
    item("i=", imageId);
    item("I=", imageNumber);
    item("p=", placementId);
    body += ";OK";
    sendResponse(m_cc.apc(), body, m_cc.st());
}

void Terminal::sendKittyError(const KittyGraphicsControl& control, std::string_view message) {
    if (control.suppressResponses != 0 && control.suppressResponses != 1) {
        return;
    }
    std::string body = "G";
    if (control.imageId) {
        body += "i=" + std::to_string(*control.imageId);
    } else if (control.imageNumber) {
        body += "I=" + std::to_string(*control.imageNumber);
    }
    body += ";";
    body += message;
    sendResponse(m_cc.apc(), body, m_cc.st());
}

} // namespace veldatron
