#pragma once

#include "control/DictationProblem.h"

class HistoryStore;
class UsageLog;

// What is wrong with the files Vell keeps (history, statistics): a save that
// fails, or an unreadable file that was set aside. Each problem is told once;
// once it is gone and comes back, it is told again. Main thread only.
class StoredFilesWatch
{
public:
    StoredFilesWatch(const HistoryStore& history, const UsageLog& usage) : m_history(history), m_usage(usage) {}

    // Everything wrong now.
    DictationProblems current() const;
    // What is wrong now and was not told yet; from here on it counts as told.
    DictationProblems untold();

private:
    const HistoryStore& m_history;
    const UsageLog& m_usage;
    DictationProblems m_told;
};
