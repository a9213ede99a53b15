#include "MetalProfile.h"

#include "Profile.h"

#if defined(VELDATRON_HAVE_SDT)
#include <sys/sdt.h>
#endif

namespace veldatron {

MetalProfileSpan::MetalProfileSpan(MetalProfileInterval interval)
    : m_interval(interval), m_open(profile::enabled())
{
#if defined(VELDATRON_HAVE_SDT)
    if (m_open)
        STAP_PROBE1(veldatron, metal_interval_begin, int(m_interval));
#endif
}

void MetalProfileSpan::end()
{
    if (!m_open)
        return;
    m_open = false;
#if defined(VELDATRON_HAVE_SDT)
    STAP_PROBE1(veldatron, metal_interval_end, int(m_interval));
#endif
}

} // namespace veldatron
