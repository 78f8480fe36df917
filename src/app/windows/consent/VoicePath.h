#pragma once

#include "app/widgets/Symbols.h"

#include <QList>
#include <QWidget>

struct PlatformVocabulary;

// The road each dictation takes, from the microphone to the pasted text, as
// a list of four stops with a line between them.
class VoicePath : public QWidget
{
    Q_OBJECT

public:
    struct Stop
    {
        Symbols::Symbol symbol;
        QString title;
        QString line;
    };

    static QList<Stop> stops(const PlatformVocabulary& words);

    explicit VoicePath(const PlatformVocabulary& words, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QList<QWidget*> m_symbols;
};
