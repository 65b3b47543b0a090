// Writes a generated report of about N megabytes, for timing whole processes:
//   velmora-make-report 100 report.html

#include "report_generator.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "Usage: velmora-make-report MEGABYTES OUTPUT\n");
        return 2;
    }
    const std::size_t megabytes = std::strtoul(argv[1], nullptr, 10);
    const std::string report = velmora::bench::MakeReport(megabytes << 20);
    std::FILE* out = std::fopen(argv[2], "wb");
    if (out == nullptr || std::fwrite(report.data(), 1, report.size(), out) != report.size() ||
        std::fclose(out) != 0) {
        std::perror(argv[2]);
        return 1;
    }
    return 0;
}
