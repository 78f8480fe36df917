#include "control/StoredFilesWatch.h"

#include "storage/HistoryStore.h"
#include "storage/UsageLog.h"

DictationProblems StoredFilesWatch::current() const
{
    using File = StoredFileProblem::File;
    DictationProblems problems;
    if (m_history.setAsideAs())
        problems << StoredFileProblem{File::history, m_history.setAsideAs()};
    if (m_history.hasUnsavedChanges())
        problems << StoredFileProblem{File::history, std::nullopt};
    if (m_usage.setAsideAs())
        problems << StoredFileProblem{File::usage, m_usage.setAsideAs()};
    if (m_usage.hasUnsavedChanges())
        problems << StoredFileProblem{File::usage, std::nullopt};
    return problems;
}

DictationProblems StoredFilesWatch::untold()
{
    const DictationProblems now = current();
    m_told.removeIf([&](const DictationProblem& told) { return !now.contains(told); });
    DictationProblems fresh;
    for (const DictationProblem& problem : now)
        if (!m_told.contains(problem))
            fresh << problem;
    m_told << fresh;
    return fresh;
}
