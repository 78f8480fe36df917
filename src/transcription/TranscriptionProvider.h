#pragma once

#include "storage/EnumTable.h"

// The speech service a dictation streams to; stored by its raw value.
enum class TranscriptionProvider { assemblyAI, soniox, mock };

// Every provider, in the order pickers list them; the titles are also the
// service's name in the missing-key notice.
struct TranscriptionProviders : EnumTable<TranscriptionProviders, TranscriptionProvider>
{
    static constexpr Entry kEntries[] = {
        {TranscriptionProvider::assemblyAI, u"assemblyAI", u"AssemblyAI (most accurate)"},
        {TranscriptionProvider::soniox, u"soniox", u"Soniox (fastest, cheapest)"},
        {TranscriptionProvider::mock, u"mock", u"Demo (no network)"},
    };
};
