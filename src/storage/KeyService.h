#pragma once

#include "storage/EnumTable.h"

// A service whose key can be checked; stored by its raw value.
enum class KeyService { assemblyAI, soniox, anthropic };

struct KeyServices : EnumTable<KeyServices, KeyService>
{
    static constexpr Entry kEntries[] = {
        {KeyService::assemblyAI, u"assemblyAI", u"AssemblyAI"},
        {KeyService::soniox, u"soniox", u"Soniox"},
        {KeyService::anthropic, u"anthropic", u"Anthropic"},
    };

    // The service's name in check verdicts.
    static QString displayName(KeyService service) { return title(service); }
};
