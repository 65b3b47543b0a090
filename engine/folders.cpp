#include "velmora/folders.h"

#include "paths.h"
#include "platform.h"
#include "system.h"

#include <algorithm>
#include <cerrno>
#include <unordered_set>

namespace velmora {

namespace {

bool IsSeparator(char c) {
    return sys::kPathSeparators.find(c) != std::string_view::npos;
}

// The separator the system writes: the last of those it reads ("\\" on Windows).
char Separator() {
    return sys::kPathSeparators.back();
}

// The bytes that name where a path starts: "/", and on Windows, where a ':' ends a drive's
// name, "C:", "C:\", "\\server\share\" and the like too.
std::size_t RootLength(std::string_view path) {
    if (IsSeparator(':')) {
        return WindowsRootLength(path);
    }
    return std::min(path.size(), path.find_first_not_of('/'));
}

// `path` without the separators it ends in, its root left whole ("/", "C:\").
std::string Trimmed(const std::string& path) {
    const std::size_t root = RootLength(path);
    std::size_t end = path.size();
    while (end > root && IsSeparator(path[end - 1])) {
        --end;
    }
    return path.substr(0, end);
}

// The folder above `path`, "." for a bare name, or `path` itself at a root.
std::string Above(const std::string& path) {
    const std::string up = FolderPart(Trimmed(path));
    return up.empty() ? std::string(".") : up;
}

// A level of the walk: a folder, and the folders in it still to walk, last first.
struct Level {
    std::string path;
    std::string below;
    std::string key;
    std::vector<std::string> folders;
};

} // namespace

bool IsFolder(const std::string& path) {
    return sys::IsFolder(path);
}

bool IsDocumentName(std::string_view name) {
    auto endsWith = [&](std::string_view extension) {
        return name.size() >= extension.size() &&
               std::equal(extension.rbegin(), extension.rend(), name.rbegin(), [](char e, char c) {
                   return e == (c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
               });
    };
    return endsWith(".html") || endsWith(".htm");
}

std::string FolderPart(const std::string& path) {
    const std::size_t root = RootLength(path);
    const std::size_t last = path.find_last_of(sys::kPathSeparators);
    if (last == std::string::npos || last < root) {
        return path.substr(0, root);
    }
    std::size_t cut = last;
    while (cut > root && IsSeparator(path[cut - 1])) {
        --cut;
    }
    return path.substr(0, std::max(cut, root));
}

std::string SettledFolder(const std::string& folder) {
    // The names below the nearest folder that exists, last first.
    std::vector<std::string> names;
    std::string at = Trimmed(folder);
    while (!at.empty() && !sys::IsFolder(at)) {
        const std::string up = FolderPart(at);
        if (up == at) {
            break;
        }
        const std::size_t start =
            std::min(at.size(), at.find_first_not_of(sys::kPathSeparators, up.size()));
        names.push_back(at.substr(start));
        at = Trimmed(up);
    }
    std::vector<std::string> kept;
    for (auto name = names.rbegin(); name != names.rend(); ++name) {
        if (*name == "..") {
            // Above the folders still to make: from the one that exists, as the system goes up.
            if (kept.empty()) {
                at = JoinPath(at.empty() ? std::string(".") : at, "..");
            } else {
                kept.pop_back();
            }
        } else if (*name != ".") {
            kept.push_back(std::move(*name));
        }
    }
    for (const std::string& name : kept) {
        at = JoinPath(at, name);
    }
    return at.empty() ? std::string(".") : at;
}

std::string JoinPath(const std::string& folder, std::string_view name) {
    if (folder.empty()) {
        return std::string(name);
    }
    std::string path = folder;
    if (!IsSeparator(folder.back())) {
        path += Separator();
    }
    return path.append(name);
}

void WalkFolder(const std::string& root, FolderWalk& walk) {
    // Depth first with a stack of its own: a tree as deep as paths allow needs no more
    // of the thread's stack than a flat one.
    std::vector<Level> levels;
    // The identities of the folders on the way down to the one being read.
    std::unordered_set<std::string> above;
    auto enter = [&](std::string path, std::string below) {
        std::string key = sys::FileKey(path);
        if (!key.empty() && !above.insert(key).second) {
            ++walk.passedOver; // the folder itself again, below itself
            return;
        }
        std::vector<sys::FolderEntry> entries;
        if (const int error = sys::ListFolder(path, entries)) {
            above.erase(key);
            walk.failures.push_back({Action::Read, path, "", error});
            return;
        }
        std::sort(
            entries.begin(), entries.end(),
            [](const sys::FolderEntry& a, const sys::FolderEntry& b) { return a.name < b.name; });
        Level level{std::move(path), std::move(below), std::move(key), {}};
        for (sys::FolderEntry& entry : entries) {
            if (entry.folder && !entry.link) {
                level.folders.push_back(std::move(entry.name));
            } else if (entry.folder || entry.other || !IsDocumentName(entry.name)) {
                ++walk.passedOver;
            } else {
                walk.documents.push_back(
                    {JoinPath(level.path, entry.name), JoinPath(level.below, entry.name)});
            }
        }
        std::reverse(level.folders.begin(), level.folders.end());
        levels.push_back(std::move(level));
    };
    enter(root, "");
    while (!levels.empty()) {
        Level& top = levels.back();
        if (top.folders.empty()) {
            above.erase(top.key);
            levels.pop_back();
            continue;
        }
        const std::string name = std::move(top.folders.back());
        top.folders.pop_back();
        enter(JoinPath(top.path, name), JoinPath(top.below, name));
    }
}

bool HoldsFolder(const std::string& folder, const std::string& inside) {
    const std::string target = sys::IsFolder(folder) ? sys::FileKey(folder) : std::string();
    if (target.empty()) {
        return false;
    }
    // From the nearest folder of `inside` that exists, up through each ".." to the root,
    // whose ".." is itself: the folders it lies in as the system has them, links resolved.
    std::string at = Trimmed(inside);
    while (!sys::IsFolder(at)) {
        const std::string up = Above(at);
        if (up == at) {
            return false;
        }
        at = up;
    }
    std::string key = sys::FileKey(at);
    for (std::size_t depth = 0; !key.empty() && depth < 4096; ++depth) {
        if (key == target) {
            return true;
        }
        at = JoinPath(at, "..");
        std::string next = sys::FileKey(at);
        if (next == key) {
            return false;
        }
        key = std::move(next);
    }
    return false;
}

Result<void> MakeFolders(const std::string& folder) {
    std::vector<std::string> missing;
    for (std::string at = Trimmed(folder); !at.empty() && !sys::IsFolder(at);) {
        missing.push_back(at);
        const std::string up = Above(at);
        if (up == at) {
            break;
        }
        at = up;
    }
    for (auto at = missing.rbegin(); at != missing.rend(); ++at) {
        const int error = sys::MakeFolder(*at);
        // Made meanwhile by a conversion beside this one, or there all along.
        if (error != 0 && !(error == EEXIST && sys::IsFolder(*at))) {
            return Failure{Action::Write, *at, "the folder cannot be made",
                           error == EEXIST ? ENOTDIR : error};
        }
    }
    return {};
}

} // namespace velmora
