#include "literal_model.h"

#include <cstddef>

namespace velmora::model {

namespace {

// Positions count from 1, and 0 means nothing was found: the literal way keeps the
// arithmetic of its steps plain (a position past a match is found + length).
std::size_t FindFrom(std::size_t start, const std::string& text, const std::string& what) {
    if (start == 0 || start > text.size() + 1) {
        return 0;
    }
    const std::size_t found = text.find(what, start - 1);
    return found == std::string::npos ? 0 : found + 1;
}

std::size_t FindLast(const std::string& text, const std::string& what) {
    const std::size_t found = text.rfind(what);
    return found == std::string::npos ? 0 : found + 1;
}

std::string Slice(const std::string& text, std::size_t start,
                  std::size_t length = std::string::npos) {
    return start > text.size() ? std::string() : text.substr(start - 1, length);
}

std::string Prefix(const std::string& text, std::size_t length) {
    return text.substr(0, length);
}

std::string Lowered(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

// Every occurrence, left to right, never looking again at what it wrote.
std::string ReplaceAll(const std::string& text, const std::string& what, const std::string& with) {
    if (what.empty()) {
        return text;
    }
    std::string result;
    std::size_t position = 1;
    for (;;) {
        const std::size_t found = FindFrom(position, text, what);
        if (found == 0) {
            return result + Slice(text, position);
        }
        result += text.substr(position - 1, found - position) + with;
        position = found + what.size();
    }
}

std::string ReplaceFirst(const std::string& text, const std::string& what,
                         const std::string& with) {
    const std::size_t found = FindFrom(1, text, what);
    if (found == 0) {
        return text;
    }
    return Prefix(text, found - 1) + with + Slice(text, found + what.size());
}

std::string Normalise(const std::string& text) {
    std::string lineBreak;
    if (FindFrom(1, text, "\r\n") != 0) {
        lineBreak = "\r\n";
    } else if (FindFrom(1, text, "\n") != 0) {
        lineBreak = "\n";
    } else if (FindFrom(1, text, "\r") != 0) {
        lineBreak = "\r";
    }
    return ReplaceAll(ReplaceAll(text, lineBreak, " "), "  ", " ");
}

std::string Scope(std::string text) {
    const std::size_t open = FindFrom(1, Lowered(text), "<dl");
    if (open == 0) {
        return text;
    }
    text = Slice(text, open);
    const std::size_t close = FindFrom(1, text, ">");
    if (close != 0) {
        text = Slice(text, close + 1);
    }
    const std::size_t last = FindLast(Lowered(text), "</dl>");
    if (last != 0) {
        text = Prefix(text, last - 1);
    }
    return text;
}

std::string RewriteTags(std::string text, Conversion& record) {
    std::string prefix = "++";
    for (;;) {
        const std::size_t s = FindFrom(1, text, "<");
        if (s == 0) {
            return text;
        }
        std::size_t e = FindFrom(1, text, ">");
        while (e != 0 && e < s) {
            e = FindFrom(e + 1, text, ">");
        }
        record.progress.emplace_back('V', static_cast<double>(static_cast<float>(e)));
        if (e == 0) {
            // A tag that never closes: it and all after it are dropped.
            return Prefix(text, s - 1);
        }
        const std::string tag = Slice(text, s, e - s + 1);
        const std::string lower = Lowered(tag);
        std::string replacement;
        if (lower == "<dl>") {
            prefix += "++";
        } else if (lower == "</dl>") {
            prefix = prefix.size() >= 2 ? Prefix(prefix, prefix.size() - 2) : "";
        } else if (lower == "<dt>") {
            replacement = "\n" + prefix;
        } else if (lower == "<dd>") {
            replacement = "\n" + prefix + "++";
        } else if (lower == "<p>") {
            replacement = "\n\n" + prefix + "++";
        }
        text = ReplaceFirst(text, tag, replacement);
    }
}

std::string Assemble(const std::string& text, double max, Conversion& record) {
    std::string output;
    std::vector<std::string> segments;
    if (!text.empty()) {
        std::size_t position = 1;
        for (;;) {
            const std::size_t found = FindFrom(position, text, "\n");
            if (found == 0) {
                segments.push_back(Slice(text, position));
                break;
            }
            segments.push_back(text.substr(position - 1, found - position));
            position = found + 1;
        }
    }
    for (std::string segment : segments) {
        while (!segment.empty() && segment.front() == ' ') {
            segment.erase(0, 1);
        }
        while (!segment.empty() && segment.back() == ' ') {
            segment.pop_back();
        }
        const bool lastIsNotMarker = segment.empty() || segment.back() != '+';
        if (!(lastIsNotMarker && segment.size() > 1)) {
            continue;
        }
        segment = ReplaceAll(segment, "+", " ");
        segment = ReplaceAll(segment, "&gt;", "");
        segment = ReplaceAll(segment, "&lt;", "");
        output += "\r\n" + segment;
    }
    record.progress.emplace_back('V', max);
    return output;
}

} // namespace

Conversion Convert(const std::string& file) {
    Conversion record;
    if (file.empty()) {
        return record;
    }
    record.normalised = Normalise(file);
    if (FindFrom(1, Lowered(record.normalised), "zoak metadata report generated") != 0) {
        record.outcome = SourceOutcome::Refused;
        record.normalised.clear();
        return record;
    }
    record.outcome = SourceOutcome::Accepted;
    const std::string scoped = Scope(record.normalised);
    const double max = static_cast<float>(scoped.size());
    record.progress.emplace_back('M', max);
    record.rewritten = RewriteTags(scoped, record);
    record.output = Assemble(record.rewritten, max, record);
    return record;
}

} // namespace velmora::model
