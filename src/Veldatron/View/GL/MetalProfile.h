#pragma once

#include <cstdint>

namespace veldatron {

/// The frame loop's profiling intervals. With VELDATRON_PROFILE=1 each is a pair of USDT probes
/// (provider "veldatron", probes metal_interval_begin and metal_interval_end, whose argument is
/// the interval below), for example
///   bpftrace -e 'usdt:./cavrel-app:veldatron:metal_interval_begin /arg0 == 0/ { @n = count(); }'
/// Without the variable, or where <sys/sdt.h> is missing, an interval costs one branch.
enum class MetalProfileInterval : uint8_t {
    draw,            // "Metal.Draw": the whole frame
    currentDrawable, // "Metal.CurrentDrawable"
    renderPass,      // "Metal.RenderPass"
    buildDrawData,   // "Metal.BuildDrawData"
    encode,          // "Metal.Encode"
    commit,          // "Metal.Commit"
};

/// Opens an interval on construction and closes it once: at end() or on destruction.
class MetalProfileSpan {
public:
    explicit MetalProfileSpan(MetalProfileInterval interval);
    ~MetalProfileSpan() { end(); }
    MetalProfileSpan(const MetalProfileSpan&) = delete;
    MetalProfileSpan& operator=(const MetalProfileSpan&) = delete;

    void end();

private:
    MetalProfileInterval m_interval;
    bool m_open;
};

} // namespace veldatron
