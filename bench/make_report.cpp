// Writes a generated document of about N megabytes, for timing whole processes:
//   velmora-make-report 100 report.html [report|deep|flat|plain|stray|deepest]

#include "report_generator.h"

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    velmora::bench::Shape shape = velmora::bench::Shape::Report;
    if ((argc != 3 && argc != 4) || (argc == 4 && !velmora::bench::ShapeNamed(argv[3], shape))) {
        std::fprintf(
            stderr,
            "Usage: velmora-make-report MEGABYTES OUTPUT [report|deep|flat|plain|stray|deepest]\n");
        return 2;
    }
    const std::size_t megabytes = std::strtoul(argv[1], nullptr, 10);
    const std::string document = velmora::bench::MakeDocument(shape, megabytes << 20);
    std::FILE* out = std::fopen(argv[2], "wb");
    if (out == nullptr ||
        std::fwrite(document.data(), 1, document.size(), out) != document.size() ||
        std::fclose(out) != 0) {
        std::perror(argv[2]);
        return 1;
    }
    return 0;
}
