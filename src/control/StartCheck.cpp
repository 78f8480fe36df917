#include "control/StartCheck.h"

std::optional<StartRefusal> checkStart(const StartConditions& conditions)
{
    if (conditions.keyboardGrabbed)
        return StartRefusal::keyboardGrabbed;
    if (conditions.passwordField)
        return StartRefusal::passwordField;
    const bool needsNetwork = conditions.provider != TranscriptionProvider::mock;
    if (needsNetwork && !conditions.hasKey)
        return conditions.keyLocked ? StartRefusal::keyringLocked : StartRefusal::missingKey;
    if (needsNetwork && !conditions.sharingAllowed)
        return StartRefusal::needsConsent;
    if (needsNetwork && conditions.online == false)
        return StartRefusal::offline;
    switch (conditions.microphone) {
    case MicrophonePermission::Status::denied:
        return StartRefusal::microphoneOff;
    case MicrophonePermission::Status::undetermined:
        return StartRefusal::microphoneUndetermined;
    case MicrophonePermission::Status::granted:
        break;
    }
    return std::nullopt;
}
