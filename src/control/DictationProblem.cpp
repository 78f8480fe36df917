#include "control/DictationProblem.h"

#include <QStringList>

namespace {

template <typename... Handlers> struct Overloaded : Handlers...
{
    using Handlers::operator()...;
};
template <typename... Handlers> Overloaded(Handlers...) -> Overloaded<Handlers...>;

QString pasteRefusalText(const PasteRefusal& refusal)
{
    switch (refusal.reason) {
    case PasteRefusal::Reason::switchedApp:
        return QStringLiteral("You switched to %1, so it wasn't pasted.")
            .arg(refusal.appName.value_or(QStringLiteral("another app")));
    case PasteRefusal::Reason::keyboardGrabbed:
        return QStringLiteral("Another program holds the keyboard, so it wasn't pasted.");
    case PasteRefusal::Reason::pasteFailed:
        return QStringLiteral("Pasting didn't work this time.");
    case PasteRefusal::Reason::notAllowed:
        return QStringLiteral("Your desktop didn't let Vell paste; allow it when it asks at your next dictation.");
    case PasteRefusal::Reason::noTarget:
        return QStringLiteral("There was no app to paste into.");
    }
    return {};
}

QString storedFileText(const StoredFileProblem& problem)
{
    const bool history = problem.file == StoredFileProblem::File::history;
    if (problem.setAsideAs)
        return QStringLiteral("Your %1 file couldn't be read, so Vell set it aside as %2 and started a new one.")
            .arg(history ? QStringLiteral("history") : QStringLiteral("statistics"), *problem.setAsideAs);
    return history ? QStringLiteral("History couldn't be saved to disk; Vell keeps trying, and what isn't saved is "
                                    "lost when it quits.")
                   : QStringLiteral("Your statistics couldn't be saved to disk; Vell keeps trying.");
}

} // namespace

namespace DictationProblemText {

QString description(const DictationProblem& problem)
{
    return std::visit(Overloaded{
                          [](const TranscriberMissing& missing) {
                              return QStringLiteral("%1 isn't available in this version of Vell.")
                                  .arg(TranscriptionProviders::title(missing.provider));
                          },
                          [](const MicrophoneFailure& failure) {
                              return (failure.opened ? QStringLiteral("The microphone stopped: ")
                                                     : QStringLiteral("Couldn't open the microphone: ")) +
                                     AudioCapture::description(failure.error);
                          },
                          [](const TranscriptionError& error) { return error.description(); },
                          [](const CleanupFailure& failure) {
                              return TextCleaner::description(failure.failure) +
                                     QStringLiteral(" Pasted the raw transcript.");
                          },
                          [](const PasteRefusal& refusal) { return pasteRefusalText(refusal); },
                          [](const StoredFileProblem& problem) { return storedFileText(problem); },
                      },
                      problem);
}

std::optional<QString> description(const DictationProblems& problems)
{
    QStringList sentences;
    for (const DictationProblem& problem : problems)
        sentences << description(problem);
    sentences.removeAll(QString());
    if (sentences.isEmpty())
        return std::nullopt;
    return sentences.join(QLatin1Char(' '));
}

QString kind(const DictationProblem& problem)
{
    static const char* const kPasteReasons[] = {"switched app", "keyboard grabbed", "paste failed", "no target",
                                                "not allowed"};
    return std::visit(
        Overloaded{
            [](const TranscriberMissing& missing) {
                return QStringLiteral("no transcriber for ") + TranscriptionProviders::rawValue(missing.provider);
            },
            [](const MicrophoneFailure& failure) { return description(failure); },
            [](const TranscriptionError& error) { return QStringLiteral("transcription: ") + error.kindName(); },
            [](const CleanupFailure& failure) {
                if (const auto* error = std::get_if<TextCleaner::CleanupError>(&failure.failure))
                    return QStringLiteral("cleanup: error kind %1, HTTP status %2")
                        .arg(int(error->kind))
                        .arg(error->status);
                return QStringLiteral("cleanup: network error %1")
                    .arg(int(std::get<TextCleaner::TransportError>(failure.failure).code));
            },
            [](const PasteRefusal& refusal) {
                return QStringLiteral("not pasted: ") + QLatin1String(kPasteReasons[int(refusal.reason)]);
            },
            [](const StoredFileProblem& problem) {
                return QStringLiteral("%1 file %2")
                    .arg(problem.file == StoredFileProblem::File::history ? QStringLiteral("history")
                                                                          : QStringLiteral("usage"),
                         problem.setAsideAs ? QStringLiteral("set aside") : QStringLiteral("unsaved"));
            },
        },
        problem);
}

} // namespace DictationProblemText
