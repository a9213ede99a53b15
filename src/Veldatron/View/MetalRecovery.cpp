#include "MetalRecovery.h"

#include <array>
#include <cstdlib>
#include <cstring>

namespace veldatron {

namespace {

constexpr std::array<std::string_view, 5> stateNames = {
    "disabled", "waitingForFirstFrame", "healthy", "recovering", "fellBackToCoreGraphics"};
constexpr std::array<std::string_view, 5> reasonNames = {
    "activeFrame", "missingDrawable", "missingRenderPassDescriptor", "missingCommandBuffer",
    "missingRenderEncoder"};
constexpr std::array<std::string_view, 6> statusNames = {
    "notEnqueued", "enqueued", "committed", "scheduled", "completed", "error"};

template <typename Enum, size_t N>
std::optional<Enum> caseNamed(const std::array<std::string_view, N>& names, std::string_view text) {
    for (size_t i = 0; i < N; ++i) {
        if (names[i] == text) {
            return Enum(i);
        }
    }
    return std::nullopt;
}

} // namespace

std::string_view name(MetalRendererStatus::State state) { return stateNames.at(size_t(state)); }

std::string_view name(MetalFrameRefusalReason reason) { return reasonNames.at(size_t(reason)); }

std::optional<MetalFrameRefusalReason> metalFrameRefusalReason(std::string_view text) {
    return caseNamed<MetalFrameRefusalReason>(reasonNames, text);
}

std::string_view name(MetalTrackedCommandBufferStatus status) {
    return statusNames.at(size_t(status));
}

std::optional<MetalTrackedCommandBufferStatus> metalTrackedCommandBufferStatus(std::string_view text) {
    return caseNamed<MetalTrackedCommandBufferStatus>(statusNames, text);
}

MetalTrackedCommandBufferStatus metalTrackedCommandBufferStatus(uint64_t numeric) {
    return numeric <= uint64_t(MetalTrackedCommandBufferStatus::error)
               ? MetalTrackedCommandBufferStatus(numeric)
               : MetalTrackedCommandBufferStatus::error;
}

bool MetalRecoverySignpost::isEnabledFor(const char* value) {
    return value != nullptr && std::strcmp(value, "1") == 0;
}

bool MetalRecoverySignpost::isEnabled() {
    static const bool enabled = isEnabledFor(std::getenv("VELDATRON_PROFILE"));
    return enabled;
}

double SystemMetalRecoveryClock::now() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::shared_ptr<MetalRecoveryScheduledTask>
DispatchMetalRecoveryScheduler::schedule(double seconds, std::function<void()> action) {
    const auto delay = std::chrono::duration_cast<Executor::Duration>(
        std::chrono::duration<double>(seconds > 0 ? seconds : 0));
    return std::make_shared<DispatchMetalRecoveryTask>(
        m_executor.postAfter(delay, std::move(action)));
}

} // namespace veldatron
