#pragma once

struct pa_operation;
struct pa_stream;

// The ends of what a libpulse client holds, with the loop locked. Each leaves
// the pointer null and accepts a null one.

// Cancels the operation, so its callback never runs, and drops it.
void cancelOperation(pa_operation*& operation);

// Silences the stream's callbacks, disconnects it while it is still connected,
// and drops it.
void closeStream(pa_stream*& stream);
