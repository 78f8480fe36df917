#pragma once

#include "storage/KeyChecks.h"
#include "storage/KeyService.h"

#include <QWidget>

#include <functional>

class BusyIndicator;
class QLabel;
class QLineEdit;
class SymbolView;

// One API key: a field to paste it into and, beside it, whether the service
// accepts it. The key is committed when the user presses Return or leaves the
// field: trimmed, and if it differs from the key last saved it is saved and
// checked afresh. Main thread only.
class KeyRow : public QWidget
{
    Q_OBJECT

public:
    using Load = std::function<QString()>;
    using Save = std::function<void(const QString&)>;

    // `checks` must outlive the row. `saved` runs after a non-empty key was saved.
    KeyRow(const QString& title, KeyService service, KeyChecks& checks, Load load, Save save,
           std::function<void()> saved = {}, QWidget* parent = nullptr);

    const QString& title() const { return m_title; }
    KeyService service() const { return m_service; }
    QLineEdit* field() const { return m_field; }
    // The verdict's words as shown; empty while checking or when unknown.
    QString verdictText() const;
    bool isChecking() const;

    // Reads the stored key again, unless the user is editing the field.
    void reload();
    void commit();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void showVerdict();

    QString m_title;
    KeyService m_service;
    KeyChecks& m_checks;
    Load m_load;
    Save m_save;
    std::function<void()> m_saved;
    QString m_savedKey;

    QLineEdit* m_field;
    SymbolView* m_symbol;
    QLabel* m_verdict;
    BusyIndicator* m_busy;
};
