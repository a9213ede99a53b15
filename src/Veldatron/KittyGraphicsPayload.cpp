#include "KittyGraphicsPayload.h"

#include "TextDecoding.h"

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace veldatron {

using namespace KittyGraphicsLimits;

// ---- The payload ----------------------------------------------------------------------------

KittyGraphicsPayload KittyGraphicsPayload::png(std::vector<uint8_t> data) {
    KittyGraphicsPayload payload;
    payload.m_png = std::make_shared<const std::vector<uint8_t>>(std::move(data));
    return payload;
}

KittyGraphicsPayload KittyGraphicsPayload::rgba(RgbaImage image) {
    KittyGraphicsPayload payload;
    payload.m_rgba = std::make_shared<const RgbaImage>(std::move(image));
    return payload;
}

int64_t KittyGraphicsPayload::byteSize() const {
    return m_png ? int64_t(m_png->size()) : int64_t(m_rgba->bytes.size());
}

namespace {

// A descriptor closed when it goes out of scope.
class Descriptor {
public:
    explicit Descriptor(int fd = -1) : m_fd(fd) {}
    ~Descriptor() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return m_fd; }
    explicit operator bool() const { return m_fd >= 0; }

private:
    int m_fd;
};

bool validDimension(int64_t n) {
    return n >= 1 && n <= maxDimension;
}

// The base64 payload as text for a path or a name: none when it does not decode or is empty.
std::optional<std::vector<uint8_t>> decodedName(std::span<const uint8_t> base64Payload) {
    auto bytes = TextDecoding::base64DecodeSkippingUnknown(base64Payload);
    if (!bytes || bytes->empty()) {
        return std::nullopt;
    }
    return bytes;
}

bool holdsNul(const std::vector<uint8_t>& bytes) {
    return std::find(bytes.begin(), bytes.end(), uint8_t(0)) != bytes.end();
}

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// `path` is `dir` or lies below it, compared by whole components ("/tmpx" is not in "/tmp").
bool isWithin(std::string_view path, std::string_view dir) {
    while (dir.size() > 1 && dir.back() == '/') {
        dir.remove_suffix(1);
    }
    if (dir.empty() || dir == "/") {
        return false;
    }
    return startsWith(path, dir) && (path.size() == dir.size() || path[dir.size()] == '/');
}

std::optional<std::string> realPath(const std::string& path) {
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr) {
        return std::nullopt;
    }
    std::string text = resolved;
    std::free(resolved);
    if (text.size() > maxResolvedPathLength) {
        return std::nullopt;
    }
    return text;
}

// The decoded data, decompressed when asked, held to the limit and decoded by format.
std::optional<KittyGraphicsPayload> finishPayload(const KittyGraphicsControl& control,
                                                  std::vector<uint8_t> data) {
    if (int64_t(data.size()) > maxPayloadBytes) {
        return std::nullopt;
    }
    auto decompressed = decompressKittyData(std::move(data), control);
    if (!decompressed) {
        return std::nullopt;
    }
    return decodeKittyPayloadData(control, std::move(*decompressed));
}

KittyPayloadResult result(std::optional<KittyGraphicsPayload> payload) {
    if (!payload) {
        return KittyPayloadResult::failure(kittyBadPayload);
    }
    return {std::move(payload), std::nullopt};
}

} // namespace

// ---- Media ----------------------------------------------------------------------------------

KittyPayloadResult loadKittyPayload(const KittyGraphicsControl& control,
                                    std::span<const uint8_t> base64Payload) {
    switch (control.transmission) {
    case 'd':
        return result(decodeKittyPayload(control, base64Payload));
    case 'f':
        return loadKittyFilePayload(control, base64Payload, false);
    case 't':
        return loadKittyFilePayload(control, base64Payload, true);
    case 's':
        return loadKittySharedMemoryPayload(control, base64Payload);
    default:
        return KittyPayloadResult::failure(kittyUnsupportedTransmission);
    }
}

std::optional<KittyGraphicsPayload> decodeKittyPayload(const KittyGraphicsControl& control,
                                                       std::span<const uint8_t> base64Payload) {
    if (base64Payload.empty()) {
        return std::nullopt;
    }
    auto data = TextDecoding::base64DecodeSkippingUnknown(base64Payload);
    if (!data || data->empty()) {
        return std::nullopt;
    }
    return finishPayload(control, std::move(*data));
}

KittyPayloadResult loadKittyFilePayload(const KittyGraphicsControl& control,
                                        std::span<const uint8_t> base64Payload, bool temporary) {
    const auto pathBytes = decodedName(base64Payload);
    if (!pathBytes) {
        return KittyPayloadResult::failure(kittyBadPayload);
    }
    if (holdsNul(*pathBytes) || !TextDecoding::isValidUtf8(*pathBytes)) {
        return KittyPayloadResult::failure(kittyBadPath);
    }
    const auto path = realPath(std::string(pathBytes->begin(), pathBytes->end()));
    if (!path || startsWith(*path, "/proc/") || startsWith(*path, "/sys/") ||
        (startsWith(*path, "/dev/") && !startsWith(*path, "/dev/shm/"))) {
        return KittyPayloadResult::failure(kittyBadPath);
    }
    if (temporary && !isKittyTempPath(*path)) {
        return KittyPayloadResult::failure(kittyBadTempPath);
    }
    auto data = readKittyFileData(*path, control.dataOffset, control.dataSize, temporary);
    if (!data) {
        return KittyPayloadResult::failure(kittyBadPayload);
    }
    return result(finishPayload(control, std::move(*data)));
}

bool isKittyTempPath(std::string_view resolvedPath) {
    if (resolvedPath.find("tty-graphics-protocol") == std::string_view::npos) {
        return false;
    }
    if (isWithin(resolvedPath, "/tmp") || isWithin(resolvedPath, "/dev/shm")) {
        return true;
    }
    // The user's temporary folder: $TMPDIR when it is an absolute path other than "/", as
    // written and as resolved.
    const char* tmpdir = std::getenv("TMPDIR");
    if (tmpdir == nullptr || tmpdir[0] != '/') {
        return false;
    }
    if (isWithin(resolvedPath, tmpdir)) {
        return true;
    }
    const auto resolvedTmpdir = realPath(tmpdir);
    return resolvedTmpdir && isWithin(resolvedPath, *resolvedTmpdir);
}

std::optional<std::vector<uint8_t>> readKittyFileData(const std::string& path, int64_t offset,
                                                      int64_t size, bool deleteAfterRead) {
    if (offset < 0 || size < 0) {
        return std::nullopt;
    }
    // A file to be deleted is opened through its folder, so that the entry removed afterwards is
    // looked up in the same folder even if a link is swapped in above it meanwhile.
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return std::nullopt;
    }
    const std::string name = path.substr(slash + 1);
    Descriptor dir(deleteAfterRead ? ::open(slash == 0 ? "/" : path.substr(0, slash).c_str(),
                                            O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)
                                   : -1);
    if (deleteAfterRead && (!dir || name.empty())) {
        return std::nullopt;
    }
    // Never blocking (a FIFO opens at once and is then refused), never through a final link.
    constexpr int flags = O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY;
    Descriptor file(deleteAfterRead ? ::openat(dir.get(), name.c_str(), flags)
                                    : ::open(path.c_str(), flags));
    if (!file) {
        return std::nullopt;
    }
    struct stat info {};
    if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
        int64_t(info.st_size) > maxPayloadBytes || offset > int64_t(info.st_size) ||
        (deleteAfterRead && info.st_uid != ::geteuid())) {
        return std::nullopt;
    }
    const auto remove = [&] {
        if (!deleteAfterRead) {
            return;
        }
        // Only the very file that was read: not whatever took its name since.
        struct stat now {};
        if (::fstatat(dir.get(), name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
            now.st_dev == info.st_dev && now.st_ino == info.st_ino) {
            ::unlinkat(dir.get(), name.c_str(), 0);
        }
    };
    if (offset != 0 && ::lseek(file.get(), off_t(offset), SEEK_SET) < 0) {
        remove();
        return std::nullopt;
    }
    int64_t amount = int64_t(info.st_size) - offset;
    if (size > 0) {
        amount = std::min(amount, size);
    }
    amount = std::min(amount, maxPayloadBytes);
    std::vector<uint8_t> data(static_cast<size_t>(amount));
    size_t done = 0;
    while (done < data.size()) {
        const size_t want = std::min(data.size() - done, fileReadStep);
        const ssize_t n = ::read(file.get(), data.data() + done, want);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            remove();
            return std::nullopt;
        }
        if (n == 0) {
            break; // the file ended early: what was read is the data
        }
        done += size_t(n);
    }
    data.resize(done);
    remove();
    return data;
}

// ---- Shared memory --------------------------------------------------------------------------

std::optional<int64_t> kittyExpectedDataSize(const KittyGraphicsControl& control) {
    if (!validDimension(control.width) || !validDimension(control.height)) {
        return std::nullopt;
    }
    if (control.format == 32) {
        return control.width * control.height * 4;
    }
    if (control.format == 24) {
        return control.width * control.height * 3;
    }
    return std::nullopt;
}

KittyPayloadResult loadKittySharedMemoryPayload(const KittyGraphicsControl& control,
                                                std::span<const uint8_t> base64Payload) {
    const auto nameBytes = decodedName(base64Payload);
    if (!nameBytes || holdsNul(*nameBytes) || !TextDecoding::isValidUtf8(*nameBytes)) {
        return KittyPayloadResult::failure(kittyBadPayload);
    }
    const std::optional<int64_t> expected = kittyExpectedDataSize(control);
    if (control.format != 100 && !expected) {
        return KittyPayloadResult::failure(kittyBadPayload);
    }
    // Compressed data has a size of its own: the pixels' size says nothing about the object.
    auto data = readKittySharedMemory(std::string(nameBytes->begin(), nameBytes->end()),
                                      control.compression ? std::nullopt : expected,
                                      control.dataOffset, control.dataSize);
    if (!data) {
        return KittyPayloadResult::failure(kittyBadPayload);
    }
    return result(finishPayload(control, std::move(*data)));
}

std::optional<std::vector<uint8_t>> readKittySharedMemory(const std::string& name,
                                                          std::optional<int64_t> expectedSize,
                                                          int64_t offset, int64_t size) {
    if (offset < 0 || size < 0) {
        return std::nullopt;
    }
    // An object's name: one component, optionally after a "/". Anything else would reach other
    // files through the shared-memory folder.
    const std::string_view bare = std::string_view(name).substr(name[0] == '/' ? 1 : 0);
    if (bare.empty() || bare == "." || bare == ".." || bare.find('/') != std::string_view::npos) {
        return std::nullopt;
    }
    Descriptor object(::shm_open(name.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW, 0));
    if (!object) {
        return std::nullopt;
    }
    struct stat info {};
    // Only objects of the user are read and removed: another program's object keeps its name.
    if (::fstat(object.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid()) {
        return std::nullopt;
    }
    // From here on the protocol hands the object over: it is removed however reading ends.
    struct Unlink {
        const std::string& name;
        ~Unlink() { ::shm_unlink(name.c_str()); }
    } unlink{name};
    const int64_t objectSize = int64_t(info.st_size);
    if (objectSize < 1 || objectSize > maxPayloadBytes ||
        (expectedSize && objectSize < *expectedSize)) {
        return std::nullopt;
    }
    int64_t length = expectedSize ? *expectedSize : objectSize - std::min(offset, objectSize);
    if (size > 0) {
        length = std::min(length, size);
    }
    if (length <= 0 || offset > objectSize || length > objectSize - offset) {
        return std::nullopt;
    }
    void* mapped = ::mmap(nullptr, size_t(objectSize), PROT_READ, MAP_SHARED, object.get(), 0);
    if (mapped == MAP_FAILED) {
        return std::nullopt;
    }
    const auto* begin = static_cast<const uint8_t*>(mapped) + offset;
    std::vector<uint8_t> window(begin, begin + length);
    ::munmap(mapped, size_t(objectSize));
    return window;
}

// ---- Decompression and formats --------------------------------------------------------------

std::optional<std::vector<uint8_t>> decompressKittyData(std::vector<uint8_t> data,
                                                        const KittyGraphicsControl& control) {
    if (!control.compression) {
        return data;
    }
    if (*control.compression != 'z') {
        return std::nullopt;
    }
    // Raw pixels must come out at exactly their size: inflating further, up to the size limit,
    // would only make a small stream cost hundreds of megabytes before it fails.
    int64_t maxOutput = maxPayloadBytes;
    if (control.format == 24 || control.format == 32) {
        const std::optional<int64_t> expected = kittyExpectedDataSize(control);
        if (!expected) {
            return std::nullopt;
        }
        maxOutput = *expected;
    }
    return decompressZlib(data, maxOutput);
}

std::optional<std::vector<uint8_t>> decompressZlib(std::span<const uint8_t> data,
                                                   int64_t maxOutput) {
    if (data.empty() || data.size() > UINT_MAX) {
        return std::nullopt;
    }
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) {
        return std::nullopt;
    }
    stream.next_in = const_cast<Bytef*>(data.data());
    stream.avail_in = uInt(data.size());
    std::vector<uint8_t> out;
    std::vector<uint8_t> step(inflateStep);
    int status = Z_OK;
    while (status == Z_OK) {
        stream.next_out = step.data();
        stream.avail_out = uInt(step.size());
        status = inflate(&stream, Z_NO_FLUSH);
        if (status != Z_OK && status != Z_STREAM_END) {
            break; // malformed, a wrong checksum, or the input ended before the stream did
        }
        const size_t produced = step.size() - stream.avail_out;
        if (int64_t(out.size() + produced) > maxOutput) {
            status = Z_DATA_ERROR;
            break;
        }
        out.insert(out.end(), step.begin(), step.begin() + std::ptrdiff_t(produced));
    }
    inflateEnd(&stream);
    if (status != Z_STREAM_END) {
        return std::nullopt;
    }
    return out;
}

std::optional<KittyGraphicsPayload> decodeKittyPayloadData(const KittyGraphicsControl& control,
                                                           std::vector<uint8_t> rawData) {
    if (int64_t(rawData.size()) > maxPayloadBytes) {
        return std::nullopt;
    }
    switch (control.format) {
    case 24: {
        if (kittyExpectedDataSize(control) != int64_t(rawData.size())) {
            return std::nullopt;
        }
        RgbaImage image{int(control.width), int(control.height), {}};
        image.bytes.resize(image.byteCount());
        for (size_t from = 0, to = 0; from < rawData.size(); from += 3, to += 4) {
            image.bytes[to] = rawData[from];
            image.bytes[to + 1] = rawData[from + 1];
            image.bytes[to + 2] = rawData[from + 2];
            image.bytes[to + 3] = 255;
        }
        return KittyGraphicsPayload::rgba(std::move(image));
    }
    case 32:
        if (kittyExpectedDataSize(control) != int64_t(rawData.size())) {
            return std::nullopt;
        }
        return KittyGraphicsPayload::rgba(
            RgbaImage{int(control.width), int(control.height), std::move(rawData)});
    case 100:
        if (!validateKittyPngDimensions(rawData)) {
            return std::nullopt;
        }
        return KittyGraphicsPayload::png(std::move(rawData));
    default:
        return std::nullopt;
    }
}

// ---- PNG ------------------------------------------------------------------------------------

namespace {

// A simplified-API reader over bytes in memory, its header read; freed when it goes.
class PngReader {
public:
    explicit PngReader(std::span<const uint8_t> data) {
        m_image.version = PNG_IMAGE_VERSION;
        m_open = !data.empty() &&
                 png_image_begin_read_from_memory(&m_image, data.data(), data.size()) != 0;
    }
    ~PngReader() { png_image_free(&m_image); }
    PngReader(const PngReader&) = delete;
    PngReader& operator=(const PngReader&) = delete;

    bool isOpen() const { return m_open; }
    png_image& image() { return m_image; }

private:
    png_image m_image{};
    bool m_open = false;
};

} // namespace

bool validateKittyPngDimensions(std::span<const uint8_t> data) {
    PngReader reader(data);
    return reader.isOpen() && validDimension(reader.image().width) &&
           validDimension(reader.image().height);
}

std::optional<PixelSize> kittyPngPixelSize(std::span<const uint8_t> data) {
    PngReader reader(data);
    if (!reader.isOpen()) {
        return std::nullopt;
    }
    return PixelSize{reader.image().width, reader.image().height};
}

std::optional<RgbaImage> decodePngToRgba(std::span<const uint8_t> data) {
    PngReader reader(data);
    png_image& image = reader.image();
    // The header's claim is checked before anything of that size is allocated.
    if (!reader.isOpen() || !validDimension(image.width) || !validDimension(image.height)) {
        return std::nullopt;
    }
    image.format = PNG_FORMAT_RGBA;
    RgbaImage out{int(image.width), int(image.height), {}};
    out.bytes.resize(PNG_IMAGE_SIZE(image));
    if (png_image_finish_read(&image, nullptr, out.bytes.data(), 0, nullptr) == 0 ||
        out.bytes.size() != out.byteCount()) {
        return std::nullopt;
    }
    return out;
}

std::optional<std::vector<uint8_t>> encodePng(const RgbaImage& rgba) {
    if (!rgba.isValid()) {
        return std::nullopt;
    }
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = png_uint_32(rgba.width);
    image.height = png_uint_32(rgba.height);
    image.format = PNG_FORMAT_RGBA;
    png_alloc_size_t size = 0;
    if (png_image_write_to_memory(&image, nullptr, &size, 0, rgba.bytes.data(), 0, nullptr) == 0) {
        return std::nullopt;
    }
    std::vector<uint8_t> out(size);
    if (png_image_write_to_memory(&image, out.data(), &size, 0, rgba.bytes.data(), 0, nullptr) ==
        0) {
        return std::nullopt;
    }
    out.resize(size);
    return out;
}

} // namespace veldatron
