#pragma once

#include "platform/MicrophonePermission.h"
#include "transcription/TranscriptionProvider.h"

#include <optional>

// Why a dictation cannot start now.
enum class StartRefusal {
    keyboardGrabbed,        // another program holds the whole keyboard, as password prompts do
    passwordField,          // the focus is in a password field
    missingKey,             // the chosen service has no key
    keyringLocked,          // its key is kept in a keyring that is locked
    needsConsent,           // the user has not allowed sending the voice to a service
    offline,                // the network is known to be down
    microphoneOff,          // the desktop denies the microphone
    microphoneUndetermined, // the microphone has not been asked for yet
};

// What decides whether a dictation may start.
struct StartConditions
{
    bool keyboardGrabbed = false;
    bool passwordField = false;
    TranscriptionProvider provider = TranscriptionProvider::mock;
    bool hasKey = false;
    bool keyLocked = false; // the key is there, behind a locked keyring
    bool sharingAllowed = false;
    std::optional<bool> online; // absent while unknown, which never blocks
    MicrophonePermission::Status microphone = MicrophonePermission::Status::undetermined;
};

// The first reason a dictation cannot start; none when it can. Near a
// password nothing is heard at all; the demo needs neither a key, consent
// nor the network.
std::optional<StartRefusal> checkStart(const StartConditions& conditions);
