#include "report_generator.h"

#include <cstdint>
#include <utility>

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

constexpr const char* kWords[] = {"road",   "trail", "survey",  "district", "centre",
                                  "line",   "width", "surface", "north",    "layer",
                                  "public", "route", "scale",   "datum",    "source"};

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

std::string MakeDocument(Shape shape, std::size_t bytes) {
    Random random;
    std::string out;
    out.reserve(bytes + 8192);
    switch (shape) {
    case Shape::Report:
        out = "<HTML>\r\n<HEAD>\r\n<TITLE>Benchmark report</TITLE>\r\n</HEAD>\r\n"
              "<BODY>\r\n<A NAME=\"Top\"></A>\r\n<H1>Benchmark report</H1>\r\n<HR>\r\n"
              "<DL>\r\n";
        while (out.size() < bytes) {
            AppendEntry(out, random, 1);
        }
        out += "</DL>\r\n<HR>\r\n<A HREF=\"#Top\">Back to Top</A>\r\n</BODY>\r\n</HTML>\r\n";
        break;
    case Shape::DeepNesting:
        out = "<dl>";
        while (out.size() < bytes) {
            for (int depth = 0; depth < 200; ++depth) {
                out += "<dl><dt>level</dt><dd>";
            }
            for (int depth = 0; depth < 200; ++depth) {
                out += "</dd></dl>";
            }
        }
        out += "</dl>";
        break;
    case Shape::FlatList:
        out = "<dl>\n";
        while (out.size() < bytes) {
            out += "<dt>";
            AppendWords(out, random, 1);
            out += "\n";
        }
        out += "</dl>\n";
        break;
    case Shape::PlainText:
        while (out.size() < bytes) {
            AppendWords(out, random, 12);
            out += "\n";
        }
        break;
    case Shape::StrayBrackets:
        out = "<dl><dt>";
        while (out.size() < bytes) {
            out += "a > b >> c ";
            AppendWords(out, random, 2);
            out += random.Next(20) == 0 ? "<dd>x\n" : " >\n";
        }
        out += "</dl>";
        break;
    case Shape::DeepestTerm: {
        const std::size_t depth = bytes / 18 + 1;
        for (std::size_t level = 0; level < depth; ++level) {
            out += "<DL><DD>";
        }
        out += "<DT>b</DT>";
        for (std::size_t level = 0; level < depth; ++level) {
            out += "</DD></DL>";
        }
        break;
    }
    }
    return out;
}

bool ShapeNamed(const std::string& name, Shape& shape) {
    const std::pair<const char*, Shape> names[] = {
        {"report", Shape::Report},       {"deep", Shape::DeepNesting},
        {"flat", Shape::FlatList},       {"plain", Shape::PlainText},
        {"stray", Shape::StrayBrackets}, {"deepest", Shape::DeepestTerm},
    };
    for (const auto& [known, value] : names) {
        if (name == known) {
            shape = value;
            return true;
        }
    }
    return false;
}

} // namespace velmora::bench
