#include "PasswordEntry.h"

#include <QFile>

#include <pwd.h>
#include <unistd.h>

#include <vector>

namespace cavrel {

std::optional<PasswordEntry> currentPasswordEntry() {
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
    struct passwd entry {};
    struct passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found) {
        return std::nullopt;
    }
    return PasswordEntry{found->pw_dir ? QFile::decodeName(found->pw_dir) : QString(),
                         found->pw_shell ? QFile::decodeName(found->pw_shell) : QString()};
}

} // namespace cavrel
