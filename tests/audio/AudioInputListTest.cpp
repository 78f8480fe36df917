#include "audio/AudioInputList.h"

#include "fakes/FakeAudioBackend.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

namespace {

using Device = FakeAudioBackend::Device;

const Device kBuiltIn{4, QStringLiteral("alsa_input.pci"), QStringLiteral("Built-in Audio"), true};
const Device kHeadset{9, QStringLiteral("bluez_input.headset"), QStringLiteral("Headset"), false};
const Device kMonitor{2, QStringLiteral("alsa_output.pci.monitor"), QStringLiteral("Monitor of Built-in Audio"), false,
                      false};
const Device kVirtual{7, QStringLiteral("noise_filtered"), QStringLiteral("Noise Filtered Mic"), false};
const Device kNameless{5, QStringLiteral("unnamed"), QString(), false};

AudioInputDevice asInput(const Device& device)
{
    return {device.id, device.uid, device.name, device.isBuiltIn};
}

class AudioInputListTest : public ::testing::Test
{
protected:
    AudioInputListTest()
    {
        backend.setDevices({kMonitor, kBuiltIn, kNameless, kVirtual, kHeadset});
        backend.setDefaultId(kHeadset.id);
    }

    FakeAudioBackend backend;
};

TEST_F(AudioInputListTest, ListsEveryInputInPlatformOrderAndNothingElse)
{
    AudioInputList list(backend);
    const QList<AudioInputDevice> expected{asInput(kBuiltIn), asInput(kVirtual), asInput(kHeadset)};
    EXPECT_EQ(list.inputs(), expected);
    EXPECT_EQ(AudioInputList::allInputs(backend), expected);
    EXPECT_EQ(list.defaultInput(), asInput(kHeadset));
    EXPECT_FALSE(AudioInputList::deviceInfo(backend, kMonitor.id));
    EXPECT_FALSE(AudioInputList::deviceInfo(backend, kNameless.id));
}

TEST_F(AudioInputListTest, LooksUpByExactUidAndFindsTheFirstBuiltIn)
{
    EXPECT_EQ(AudioInputList::device(backend, kVirtual.uid), asInput(kVirtual));
    EXPECT_FALSE(AudioInputList::device(backend, QStringLiteral("Noise_Filtered")));
    EXPECT_FALSE(AudioInputList::device(backend, kMonitor.uid));
    EXPECT_EQ(AudioInputList::firstBuiltIn(backend), asInput(kBuiltIn));

    backend.setDevices({kVirtual, kHeadset});
    EXPECT_FALSE(AudioInputList::firstBuiltIn(backend));
}

TEST_F(AudioInputListTest, TheDefaultIsKnownOnlyWhenItIsAnInput)
{
    AudioInputList list(backend);
    backend.setDefaultId(kMonitor.id);
    EXPECT_FALSE(list.defaultInput());
    backend.setDefaultId(std::nullopt);
    EXPECT_FALSE(AudioInputList::defaultInputInfo(backend));
}

TEST_F(AudioInputListTest, UnpluggingTheDefaultNotifiesOnceForEachFieldThatChanged)
{
    AudioInputList list(backend);
    QSignalSpy inputsChanged(&list, &AudioInputList::inputsChanged);
    QSignalSpy defaultChanged(&list, &AudioInputList::defaultInputChanged);

    backend.setDevices({kMonitor, kBuiltIn, kVirtual}, kBuiltIn.id);
    EXPECT_EQ(inputsChanged.count(), 1);
    EXPECT_EQ(defaultChanged.count(), 1);
    EXPECT_EQ(list.inputs(), (QList<AudioInputDevice>{asInput(kBuiltIn), asInput(kVirtual)}));
    EXPECT_EQ(list.defaultInput(), asInput(kBuiltIn));

    // The same picture again changes nothing; a renamed device is a change.
    backend.setDevices({kMonitor, kBuiltIn, kVirtual});
    EXPECT_EQ(inputsChanged.count(), 1);
    Device renamed = kVirtual;
    renamed.name = QStringLiteral("Studio Mic");
    backend.setDevices({kMonitor, kBuiltIn, renamed});
    EXPECT_EQ(inputsChanged.count(), 2);
    EXPECT_EQ(defaultChanged.count(), 1);
}

} // namespace
