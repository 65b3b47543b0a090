#include "phases.h"

#include "bytes.h"
#include "out_of_memory.h"
#include "stages.h"
#include "steps.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <stdexcept>

namespace velmora {

namespace detail {

std::string_view ScopeToFirstList(std::string_view text) {
    Scanner scanner;
    // One piece, the first: the scanner writes nothing in front of it.
    scanner.Feed(const_cast<char*>(text.data()), text.size());
    return text.substr(scanner.ScopeBegin(), scanner.ScopeEnd() - scanner.ScopeBegin());
}

std::string RewriteTags(std::string_view scoped, ProgressSink& sink) {
    std::string rewritten;
    StringSink into(rewritten);
    Rewriter rewriter(sink, into);
    rewriter.Feed(scoped);
    rewriter.Finish();
    return rewritten;
}

} // namespace detail

Result<std::string> RewriteDefinitionLists(std::string_view text, ProgressSink& sink) {
    return detail::OrOutOfMemory(Action::Convert, {}, [&]() -> Result<std::string> {
        const std::string_view scoped = detail::ScopeToFirstList(text);
        sink.SetMax(static_cast<float>(scoped.size()));
        return detail::RewriteTags(scoped, sink);
    });
}

} // namespace velmora
