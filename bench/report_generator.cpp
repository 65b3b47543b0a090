#include "report_generator.h"

#include <cstdint>

namespace velmora::bench {

namespace {

// A small fixed-seed generator, so runs on any machine see the same input.
class Random {
public:
    std::uint32_t Next(std::uint32_t bound) {
        m_state = m_state * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<std::uint32_t>(m_state >> 33) % bound;
    }

private:
    std::uint64_t m_state = 0x5eed;
};

constexpr const char* kWords[] = {"road", "trail", "survey", "district", "centre",
                                  "line",  "width", "surface", "north",   "layer",
                                  "public", "route", "scale",  "datum",   "source"};

void AppendWords(std::string& out, Random& random, std::uint32_t count) {
    for (std::uint32_t i = 0; i < count; ++i) {
        if (i > 0) {
            out += random.Next(9) == 0 ? "\r\n      " : " ";
        }
        out += kWords[random.Next(sizeof kWords / sizeof *kWords)];
    }
}

void AppendEntry(std::string& out, Random& random, int depth) {
    const std::string indent(static_cast<std::size_t>(2 * depth), ' ');
    out += indent + "<DT><EM>";
    AppendWords(out, random, 1 + random.Next(2));
    out += ":</EM> ";
    AppendWords(out, random, random.Next(6));
    out += "</DT>\r\n";
    if (depth < 6 && random.Next(4) == 0) {
        out += indent + "<DD>\r\n" + indent + "<DL>\r\n";
        const std::uint32_t children = 1 + random.Next(5);
        for (std::uint32_t i = 0; i < children; ++i) {
            AppendEntry(out, random, depth + 1);
        }
        out += indent + "</DL>\r\n" + indent + "</DD>\r\n";
    } else if (random.Next(3) == 0) {
        out += indent + "<DD>\r\n" + indent + "<P>";
        AppendWords(out, random, 5 + random.Next(30));
        out += random.Next(2) == 0 ? " &gt; 3 m &amp; &lt; 9 m" : "";
        out += "</P>\r\n" + indent + "</DD>\r\n";
    }
}

} // namespace

std::string MakeReport(std::size_t bytes) {
    Random random;
    std::string out = "<HTML>\r\n<HEAD>\r\n<TITLE>Benchmark report</TITLE>\r\n</HEAD>\r\n"
                      "<BODY>\r\n<A NAME=\"Top\"></A>\r\n<H1>Benchmark report</H1>\r\n<HR>\r\n"
                      "<DL>\r\n";
    out.reserve(bytes + 4096);
    while (out.size() < bytes) {
        AppendEntry(out, random, 1);
    }
    out += "</DL>\r\n<HR>\r\n<A HREF=\"#Top\">Back to Top</A>\r\n</BODY>\r\n</HTML>\r\n";
    return out;
}

} // namespace velmora::bench
