#include "compare.h"

#include "phases.h"
#include "steps.h"
#include "velmora/convert.h"

#include <cstdio>

namespace velmora::model {

namespace {

class Recorder final : public ProgressSink {
public:
    explicit Recorder(Conversion& record) : m_record(record) {}
    void SetMax(float max) override {
        m_record.progress.emplace_back('M', max);
        m_max = max;
    }
    void SetValue(float value) override { m_record.progress.emplace_back('V', value); }
    float Max() const { return m_max; }

private:
    Conversion& m_record;
    float m_max = 0.0f;
};

std::string Progress(const Conversion& conversion) {
    std::string text;
    for (const auto& [kind, value] : conversion.progress) {
        text += kind;
        text += std::to_string(value) + " ";
    }
    return text;
}

} // namespace

// The engine's phases one after the other.
Conversion RunPhases(const std::string& file) {
    Conversion record;
    PreparedSource source = PrepareSourceText(file);
    record.outcome = source.outcome;
    if (source.outcome != SourceOutcome::Accepted) {
        return record;
    }
    record.normalised = source.text;
    Recorder recorder(record);
    Result<std::string> rewritten = RewriteDefinitionLists(record.normalised, recorder);
    if (!rewritten.has_value()) {
        record.rewritten = "<failed: " + Describe(rewritten.error()) + ">";
        return record;
    }
    record.rewritten = rewritten.value();
    Result<std::string> output = AssembleIndentedText(record.rewritten, recorder, recorder.Max());
    record.output =
        output.has_value() ? output.value() : "<failed: " + Describe(output.error()) + ">";
    return record;
}

Conversion RunEngine(const std::string& file) {
    Conversion record = RunPhases(file);
    // The whole conversion again, streamed in pieces cut at places that vary with the
    // document (a third of them longer than the 64 bytes a scan takes at once), every other
    // one assembled on a thread of its own: any difference from the phases shows in the
    // output compared.
    const std::size_t pieceSize =
        file.size() % 3 == 0 ? 65 + file.size() % 97 : 1 + file.size() % 23;
    const std::size_t twoThreadsFrom = file.size() % 2 == 0 ? 0 : static_cast<std::size_t>(-1);
    Conversion streamed;
    Recorder recorder(streamed);
    std::string output;
    Result<SourceOutcome> outcome =
        detail::ConvertTextInPieces(file, output, recorder, pieceSize, twoThreadsFrom);
    const bool same = outcome.has_value() && outcome.value() == record.outcome &&
                      (record.outcome != SourceOutcome::Accepted ||
                       (output == record.output && streamed.progress == record.progress));
    if (!same) {
        record.output =
            "<streamed in pieces of " + std::to_string(pieceSize) + ": " +
            (outcome.has_value()
                 ? "outcome " + std::to_string(static_cast<int>(outcome.value())) + ", output \"" +
                       Escape(output) + "\", progress " + Progress(streamed)
                 : Describe(outcome.error())) +
            ">";
        return record;
    }
    // And in the single reading, which takes the line break from the first piece that has
    // one and goes back to two readings where a later one contradicts it.
    NoProgress none;
    outcome = detail::ConvertTextInPieces(file, output, none, pieceSize, twoThreadsFrom, true);
    if (!outcome.has_value() || outcome.value() != record.outcome ||
        (record.outcome == SourceOutcome::Accepted && output != record.output)) {
        record.output =
            "<in one reading, in pieces of " + std::to_string(pieceSize) + ": " +
            (outcome.has_value() ? "outcome " + std::to_string(static_cast<int>(outcome.value())) +
                                       ", output \"" + Escape(output) + "\""
                                 : Describe(outcome.error())) +
            ">";
    }
    return record;
}

std::string Difference(const Conversion& expected, const Conversion& actual) {
    if (expected.outcome != actual.outcome) {
        return "outcome " + std::to_string(static_cast<int>(expected.outcome)) +
               " != " + std::to_string(static_cast<int>(actual.outcome));
    }
    if (expected.normalised != actual.normalised) {
        return "normalised \"" + Escape(expected.normalised) + "\" != \"" +
               Escape(actual.normalised) + "\"";
    }
    if (expected.rewritten != actual.rewritten) {
        return "rewritten \"" + Escape(expected.rewritten) + "\" != \"" + Escape(actual.rewritten) +
               "\"";
    }
    if (expected.output != actual.output) {
        return "output \"" + Escape(expected.output) + "\" != \"" + Escape(actual.output) + "\"";
    }
    if (expected.progress != actual.progress) {
        return "progress " + Progress(expected) + "!= " + Progress(actual);
    }
    return {};
}

std::string Escape(std::string_view bytes) {
    std::string text;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\\' || c == '"') {
            text += '\\';
            text += c;
        } else if (byte >= 32 && byte < 127) {
            text += c;
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            text += escaped;
        }
    }
    return text;
}

} // namespace velmora::model
