#pragma once

// Deterministic terminal output streams for the core benchmarks: the same name and size always
// give the same bytes, so figures taken on different days compare.

#include <cstddef>
#include <string>
#include <vector>

namespace bench {

struct Workload {
    const char* name;
    const char* description;
    std::string (*generate)(std::size_t bytes);
};

/// Every workload, in the order benchmarks report them.
const std::vector<Workload>& workloads();

/// The workload of that name, or null.
const Workload* findWorkload(const std::string& name);

} // namespace bench
