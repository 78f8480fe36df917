#pragma once

#include "transcription/StreamingServiceTranscriber.h"

// AssemblyAI's real-time service, version 3 of its streaming protocol. Each
// transcribe() opens one WebSocket to <endpoint>/v3/ws with the model,
// encoding, sample rate, language detection and up to 100 key terms in the
// query and the key as the Authorization header; streams the audio in batches
// of at least 100 ms; reports `connected` at the service's "Begin" (then pins
// the language, if one is set); turns each "Turn" into `interim`, or into
// `language`, `final` and an empty `interim` at the end of a turn. When the
// audio ends it asks the service to close the turn and to terminate, and
// finishes at "Termination" or a normal close. A service that ends the session
// while audio is still being sent finishes it with `connectionLost`. Never
// retries; the reconnecting wrapper does. The service is at
// wss://streaming.assemblyai.com unless VELL_ASSEMBLYAI_STREAMING_URL names
// another.
extern const StreamingService kAssemblyAIStreaming;

using AssemblyAITranscriber = StreamingServiceTranscriber<kAssemblyAIStreaming>;
