#include "core/convert_command.h"

#include "core/convert_window.h"
#include "velmora/convert.h"
#include "velmora/output_path.h"

namespace velmora::ui {

namespace {

void SetInputsEnabled(ConvertWindow& window, bool enabled) {
    for (const Input input : kInputs) {
        window.SetInputEnabled(input, enabled);
    }
}

// "Cannot read "/home/me/in.html": No such file or directory.", the reason in the
// system's words: on Windows, "Cannot read "C:\x.html": The system cannot find the file
// specified."
std::string FailureMessage(const Failure& failure) {
    std::string message = Describe(failure, Wording::System);
    if (!message.empty() && message[0] >= 'a' && message[0] <= 'z') {
        message[0] = static_cast<char>(message[0] - 'a' + 'A');
    }
    return message + '.';
}

// A failure must not leave an earlier "File Successfully Processed" on view, as if this
// conversion had succeeded: the status is idle again before the box says why.
void ReportFailure(ConvertWindow& window, const Failure& failure) {
    window.SetStatusText(kIdleStatus);
    window.ShowFailure(FailureMessage(failure), kErrorTitle);
}

} // namespace

void ProgressBinding::SetMax(float max) {
    m_window.SetProgressMax(max);
}

void ProgressBinding::SetValue(float value) {
    m_window.SetProgressValue(value);
}

void ConvertCommand(ConvertWindow& window) {
    const std::string inputPath = window.GetPathText(PathBox::FileIn);
    if (inputPath.empty()) {
        return;
    }
    // The first pass reads the document through and tells whether it is to be converted.
    Result<Conversion> conversion = Conversion::Prepare(Source::File(inputPath));
    if (!conversion.has_value()) {
        ReportFailure(window, conversion.error());
        return;
    }
    switch (conversion.value().Outcome()) {
    case SourceOutcome::Empty:
        return;
    case SourceOutcome::Refused:
        window.ShowMessage(kRefusedMessage, kErrorTitle);
        return;
    case SourceOutcome::Accepted:
        break;
    }

    window.SetProgressVisible(true);
    SetInputsEnabled(window, false);
    // After a failure the window goes back to ready, as if the click had not happened,
    // and only then says what went wrong.
    auto fail = [&](const Failure& failure) {
        SetInputsEnabled(window, true);
        window.SetProgressVisible(false);
        ReportFailure(window, failure);
    };

    // The second pass streams the text into a new file that takes the output's place
    // only once it is whole, so the output path is read before it starts; its box is
    // disabled meanwhile.
    const std::string outputPath = window.GetPathText(PathBox::FileOut);
    // Writing over the input would lose the document it was made from.
    if (SameFile(inputPath, outputPath)) {
        return fail(Failure{Action::Write, outputPath, "it is the input file"});
    }
    ProgressBinding progress(window);
    const Result<void> written = conversion.value().Write(Destination::File(outputPath), progress);
    if (!written.has_value()) {
        return fail(written.error());
    }

    SetInputsEnabled(window, true);
    window.SetStatusText(kSuccessStatus);
    window.Beep();
    window.SetProgressVisible(false);
}

} // namespace velmora::ui
