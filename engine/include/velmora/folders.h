#pragma once

// Folders named as inputs: the documents found by walking one, and the folders an output
// is written into, made as it is written.

#include "velmora/failure.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

// Whether `path` names a folder, links followed.
bool IsFolder(const std::string& path);

// Whether a file name is a document's: it ends in ".html" or ".htm", in any case.
bool IsDocumentName(std::string_view name);

// A document found in a walked folder: its path, and the part of it below that folder.
struct FoundDocument {
    std::string path;
    std::string below;
};

struct FolderWalk {
    std::vector<FoundDocument> documents;
    // Entries that are not documents: other files, links to folders, FIFOs, devices.
    std::size_t passedOver = 0;
    // Each folder that could not be read; the walk goes on without it.
    std::vector<Failure> failures;
};

// Adds to `walk` every document in `root` and in the folders below it, folder by folder,
// each sorted by name. Links to files are followed; links to folders (and junctions) are
// not descended, nor is a folder that is one of those it lies in, so no walk can loop.
// Holds the names found, never a folder open for longer than its listing.
void WalkFolder(const std::string& root, FolderWalk& walk);

// Whether `folder` is `inside` or one of the folders it lies in, links followed: files
// written under `inside` would land in `folder`'s tree. `inside` need not exist yet.
bool HoldsFolder(const std::string& folder, const std::string& inside);

// `folder` with the "." and ".." of its part that does not exist yet taken out, as making
// that part will settle them: "new/../out" is "out", "new/../.." the folder above this one.
std::string SettledFolder(const std::string& folder);

// `folder` and every folder above it that is missing, made as `mkdir -p` makes them.
Result<void> MakeFolders(const std::string& folder);

// The folder part of `path` ("" for a bare name), without its last separator.
std::string FolderPart(const std::string& path);
// `folder` and `name` joined by the system's separator, unless `folder` ends in one.
std::string JoinPath(const std::string& folder, std::string_view name);

} // namespace velmora
