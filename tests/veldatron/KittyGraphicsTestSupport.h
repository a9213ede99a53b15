#pragma once

// Building blocks of the kitty graphics tests: commands as bytes, payloads in every encoding,
// files and shared-memory objects that clean up after themselves.

#include "KittyGraphicsPayload.h"
#include "TerminalFixture.h"
#include "TextDecoding.h"

#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace veldatron::testing {

// An APC G command.
inline std::string kitty(std::string_view control, std::string_view payload = {}) {
    std::string out = "\x1b_G";
    out += control;
    if (!payload.empty()) {
        out += ";";
        out += payload;
    }
    out += "\x1b\\";
    return out;
}

inline std::string base64(std::span<const uint8_t> bytes) {
    return TextDecoding::base64Encode(bytes);
}
inline std::string base64(std::string_view text) {
    return base64(TextDecoding::bytesOf(text));
}

inline std::vector<uint8_t> zlibCompress(std::span<const uint8_t> data) {
    uLongf size = compressBound(uLong(data.size()));
    std::vector<uint8_t> out(size);
    compress2(out.data(), &size, data.data(), uLong(data.size()), 9);
    out.resize(size);
    return out;
}

// A small picture with every kind of pixel: opaque, translucent and fully transparent, so that
// a premultiplied path would show.
inline RgbaImage samplePicture(int width = 3, int height = 2) {
    RgbaImage image{width, height, {}};
    for (int i = 0; i < width * height; ++i) {
        const uint8_t alpha = i % 3 == 0 ? 255 : i % 3 == 1 ? 128 : 0;
        image.bytes.insert(image.bytes.end(),
                           {uint8_t(40 * i + 7), uint8_t(200 - 30 * i), uint8_t(90 + i), alpha});
    }
    return image;
}

// The RGB bytes of a picture (format 24) and the picture they decode to (alpha 255).
inline std::vector<uint8_t> rgbOf(const RgbaImage& image) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i < image.bytes.size(); i += 4) {
        out.insert(out.end(), image.bytes.begin() + std::ptrdiff_t(i),
                   image.bytes.begin() + std::ptrdiff_t(i + 3));
    }
    return out;
}
inline RgbaImage opaque(RgbaImage image) {
    for (size_t i = 3; i < image.bytes.size(); i += 4) {
        image.bytes[i] = 255;
    }
    return image;
}

// A folder under /tmp removed with everything in it.
class TempFolder {
public:
    explicit TempFolder(const char* prefix = "/tmp/veldatron-kitty-XXXXXX") {
        std::string pattern = prefix;
        m_path = ::mkdtemp(pattern.data()) ? pattern : std::string();
    }
    ~TempFolder() {
        if (!m_path.empty()) {
            std::string command = "rm -rf '" + m_path + "'";
            [[maybe_unused]] int status = std::system(command.c_str());
        }
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& path() const { return m_path; }
    std::string write(const std::string& name, std::span<const uint8_t> bytes) const {
        const std::string file = m_path + "/" + name;
        const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd >= 0) {
            [[maybe_unused]] ssize_t n = ::write(fd, bytes.data(), bytes.size());
            ::close(fd);
        }
        return file;
    }

private:
    std::string m_path;
};

inline bool exists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

// A shared-memory object, removed at the end if the terminal did not remove it.
class SharedMemory {
public:
    SharedMemory(std::span<const uint8_t> bytes) {
        static int counter = 0;
        m_name = "/veldatron-kitty-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
        const int fd = ::shm_open(m_name.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
        if (fd >= 0) {
            [[maybe_unused]] ssize_t n = ::write(fd, bytes.data(), bytes.size());
            ::close(fd);
        }
    }
    ~SharedMemory() { ::shm_unlink(m_name.c_str()); }
    SharedMemory(const SharedMemory&) = delete;
    SharedMemory& operator=(const SharedMemory&) = delete;

    const std::string& name() const { return m_name; }
    bool exists() const {
        const int fd = ::shm_open(m_name.c_str(), O_RDONLY, 0);
        if (fd >= 0) {
            ::close(fd);
        }
        return fd >= 0;
    }

private:
    std::string m_name;
};

// The stored image of an id, as a bitmap (a PNG decoded), or none.
inline std::optional<RgbaImage> storedPicture(Terminal& terminal, uint32_t id) {
    const auto& images = terminal.kittyGraphicsState().imagesById;
    const auto image = images.find(id);
    if (image == images.end()) {
        return std::nullopt;
    }
    if (const RgbaImage* rgba = image->second.payload.rgbaImage()) {
        return *rgba;
    }
    return decodePngToRgba(*image->second.payload.pngData());
}

} // namespace veldatron::testing
