#include "convert_command.h"

#include "convert_window.h"
#include "engine/assemble.h"
#include "engine/output_path.h"
#include "engine/rewrite.h"
#include "engine/source.h"

#include <QFile>

namespace velmora::ui {

namespace {

std::string EngineText(const QString& path) { return QFile::encodeName(path).toStdString(); }

void SetInputsEnabled(ConvertWindow& window, bool enabled) {
    for (const Input input : kInputs) {
        window.SetInputEnabled(input, enabled);
    }
}

// "Cannot read "/home/me/in.html": No such file or directory."
QString FailureMessage(const Failure& failure) {
    QString message = QFile::decodeName(QByteArray::fromStdString(Describe(failure)));
    if (!message.isEmpty()) {
        message[0] = message[0].toUpper();
    }
    return message + QLatin1Char('.');
}

} // namespace

void ProgressBinding::SetMax(float max) {
    m_lastMax = max;
    m_window.SetProgressMax(max);
}

void ProgressBinding::SetValue(float value) { m_window.SetProgressValue(value); }

void ConvertCommand(ConvertWindow& window) {
    const QString input = window.GetPathText(PathBox::FileIn);
    if (input.isEmpty()) {
        return;
    }
    const std::string inputPath = EngineText(input);
    Result<PreparedSource> source = PrepareSource(inputPath);
    if (!source.Ok()) {
        window.ShowMessage(FailureMessage(source.GetFailure()), kErrorTitle);
        return;
    }
    switch (source.Value().outcome) {
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
        window.ShowMessage(FailureMessage(failure), kErrorTitle);
    };
    // Rewriting and assembling fail only for want of memory, which names no file.
    auto failConverting = [&](Failure failure) {
        failure.path = inputPath;
        fail(failure);
    };

    ProgressBinding progress(window);
    Result<std::string> rewritten = RewriteDefinitionLists(source.Value().text, progress);
    if (!rewritten.Ok()) {
        return failConverting(rewritten.GetFailure());
    }
    // The normalised text is done with; its memory takes the output.
    Result<std::string> output = AssembleIndentedText(rewritten.Value(), progress,
                                                      progress.LastMax(),
                                                      std::move(source.Value().text));
    std::string().swap(rewritten.Value());
    if (!output.Ok()) {
        return failConverting(output.GetFailure());
    }
    const std::string outputPath = EngineText(window.GetPathText(PathBox::FileOut));
    // Writing over the input would lose the document it was made from.
    if (SameFile(inputPath, outputPath)) {
        return fail(Failure{"cannot write", outputPath, "it is the input file"});
    }
    const Result<void> written = WriteOutputFile(outputPath, output.Value());
    if (!written.Ok()) {
        return fail(written.GetFailure());
    }

    SetInputsEnabled(window, true);
    window.SetStatusText(kSuccessStatus);
    window.Beep();
    window.SetProgressVisible(false);
}

} // namespace velmora::ui
