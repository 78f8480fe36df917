#include "shortcut/CompositorBindings.h"

#include "shortcut/StoredKeyCodes.h"

#include <gtest/gtest.h>

namespace {

using CompositorBindings::Compositor;

const QString kVell = QStringLiteral("vell");

TEST(CompositorBindingsTest, AModifierHeldAlonePressesAndReleasesWithItsSide)
{
    EXPECT_EQ(CompositorBindings::lines(Compositor::sway, Shortcut::defaultShortcut(), kVell),
              (QStringList{u"bindsym --no-repeat Alt_R exec vell press"_qs,
                           u"bindsym --release Alt_R exec vell release"_qs}));
    EXPECT_EQ(
        CompositorBindings::lines(Compositor::hyprland, Shortcut{{}, {}, ModifierKeys::rightControl}, kVell),
        (QStringList{u"bind = , Control_R, exec, vell press"_qs, u"bindr = CTRL, Control_R, exec, vell release"_qs}));
    // Two modifiers alone: the later one is the key, the other is held.
    EXPECT_EQ(CompositorBindings::lines(Compositor::sway,
                                        Shortcut{{}, {}, ModifierKeys::leftControl | ModifierKeys::leftSuper}, kVell),
              (QStringList{u"bindsym --no-repeat Ctrl+Super_L exec vell press"_qs,
                           u"bindsym --release Ctrl+Super_L exec vell release"_qs}));
    EXPECT_EQ(CompositorBindings::lines(Compositor::sway, Shortcut{{}, {}, ModifierKeys::fn}, kVell), std::nullopt);
}

TEST(CompositorBindingsTest, AKeyWithModifiersUsesTheCompositorsNamesAndTheGivenCommand)
{
    const Shortcut chord{StoredKeyCodes::space, u"Space"_qs, ModifierKeys::leftControl | ModifierKeys::rightShift};
    EXPECT_EQ(CompositorBindings::lines(Compositor::sway, chord, u"/opt/vell/bin/vell"_qs),
              (QStringList{u"bindsym --no-repeat Ctrl+Shift+space exec /opt/vell/bin/vell press"_qs,
                           u"bindsym --release Ctrl+Shift+space exec /opt/vell/bin/vell release"_qs}));
    EXPECT_EQ(CompositorBindings::lines(Compositor::hyprland, chord, kVell),
              (QStringList{u"bind = CTRL SHIFT, space, exec, vell press"_qs,
                           u"bindr = CTRL SHIFT, space, exec, vell release"_qs}));

    const Shortcut letter{2, u"D"_qs, ModifierKeys::leftSuper};
    EXPECT_EQ(CompositorBindings::lines(Compositor::sway, letter, kVell)->first(),
              u"bindsym --no-repeat Mod4+d exec vell press"_qs);
    const Shortcut f5{StoredKeyCodes::functionKeys[4], u"F5"_qs, ModifierKeys()};
    EXPECT_EQ(CompositorBindings::lines(Compositor::hyprland, f5, kVell)->first(), u"bind = , F5, exec, vell press"_qs);
    const Shortcut pageUp{116, u"Page Up"_qs, ModifierKeys::leftAlt};
    EXPECT_EQ(CompositorBindings::lines(Compositor::sway, pageUp, kVell)->last(),
              u"bindsym --release Alt+Prior exec vell release"_qs);
    // A key recorded with a name no compositor knows gets no lines rather than wrong ones.
    EXPECT_EQ(CompositorBindings::lines(Compositor::sway, Shortcut{0x1234, u"é"_qs, ModifierKeys::leftAlt}, kVell),
              std::nullopt);
}

} // namespace
