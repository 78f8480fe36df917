#pragma once

#include "transcription/StreamingServiceTranscriber.h"

// Soniox's real-time service. Each transcribe() opens one WebSocket to
// <endpoint>/transcribe-websocket with the key as a Bearer Authorization
// header, sends the configuration (model, audio format, language
// identification, endpoint detection, the pinned language as a hint and the
// whole vocabulary as context terms) as the first message and reports
// `connected` as soon as it is out; then streams the audio in batches of at
// least 100 ms. The service's tokens are assembled here: final ones gather
// until an "<end>" or "<fin>" marker commits them as one `final` (then an
// empty `interim`); meanwhile `interim` shows the gathered final text with the
// message's non-final tokens; a language change is reported once, before the
// text of its message. When the audio ends it sends "finalize" and an empty
// frame and finishes at the service's "finished" message or a normal close.
// Text that was final but not yet committed is delivered before any ending,
// also a failed one. A service that ends the session while audio is still
// being sent finishes it with `connectionLost`. Never retries. The service is
// at wss://stt-rt.soniox.com unless VELL_SONIOX_STREAMING_URL names another.
extern const StreamingService kSonioxStreaming;

using SonioxTranscriber = StreamingServiceTranscriber<kSonioxStreaming>;
