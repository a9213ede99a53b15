// Writes the benchmark workloads into a folder, one file NAME.vt each:
//   gen-workloads FOLDER [MiB]        (default 4 MiB per workload)
// The output is deterministic, so recorded figures stay comparable.

#include "Workloads.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: %s FOLDER [MiB per workload]\n", argv[0]);
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    const long mib = argc == 3 ? std::strtol(argv[2], nullptr, 10) : 4;
    if (mib < 1 || mib > 1024) {
        std::fprintf(stderr, "%s: size must be 1 to 1024 MiB\n", argv[0]);
        return 2;
    }
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
        std::fprintf(stderr, "%s: cannot create %s: %s\n", argv[0], folder.c_str(),
                     error.message().c_str());
        return 1;
    }
    for (const bench::Workload& w : bench::workloads()) {
        const std::string data = w.generate(static_cast<std::size_t>(mib) << 20);
        const std::filesystem::path file = folder / (std::string(w.name) + ".vt");
        std::FILE* out = std::fopen(file.c_str(), "wb");
        if (out == nullptr || std::fwrite(data.data(), 1, data.size(), out) != data.size() ||
            std::fclose(out) != 0) {
            std::fprintf(stderr, "%s: cannot write %s\n", argv[0], file.c_str());
            return 1;
        }
        std::printf("%-14s %9zu bytes  %s\n", w.name, data.size(), w.description);
    }
    return 0;
}
