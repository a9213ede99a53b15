#pragma once

// Profiling markers. Setting VELDATRON_PROFILE=1 in the environment turns them on; each marker is
// a USDT probe (provider "veldatron") that perf, bpftrace or SystemTap can attach to, for example
//   bpftrace -e 'usdt:./cavrel-app:veldatron:parser_parse_begin { @n = hist(arg0); }'
// Probes are compiled in only where <sys/sdt.h> exists (VELDATRON_HAVE_SDT); elsewhere the markers
// are no-ops. The variable is read once per process, so a marker costs one predictable branch.

namespace veldatron::profile {

/// True when VELDATRON_PROFILE held exactly "1" the first time this was asked.
bool enabled();

/// The rule behind `enabled()` for one value of the variable (null when it is unset).
bool isEnabledValue(const char* value);

} // namespace veldatron::profile
