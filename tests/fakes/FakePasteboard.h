#pragma once

#include "platform/Pasteboard.h"

// A clipboard in memory. `copy()` plays another application writing to it.
class FakePasteboard final : public Pasteboard
{
public:
    PasteboardContents contents;
    Visibility visibility = Visibility::normal;
    quint64 changes = 0;
    bool refusesWrites = false;
    int snapshots = 0;
    int restores = 0;

    PasteboardContents snapshot() override
    {
        ++snapshots;
        return contents;
    }
    bool restore(const PasteboardContents& previous) override
    {
        ++restores;
        if (refusesWrites)
            return false;
        contents = previous;
        visibility = Visibility::normal;
        ++changes;
        return true;
    }
    bool setText(const QString& text, Visibility how) override
    {
        if (refusesWrites)
            return false;
        contents = {{QStringLiteral("text/plain"), text.toUtf8()}};
        visibility = how;
        ++changes;
        return true;
    }
    quint64 changeCount() const override { return changes; }

    void copy(const PasteboardContents& copied)
    {
        contents = copied;
        visibility = Visibility::normal;
        ++changes;
    }
    QString text() const
    {
        for (const auto& [type, data] : contents)
            if (type == QStringLiteral("text/plain"))
                return QString::fromUtf8(data);
        return {};
    }
};
