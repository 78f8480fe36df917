#include "app/windows/settings/MicrophoneSection.h"

#include "app/widgets/WindowStyle.h"
#include "control/DictationController.h"
#include "storage/AppSettings.h"
#include "storage/DesktopSettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLabel>

const QString MicrophoneSection::kNotConnected = QStringLiteral("Not connected");

MicrophoneSection::MicrophoneSection(DictationController& controller, QFormLayout& form, QObject* parent)
    : QObject(parent), m_controller(controller), m_picker(new QComboBox(form.parentWidget())),
      m_preferBuiltIn(
          new QCheckBox(QStringLiteral("Use the built-in mic even with headphones connected"), form.parentWidget())),
      m_explanation(WindowStyle::secondary(
          QStringLiteral("Bluetooth headphones drop to call quality while their mic is in use. The built-in mic often "
                         "sounds clearer, and what you're listening to keeps playing in the headphones. If the chosen "
                         "mic isn't connected, Vell uses the default and says so."),
          form.parentWidget()))
{
    m_picker->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    form.addRow(QStringLiteral("Microphone"), m_picker);
    form.addRow(QString(), WindowStyle::noted(m_preferBuiltIn, m_explanation, form.parentWidget()));

    AppSettings& settings = m_controller.settings();
    m_preferBuiltIn->setChecked(settings.preferBuiltInMic());
    connect(m_preferBuiltIn, &QCheckBox::toggled, this,
            [this](bool on) { m_controller.settings().setPreferBuiltInMic(on); });
    connect(&settings, &AppSettings::preferBuiltInMicChanged, m_preferBuiltIn, &QCheckBox::setChecked);

    connect(m_picker, &QComboBox::currentIndexChanged, this, &MicrophoneSection::onPicked);
    connect(&m_controller.inputs(), &AudioInputList::inputsChanged, this, &MicrophoneSection::fillPicker);
    connect(&m_controller.desktopSettings(), &DesktopSettings::inputDeviceUIDChanged, this,
            &MicrophoneSection::fillPicker);
    fillPicker();
}

void MicrophoneSection::fillPicker()
{
    m_filling = true;
    m_picker->clear();
    m_picker->addItem(QStringLiteral("System default"));
    const std::optional<QString> chosen = m_controller.desktopSettings().inputDeviceUID();
    bool chosenConnected = false;
    for (const AudioInputDevice& device : m_controller.inputs().inputs()) {
        m_picker->addItem(device.name, device.uid);
        chosenConnected = chosenConnected || (chosen && *chosen == device.uid);
    }
    if (chosen && !chosenConnected) {
        // The device's name left with it; its id says which one it was.
        m_picker->addItem(kNotConnected, *chosen);
        m_picker->setItemData(m_picker->count() - 1, *chosen, Qt::ToolTipRole);
    }
    m_picker->setCurrentIndex(chosen ? m_picker->findData(*chosen) : 0);
    m_filling = false;
}

void MicrophoneSection::onPicked(int index)
{
    if (m_filling || index < 0)
        return;
    const QVariant uid = m_picker->itemData(index);
    m_controller.desktopSettings().setInputDeviceUID(uid.isValid() ? std::optional<QString>(uid.toString())
                                                                   : std::nullopt);
}
