#pragma once

#include <QObject>

class DictationController;
class QCheckBox;
class QComboBox;
class QFormLayout;
class QLabel;

// The microphone rows of the settings: which input to record ("System
// default" or a device, a chosen one that is unplugged kept and marked "Not
// connected") and whether to prefer the built-in microphone. Builds its rows
// into a form and keeps them in step with the device list and the settings.
class MicrophoneSection : public QObject
{
    Q_OBJECT

public:
    // `controller` must outlive the section; the widgets belong to `form`'s widget.
    MicrophoneSection(DictationController& controller, QFormLayout& form, QObject* parent = nullptr);

    QComboBox* picker() const { return m_picker; }
    QCheckBox* preferBuiltIn() const { return m_preferBuiltIn; }

    static const QString kNotConnected;

private:
    void fillPicker();
    void onPicked(int index);

    DictationController& m_controller;
    QComboBox* m_picker;
    QCheckBox* m_preferBuiltIn;
    QLabel* m_explanation;
    bool m_filling = false;
};
