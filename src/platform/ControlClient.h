#pragma once

#include <QObject>
#include <QString>

#include <optional>

// Reaches the Vell running in this session, for the `vell` commands: calls
// its control methods and reads or follows its state. Main thread only.
class ControlClient : public QObject
{
    Q_OBJECT

public:
    struct Reply
    {
        enum class Kind {
            done,       // the running Vell did it
            refused,    // it answered why not, in `message`
            notRunning, // no Vell answers
            failed,     // reaching it failed otherwise; `message` says how
        };
        Kind kind = Kind::done;
        QString message;
    };

    struct Status
    {
        QString state;
        bool noticeShowing = false;
        QString lastOutcome;

        bool operator==(const Status&) const = default;
    };

    using QObject::QObject;

    // Calls a control method by its name and waits for the answer.
    virtual Reply call(const QString& method) = 0;
    // The state now; none when no Vell answers.
    virtual std::optional<Status> status() = 0;

    // From here on, statusChanged() follows every change, and stopped() tells
    // when the running Vell went away (statusChanged() follows again once a
    // Vell is back). False when no change can be followed.
    virtual bool follow() = 0;

Q_SIGNALS:
    void statusChanged(const ControlClient::Status& status);
    void stopped();
};
