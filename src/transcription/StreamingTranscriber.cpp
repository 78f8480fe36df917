#include "transcription/StreamingTranscriber.h"

#include "transcription/MockTranscriber.h"

std::unique_ptr<StreamingTranscriber> makeTranscriber(TranscriptionProvider provider)
{
    switch (provider) {
    case TranscriptionProvider::mock:
        return std::make_unique<MockTranscriber>();
    case TranscriptionProvider::assemblyAI:
    case TranscriptionProvider::soniox:
        return nullptr;
    }
    return nullptr;
}
