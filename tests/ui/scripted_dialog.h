#pragma once

// A file dialog that opens nothing: it answers ShowOpen as the test says, and fails at
// any step on request.

#include "common_dialog.h"

#include <QStringList>

namespace velmora::ui::test {

class ScriptedDialog final : public CommonDialog {
public:
    // The next ShowOpen chooses this path; an empty one means the user cancels.
    QString nextChoice;
    // The step that raises an error instead of doing its work: "SetFilter",
    // "SetCancelError", "ShowOpen" or "FileName".
    QString failAt;
    // What was asked, in order, e.g. "SetFilter Text (*.txt)|*.txt|...", "ShowOpen on X".
    QStringList calls;

    void SetFilter(const QString& filter) override {
        Step("SetFilter");
        m_filter = filter;
        calls.append("SetFilter " + filter);
    }
    void SetCancelError(bool cancelError) override {
        Step("SetCancelError");
        m_cancelError = cancelError;
        calls.append(cancelError ? "SetCancelError true" : "SetCancelError false");
    }
    void ShowOpen() override {
        Step("ShowOpen");
        calls.append("ShowOpen on " + m_fileName);
        if (nextChoice.isEmpty()) {
            if (m_cancelError) {
                throw DialogError{kCancelError, "Cancel was selected."};
            }
            return;
        }
        m_fileName = nextChoice;
    }
    QString FileName() const override {
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

    QString m_filter;
    bool m_cancelError = false;
    QString m_fileName;
};

} // namespace velmora::ui::test
