#pragma once

#include "audio/AudioCapture.h"
#include "text/TextCleaner.h"
#include "transcription/TranscriptionError.h"
#include "transcription/TranscriptionProvider.h"

#include <QList>
#include <QString>

#include <optional>
#include <variant>

// The chosen service has no transcriber in this build.
struct TranscriberMissing
{
    TranscriptionProvider provider = TranscriptionProvider::mock;

    bool operator==(const TranscriberMissing&) const = default;
};

// The microphone did not open, or stopped while listening.
struct MicrophoneFailure
{
    AudioCapture::CaptureError error = AudioCapture::CaptureError::noInput;
    bool opened = false;

    bool operator==(const MicrophoneFailure&) const = default;
};

// The cleanup failed, so the raw transcript is delivered.
struct CleanupFailure
{
    TextCleaner::Failure failure;

    bool operator==(const CleanupFailure&) const = default;
};

// Why the text was left on the clipboard instead of being pasted.
struct PasteRefusal
{
    enum class Reason {
        switchedApp,     // `appName`: the application in front now, if known
        keyboardGrabbed, // another program holds the keyboard
        pasteFailed,     // the paste could not be posted
        noTarget,        // nothing was in front when the dictation started
        notAllowed,      // the desktop does not let Vell post the paste keystroke
    };

    Reason reason = Reason::noTarget;
    std::optional<QString> appName;

    bool operator==(const PasteRefusal&) const = default;
};

// A file Vell keeps could not be saved, or could not be read and was set aside.
struct StoredFileProblem
{
    enum class File { history, usage };

    File file = File::history;
    std::optional<QString> setAsideAs; // the moved file's name; none: saving fails

    bool operator==(const StoredFileProblem&) const = default;
};

// Something that went wrong in a dictation whose text is still delivered.
using DictationProblem = std::variant<TranscriberMissing, MicrophoneFailure, TranscriptionError, CleanupFailure,
                                      PasteRefusal, StoredFileProblem>;
using DictationProblems = QList<DictationProblem>;

namespace DictationProblemText {

// The sentence the user reads.
QString description(const DictationProblem& problem);
// The sentences joined by spaces; none for no problems.
std::optional<QString> description(const DictationProblems& problems);
// What went wrong, without the user's words or a service's text: for the log.
QString kind(const DictationProblem& problem);

} // namespace DictationProblemText
