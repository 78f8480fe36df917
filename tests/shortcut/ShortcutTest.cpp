#include "shortcut/Shortcut.h"

#include "shortcut/StoredKeyCodes.h"

#include <gtest/gtest.h>

namespace {

const ModifierKeys kBothSuper(0xC0);
const ModifierKeys kBothControl(0x3);

Shortcut keyShortcut(quint16 code, const char* label, ModifierKeys modifiers)
{
    return Shortcut{code, QString::fromUtf8(label), modifiers};
}

Shortcut modifierShortcut(ModifierKeys modifiers)
{
    return Shortcut{std::nullopt, std::nullopt, modifiers};
}

struct LabelCase
{
    Shortcut shortcut;
    const char* mac;
    const char* pc;
};

class ShortcutLabel : public ::testing::TestWithParam<LabelCase>
{};

TEST_P(ShortcutLabel, ReadsAsTheDesktopWritesIt)
{
    const LabelCase& c = GetParam();
    EXPECT_EQ(c.shortcut.label(PlatformVocabulary::forMacOS()), QString::fromUtf8(c.mac));
    EXPECT_EQ(c.shortcut.label(PlatformVocabulary::forLinux()), QString::fromUtf8(c.pc));
}

INSTANTIATE_TEST_SUITE_P(
    Shortcuts, ShortcutLabel,
    ::testing::Values(
        LabelCase{Shortcut::defaultShortcut(), "Right ⌥", "Right Alt"},
        LabelCase{keyShortcut(40, "K", ModifierKeys::leftControl | ModifierKeys::rightSuper), "⌃⌘K", "Ctrl+Super+K"},
        LabelCase{keyShortcut(49, "Space", kBothSuper), "⌘Space", "Super+Space"},
        LabelCase{keyShortcut(96, "F5", ModifierKeys()), "F5", "F5"},
        LabelCase{modifierShortcut(ModifierKeys::fn | ModifierKeys::leftControl), "🌐 Fn + Left ⌃", "Fn + Left Ctrl"},
        LabelCase{modifierShortcut(ModifierKeys(0x30)), "⇧", "Shift"},
        LabelCase{modifierShortcut(kBothControl | ModifierKeys::leftAlt), "⌃ + Left ⌥", "Ctrl + Left Alt"},
        LabelCase{modifierShortcut(ModifierKeys::leftSuper | ModifierKeys::rightAlt), "Right ⌥ + Left ⌘",
                  "Right Alt + Left Super"},
        // The label alone decides which form is used.
        LabelCase{Shortcut{49, std::nullopt, ModifierKeys::rightShift}, "Right ⇧", "Right Shift"}));

TEST(ShortcutKeyName, TableFirstThenCharactersThenTheCode)
{
    const auto& mac = PlatformVocabulary::forMacOS();
    EXPECT_EQ(Shortcut::keyName(StoredKeyCodes::space, QStringLiteral("x"), mac), QStringLiteral("Space"));
    EXPECT_EQ(Shortcut::keyName(StoredKeyCodes::escape, QString(), mac), QString::fromUtf8("⎋"));
    EXPECT_EQ(Shortcut::keyName(90, QString(), mac), QStringLiteral("F20"));
    EXPECT_EQ(Shortcut::keyName(0, QStringLiteral("a"), mac), QStringLiteral("A"));
    EXPECT_EQ(Shortcut::keyName(40, QStringLiteral(" k\n"), mac), QStringLiteral("K"));
    EXPECT_EQ(Shortcut::keyName(10, QStringLiteral(" \r\n\t"), mac), QStringLiteral("Key 10"));
    EXPECT_EQ(Shortcut::keyName(10, QString(), mac), QStringLiteral("Key 10"));

    const auto& pc = PlatformVocabulary::forLinux();
    EXPECT_EQ(Shortcut::keyName(StoredKeyCodes::escape, QString(), pc), QStringLiteral("Esc"));
    EXPECT_EQ(Shortcut::keyName(36, QStringLiteral("\r"), pc), QStringLiteral("Enter"));
}

TEST(ShortcutMatches, KeyShortcutsWantTheSameKindsOnEitherSide)
{
    const std::optional<quint16> space = StoredKeyCodes::space;
    EXPECT_TRUE(Shortcut::matches(ModifierKeys::rightSuper, space, kBothSuper));
    EXPECT_TRUE(Shortcut::matches(ModifierKeys::leftSuper, space, kBothSuper));
    EXPECT_FALSE(Shortcut::matches(ModifierKeys::leftSuper | ModifierKeys::leftShift, space, kBothSuper));
    EXPECT_FALSE(Shortcut::matches(ModifierKeys(), space, kBothSuper));
    EXPECT_TRUE(Shortcut::matches(ModifierKeys::leftSuper | ModifierKeys::fn, space, kBothSuper));

    const ModifierKeys wantFn = kBothSuper | ModifierKeys::fn;
    EXPECT_FALSE(Shortcut::matches(ModifierKeys::rightSuper, space, wantFn));
    EXPECT_TRUE(Shortcut::matches(ModifierKeys::rightSuper | ModifierKeys::fn, space, wantFn));

    EXPECT_TRUE(Shortcut::matches(ModifierKeys(), quint16(96), ModifierKeys()));
}

TEST(ShortcutMatches, ModifierOnlyShortcutsWantExactlyTheSameKeys)
{
    EXPECT_TRUE(Shortcut::matches(ModifierKeys::rightAlt, std::nullopt, ModifierKeys::rightAlt));
    EXPECT_FALSE(Shortcut::matches(ModifierKeys::leftAlt, std::nullopt, ModifierKeys::rightAlt));
    EXPECT_FALSE(Shortcut::matches(ModifierKeys(0xC), std::nullopt, ModifierKeys::rightAlt));
    EXPECT_FALSE(Shortcut::matches(ModifierKeys::rightAlt | ModifierKeys::fn, std::nullopt, ModifierKeys::rightAlt));
}

TEST(ShortcutKinds, FillBothSidesAndDropFn)
{
    EXPECT_EQ(Shortcut::kindsOf(ModifierKeys::rightSuper | ModifierKeys::leftShift | ModifierKeys::fn),
              ModifierKeys(0xF0));
    EXPECT_EQ(Shortcut::kindsOf(ModifierKeys::fn), ModifierKeys());
    EXPECT_EQ(Shortcut::kindsOf(ModifierKeys(0xFF)), ModifierKeys(0xFF));
}

TEST(ShortcutJson, DecodesTheStoredForms)
{
    EXPECT_EQ(Shortcut::fromJson(R"({"modifiers":8})"), Shortcut::defaultShortcut());
    EXPECT_EQ(Shortcut::fromJson(R"({"keyCode":49,"keyLabel":"Space","modifiers":192})"),
              keyShortcut(49, "Space", kBothSuper));
    EXPECT_EQ(Shortcut::fromJson(R"({"keyCode":49})"), std::nullopt);
    EXPECT_EQ(Shortcut::fromJson(R"({"keyCode":70000,"modifiers":8})"), std::nullopt);
    EXPECT_EQ(Shortcut::fromJson(R"({"keyCode":1.5,"modifiers":8})"), std::nullopt);
    EXPECT_EQ(Shortcut::fromJson(R"({"modifiers":"8"})"), std::nullopt);
    EXPECT_EQ(Shortcut::fromJson(R"({"keyLabel":7,"modifiers":8})"), std::nullopt);
    EXPECT_EQ(Shortcut::fromJson("not json"), std::nullopt);
    EXPECT_EQ(Shortcut::fromJson("[8]"), std::nullopt);
    // Nothing to press, or bits no key stands for: the caller falls back to the default.
    EXPECT_EQ(Shortcut::fromJson(R"({"modifiers":0})"), std::nullopt);
    EXPECT_EQ(Shortcut::fromJson(R"({"modifiers":4104})"), std::nullopt);
    EXPECT_EQ(Shortcut::fromJson(R"({"keyCode":96,"keyLabel":"F5","modifiers":0})"),
              (Shortcut{96, QStringLiteral("F5"), ModifierKeys()}));
}

TEST(ShortcutJson, WritesOnlyWhatIsSetAndRoundTrips)
{
    EXPECT_EQ(Shortcut::defaultShortcut().toJson(), QByteArray(R"({"modifiers":8})"));
    const Shortcut k = keyShortcut(40, "K", ModifierKeys(0xF0));
    EXPECT_EQ(k.toJson(), QByteArray(R"({"keyCode":40,"keyLabel":"K","modifiers":240})"));
    EXPECT_EQ(Shortcut::fromJson(k.toJson()), k);
    const Shortcut fn = modifierShortcut(ModifierKeys::fn);
    EXPECT_EQ(Shortcut::fromJson(fn.toJson()), fn);
}

} // namespace
