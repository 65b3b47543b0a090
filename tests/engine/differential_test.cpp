// The engine against the literal model on many seeded random documents: outcome,
// normalised, rewritten and output texts, and every progress call must agree.

#include "model/compare.h"
#include "model/random_document.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace velmora {
namespace {

std::uint64_t Cases() {
    const char* wanted = std::getenv("VELMORA_DIFFERENTIAL_CASES");
    return wanted != nullptr ? std::strtoull(wanted, nullptr, 10) : 20000;
}

TEST(Differential, EngineMatchesTheLiteralModel) {
    const std::uint64_t cases = Cases();
    test::ForEachBlockPath([&](const char* path) {
        int reported = 0;
        for (std::uint64_t seed = 1; seed <= cases && reported < 5; ++seed) {
            const std::string document = model::RandomDocument(seed);
            const std::string difference =
                model::Difference(model::Convert(document), model::RunEngine(document));
            if (!difference.empty()) {
                ADD_FAILURE() << path << ", seed " << seed << ", document \""
                              << model::Escape(document) << "\": " << difference;
                ++reported;
            }
        }
    });
}

} // namespace
} // namespace velmora
