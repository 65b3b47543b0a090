#include "velmora/wildcards.h"

#include "paths.h"
#include "platform.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>

namespace velmora {

namespace {

bool IsWildcard(char c) {
    return c == '*' || c == '?';
}

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

// The character at `at`, UTF-8, moving past it: a number that tells it from every other
// character (its bytes), the same for an ASCII letter in either case.
std::uint32_t NextCharacter(std::string_view text, std::size_t& at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    std::size_t length = 1;
    if (lead >= 0xf0) {
        length = 4;
    } else if (lead >= 0xe0) {
        length = 3;
    } else if (lead >= 0xc0) {
        length = 2;
    }
    // A byte that starts no sequence, or a sequence cut short, is a character of its own.
    std::uint32_t value = lead;
    for (std::size_t k = 1; k < length; ++k) {
        if (at + k >= text.size() || (static_cast<unsigned char>(text[at + k]) & 0xc0) != 0x80) {
            length = 1;
            value = lead;
            break;
        }
        value = (value << 8) | static_cast<unsigned char>(text[at + k]);
    }
    at += length;
    return value >= 'a' && value <= 'z' ? value - ('a' - 'A') : value;
}

// ---- The command line ---------------------------------------------------------------

// One argument being read: its text, and where its wildcards stood.
struct Word {
    std::string text;
    bool open = false;   // something has been read, if only a pair of quotes
    bool bare = false;   // a wildcard outside quotes
    bool quoted = false; // a wildcard inside them
};

Argument Finish(Word& word) {
    Argument argument{std::move(word.text), word.bare && !word.quoted};
    word = Word{};
    return argument;
}

} // namespace

std::vector<Argument> SplitCommandLine(std::string_view line) {
    std::vector<Argument> arguments;
    std::size_t at = 0;
    // The program's name: no escapes, quotes only around it whole.
    Word word;
    if (!line.empty() && line[0] == '"') {
        const std::size_t end = line.find('"', 1);
        word.text = line.substr(1, end == std::string_view::npos ? end : end - 1);
        at = end == std::string_view::npos ? line.size() : end + 1;
    } else {
        for (; at < line.size() && line[at] != ' ' && line[at] != '\t'; ++at) {
            word.text += line[at];
        }
    }
    arguments.push_back(Finish(word));
    while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) {
        ++at;
    }
    // 0 outside quotes, 1 inside; a run of quotes counts on, and each third is a quote
    // of the text.
    int quotes = 0;
    std::size_t backslashes = 0;
    for (; at < line.size(); ++at) {
        const char c = line[at];
        if ((c == ' ' || c == '\t') && quotes == 0) {
            if (word.open) {
                arguments.push_back(Finish(word));
            }
            backslashes = 0;
            continue;
        }
        word.open = true;
        if (c == '\\') {
            word.text += c;
            ++backslashes;
            continue;
        }
        if (c != '"') {
            if (IsWildcard(c)) {
                (quotes == 0 ? word.bare : word.quoted) = true;
            }
            word.text += c;
            backslashes = 0;
            continue;
        }
        // Backslashes before a quote: half of them stay, and an odd one out escapes it.
        word.text.resize(word.text.size() - backslashes / 2 - backslashes % 2);
        if (backslashes % 2 == 1) {
            word.text += '"';
        } else {
            ++quotes;
        }
        backslashes = 0;
        for (; at + 1 < line.size() && line[at + 1] == '"'; ++at) {
            if (++quotes == 3) {
                word.text += '"';
                quotes = 0;
            }
        }
        if (quotes == 2) {
            quotes = 0;
        }
    }
    if (word.open) {
        arguments.push_back(Finish(word));
    }
    return arguments;
}

bool MatchesWildcard(std::string_view pattern, std::string_view name) {
    // The last '*' seen and where in the name its run would end now: on a mismatch the
    // run takes one more character, so no backtracking deeper than one star is needed.
    std::size_t p = 0;
    std::size_t n = 0;
    std::size_t starP = std::string_view::npos;
    std::size_t starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = ++p;
            starN = n;
            continue;
        }
        std::size_t nextN = n;
        const std::uint32_t c = NextCharacter(name, nextN);
        if (p < pattern.size()) {
            std::size_t nextP = p;
            if (pattern[p] == '?') {
                ++nextP;
            } else if (NextCharacter(pattern, nextP) != c) {
                nextP = std::string_view::npos;
            }
            if (nextP != std::string_view::npos) {
                p = nextP;
                n = nextN;
                continue;
            }
        }
        if (starP == std::string_view::npos) {
            return false;
        }
        NextCharacter(name, starN);
        p = starP;
        n = starN;
    }
    while (p < pattern.size() && pattern[p] == '*') {
        ++p;
    }
    return p == pattern.size();
}

// ---- Paths ------------------------------------------------------------------------

std::size_t WindowsRootLength(std::string_view path) {
    std::size_t at = 0;
    const auto skipName = [&] {
        while (at < path.size() && !IsSeparator(path[at])) {
            ++at;
        }
    };
    const auto skipSeparators = [&] {
        while (at < path.size() && IsSeparator(path[at])) {
            ++at;
        }
    };
    if (path.size() >= 4 && IsSeparator(path[0]) && IsSeparator(path[1]) &&
        (path[2] == '?' || path[2] == '.') && IsSeparator(path[3])) {
        at = 4;
        if (path.substr(at, 4) == "UNC\\" || path.substr(at, 4) == "UNC/") {
            at += 4;
            skipName(); // the server
            skipSeparators();
            skipName(); // the share
        } else if (path.size() >= at + 2 && path[at + 1] == ':') {
            at += 2;
        } else {
            skipName(); // a device or a volume's name
        }
    } else if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
        at = 2;
        skipName();
        skipSeparators();
        skipName();
    } else if (path.size() >= 2 && path[1] == ':') {
        at = 2;
    }
    skipSeparators();
    return at;
}

namespace {

// A part of a path and the separators typed after it.
struct Part {
    std::string_view name;
    std::string_view separators;
};

std::vector<Part> PartsOf(std::string_view path) {
    std::vector<Part> parts;
    std::size_t at = 0;
    while (at < path.size()) {
        std::size_t end = at;
        while (end < path.size() && !IsSeparator(path[end])) {
            ++end;
        }
        std::size_t next = end;
        while (next < path.size() && IsSeparator(path[next])) {
            ++next;
        }
        parts.push_back({path.substr(at, end - at), path.substr(end, next - end)});
        at = next;
    }
    return parts;
}

struct Candidate {
    std::string comparable;
    std::string name;
};

// The names in `folder` that match `part`: folders, or files for the last part (and
// folders too with `folders`), sorted
// as the system compares them.
int Matches(const std::string& folder, std::string_view part, bool last, bool folders,
            std::vector<std::string>& names) {
    std::vector<sys::FolderEntry> entries;
    if (const int error = sys::ListFolder(folder, entries)) {
        return error;
    }
    const std::string pattern = sys::ComparableName(part);
    std::vector<Candidate> found;
    for (sys::FolderEntry& entry : entries) {
        if (entry.hidden || (entry.folder == last && !(last && folders))) {
            continue;
        }
        std::string comparable = sys::ComparableName(entry.name);
        if (MatchesWildcard(pattern, comparable)) {
            found.push_back({std::move(comparable), std::move(entry.name)});
        }
    }
    std::sort(found.begin(), found.end(), [](const Candidate& a, const Candidate& b) {
        return a.comparable != b.comparable ? a.comparable < b.comparable : a.name < b.name;
    });
    for (Candidate& candidate : found) {
        names.push_back(std::move(candidate.name));
    }
    return 0;
}

} // namespace

Result<std::vector<std::string>> ExpandWildcards(const std::string& pattern, bool folders) {
    const std::size_t root = WindowsRootLength(pattern);
    const std::vector<Part> parts = PartsOf(std::string_view(pattern).substr(root));
    std::vector<std::string> paths{pattern.substr(0, root)};
    // The first folder that could not be read, for when nothing matches at all.
    std::string unread;
    int unreadError = 0;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const Part& part = parts[i];
        const bool last = i + 1 == parts.size();
        const bool wild = std::any_of(part.name.begin(), part.name.end(), IsWildcard);
        // Folders named outright are taken as typed; whether they are there shows when
        // they are read. A last part is looked for, so that only files that exist match.
        if (!wild && (!last || part.name == "." || part.name == "..")) {
            for (std::string& path : paths) {
                path.append(part.name).append(part.separators);
            }
            continue;
        }
        std::vector<std::string> next;
        for (const std::string& path : paths) {
            std::vector<std::string> names;
            if (const int error = Matches(path, part.name, last, folders, names)) {
                // A folder that is not there, or is a file, holds no match.
                if (error != ENOENT && error != ENOTDIR && unreadError == 0) {
                    unread = path.empty() ? "." : path;
                    unreadError = error;
                }
                continue;
            }
            for (const std::string& name : names) {
                next.push_back(path + name + std::string(part.separators));
            }
        }
        paths = std::move(next);
    }
    if (paths.empty()) {
        if (unreadError != 0) {
            return Failure{Action::Read, pattern, "the folder \"" + unread + "\" cannot be read",
                           unreadError};
        }
        return Failure{Action::Read, pattern, "no file matches it", 0};
    }
    return paths;
}

} // namespace velmora
