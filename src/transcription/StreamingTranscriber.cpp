#include "transcription/StreamingTranscriber.h"

#include "transcription/AssemblyAITranscriber.h"
#include "transcription/MockTranscriber.h"
#include "transcription/ResilientTranscriber.h"
#include "transcription/SonioxTranscriber.h"

std::unique_ptr<StreamingTranscriber> makeTranscriber(TranscriptionProvider provider)
{
    switch (provider) {
    case TranscriptionProvider::mock:
        return std::make_unique<MockTranscriber>();
    case TranscriptionProvider::assemblyAI:
        return std::make_unique<ResilientTranscriber>(std::make_shared<AssemblyAITranscriber>(),
                                                      QStringLiteral("AssemblyAI"));
    case TranscriptionProvider::soniox:
        return std::make_unique<ResilientTranscriber>(std::make_shared<SonioxTranscriber>(), QStringLiteral("Soniox"));
    }
    return nullptr;
}
