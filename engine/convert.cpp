#include "convert.h"

#include "assemble.h"
#include "rewrite.h"

namespace velmora {

namespace {

// Passes progress on and keeps the maximum for the last SetValue of the assembly.
class RecordingSink final : public ProgressSink {
public:
    explicit RecordingSink(ProgressSink& next) : m_next(next) {}
    void SetMax(float max) override {
        m_max = max;
        m_next.SetMax(max);
    }
    void SetValue(float value) override { m_next.SetValue(value); }
    float Max() const { return m_max; }

private:
    ProgressSink& m_next;
    float m_max = 0.0f;
};

} // namespace

Result<SourceOutcome> ConvertText(std::string input, std::string& output, ProgressSink& sink) {
    PreparedSource source = PrepareSourceText(std::move(input));
    if (source.outcome != SourceOutcome::Accepted) {
        return source.outcome;
    }
    RecordingSink recorder(sink);
    Result<std::string> rewritten = RewriteDefinitionLists(source.text, recorder);
    if (!rewritten.Ok()) {
        return rewritten.GetFailure();
    }
    // The normalised text is done with; its memory takes the output.
    Result<std::string> assembled = AssembleIndentedText(rewritten.Value(), recorder,
                                                         recorder.Max(), std::move(source.text));
    if (!assembled.Ok()) {
        return assembled.GetFailure();
    }
    output = std::move(assembled.Value());
    return SourceOutcome::Accepted;
}

Result<SourceOutcome> ConvertFile(const std::string& inputPath, const std::string& outputPath,
                                  ProgressSink& sink) {
    Result<std::string> input = ReadSourceFile(inputPath);
    if (!input.Ok()) {
        return input.GetFailure();
    }
    std::string output;
    Result<SourceOutcome> converted = ConvertText(std::move(input.Value()), output, sink);
    if (!converted.Ok()) {
        converted.GetFailure().path = inputPath;
        return converted;
    }
    if (converted.Value() != SourceOutcome::Accepted) {
        return converted;
    }
    Result<void> written = WriteOutputFile(outputPath, output);
    if (!written.Ok()) {
        return written.GetFailure();
    }
    return SourceOutcome::Accepted;
}

} // namespace velmora
