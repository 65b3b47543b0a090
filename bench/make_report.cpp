// Writes a generated document of about N megabytes (MiB; decimals allowed, 0.05 is about
// 52 KB), for timing whole processes:
//   velmora-make-report 100 report.html [report|deep|flat|plain|stray|deepest]

#include "report_generator.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// The size in bytes that MEGABYTES names, or 0 when it is not a number above 0 and below
// a terabyte.
std::size_t BytesNamed(const char* megabytes) {
    char* end = nullptr;
    const double value = std::strtod(megabytes, &end);
    if (end == megabytes || *end != '\0' || !std::isfinite(value) || value <= 0 ||
        value >= 1024.0 * 1024.0) {
        return 0;
    }
    return static_cast<std::size_t>(std::ceil(value * 1024.0 * 1024.0));
}

} // namespace

int main(int argc, char** argv) {
    velmora::bench::Shape shape = velmora::bench::Shape::Report;
    const std::size_t bytes = argc >= 2 ? BytesNamed(argv[1]) : 0;
    if ((argc != 3 && argc != 4) || bytes == 0 ||
        (argc == 4 && !velmora::bench::ShapeNamed(argv[3], shape))) {
        std::fprintf(
            stderr,
            "Usage: velmora-make-report MEGABYTES OUTPUT [report|deep|flat|plain|stray|deepest]\n");
        return 2;
    }
    const std::string document = velmora::bench::MakeDocument(shape, bytes);
    std::FILE* out = std::fopen(argv[2], "wb");
    if (out == nullptr ||
        std::fwrite(document.data(), 1, document.size(), out) != document.size() ||
        std::fclose(out) != 0) {
        std::perror(argv[2]);
        return 1;
    }
    return 0;
}
