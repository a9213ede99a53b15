#include "Profile.h"

#include <cstdlib>
#include <cstring>

namespace veldatron::profile {

bool isEnabledValue(const char* value) {
    return value != nullptr && std::strcmp(value, "1") == 0;
}

bool enabled() {
    static const bool on = isEnabledValue(std::getenv("VELDATRON_PROFILE"));
    return on;
}

} // namespace veldatron::profile
