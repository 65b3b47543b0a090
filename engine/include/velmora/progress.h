#pragma once

namespace velmora {

// Receives the progress of one conversion. SetMax comes once, with the number of
// characters inside the first definition list; SetValue comes once per tag with the
// position of that tag's ">" in the text being rewritten (it may exceed the maximum,
// since the text grows as tags are replaced, and is 0 for a tag with no ">"), and once
// more at the end with the maximum. Both are called on the converting thread.
class ProgressSink {
public:
    virtual ~ProgressSink() = default;
    virtual void SetMax(float max) = 0;
    virtual void SetValue(float value) = 0;
    // Asked after each piece of input: true ends the conversion with kStoppedMessage, and
    // a file output is left as it was.
    virtual bool Stopped() { return false; }
    // False for a sink that shows nothing and never asks to stop: the conversion may then
    // skip the calls per tag, and read its input only once.
    virtual bool Shown() const { return true; }
};

// For callers that show no progress.
class NoProgress final : public ProgressSink {
public:
    void SetMax(float) override {}
    void SetValue(float) override {}
    bool Shown() const override { return false; }
};

} // namespace velmora
