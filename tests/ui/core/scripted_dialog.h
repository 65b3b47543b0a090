#pragma once

// A file dialog that opens nothing: it answers ShowOpen as the test says, and fails at
// any step on request.

#include "ui/core/common_dialog.h"

#include <string>
#include <vector>

namespace velmora::ui::test {

class ScriptedDialog final : public CommonDialog {
public:
    // The next ShowOpen chooses this path; an empty one means the user cancels.
    std::string nextChoice;
    // The step that raises an error instead of doing its work: "SetFilter",
    // "SetCancelError", "ShowOpen" or "FileName".
    std::string failAt;
    // What was asked, in order, e.g. "SetFilter Text (*.txt)|*.txt|...", "ShowOpen on X".
    std::vector<std::string> calls;

    void SetFilter(const std::string& filter) override {
        Step("SetFilter");
        m_filter = filter;
        calls.push_back("SetFilter " + filter);
    }
    void SetCancelError(bool cancelError) override {
        Step("SetCancelError");
        m_cancelError = cancelError;
        calls.push_back(cancelError ? "SetCancelError true" : "SetCancelError false");
    }
    void ShowOpen() override {
        Step("ShowOpen");
        calls.push_back("ShowOpen on " + m_fileName);
        if (nextChoice.empty()) {
            if (m_cancelError) {
                throw DialogError{kCancelError, "Cancel was selected."};
            }
            return;
        }
        m_fileName = nextChoice;
    }
    std::string FileName() const override {
        if (failAt == "FileName") {
            throw DialogError{20476, "scripted failure"};
        }
        return m_fileName;
    }

private:
    void Step(const char* name) const {
        if (failAt == name) {
            throw DialogError{20476, "scripted failure"};
        }
    }

    std::string m_filter;
    bool m_cancelError = false;
    std::string m_fileName;
};

} // namespace velmora::ui::test
