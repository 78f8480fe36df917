#pragma once

#include "platform/Clipboard.h"

// A clipboard in memory. `copy()` plays another application writing to it.
class FakeClipboard final : public Clipboard
{
public:
    ClipboardContents contents;
    Visibility visibility = Visibility::normal;
    quint64 changes = 0;
    bool refusesWrites = false;
    int snapshots = 0;
    int restores = 0;

    ClipboardContents snapshot() override
    {
        ++snapshots;
        return contents;
    }
    bool restore(const ClipboardContents& previous) override
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

    void copy(const ClipboardContents& copied)
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
