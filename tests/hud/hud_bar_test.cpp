// The bar record on its own: what construction leaves, the label setter, and
// which colour each animation step writes.
#include <gtest/gtest.h>

#include "src/hud/hud_bar.h"

namespace {

using rebound::HudBar;
using rebound::HudBarKind;
using rebound::Rgba;

TEST(HudBar, ConstructionMakesAProgressBarWithALiteralLabel) {
  HudBar empty("", "");
  EXPECT_EQ(empty.kind, HudBarKind::Progress);
  EXPECT_EQ(empty.label, "");
  EXPECT_EQ(empty.valueText, "");
  EXPECT_FALSE(empty.labelIsKey);
  EXPECT_FALSE(empty.valueIsKey);
  EXPECT_TRUE(empty.enabled);
  EXPECT_EQ(empty.visibility, 2);

  HudBar named("Respawn", "3/8");
  EXPECT_EQ(named.label, "Respawn");
  EXPECT_EQ(named.valueText, "3/8");
  EXPECT_EQ(named.id.size(), 8U);
  EXPECT_NE(named.id, empty.id) << "each bar gets a fresh id";
}

TEST(HudBar, SetLabelMakesTheLabelLiteralAgain) {
  HudBar bar("", "");
  bar.labelIsKey = true;
  bar.labelKeyHash = 0x1234;
  bar.SetLabel("Respawn");
  EXPECT_EQ(bar.label, "Respawn");
  EXPECT_FALSE(bar.labelIsKey);
  EXPECT_EQ(bar.labelKeyHash, -1);
}

TEST(HudBar, BlinkShowsOnColourBAndHidesOnAnyOther) {
  HudBar bar("", "");
  bar.animMode = 1;
  bar.animColourA = Rgba{1, 2, 3, 4};
  bar.animColourB = Rgba{1, 2, 3, 5};
  bar.ApplyAnimationStep(bar.animColourA);
  EXPECT_EQ(bar.visibility, 1) << "differs from B only in alpha";
  bar.ApplyAnimationStep(bar.animColourB);
  EXPECT_EQ(bar.visibility, 2);

  bar.animColourA = bar.animColourB;  // a blink between equal colours never hides
  bar.ApplyAnimationStep(bar.animColourA);
  EXPECT_EQ(bar.visibility, 2);
}

TEST(HudBar, ColourFlashWritesTheColourItsKindAnimates) {
  const Rgba flash{9, 8, 7, 6};
  struct Case {
    HudBarKind kind;
    Rgba HudBar::*written;
  };
  for (const Case& c : {Case{HudBarKind::Text, &HudBar::valueColour},
                        Case{HudBarKind::LargeLabel, &HudBar::valueColour},
                        Case{static_cast<HudBarKind>(50), &HudBar::valueColour},
                        Case{HudBarKind::Progress, &HudBar::barFillColour},
                        Case{HudBarKind::Entries, &HudBar::entryDimColour},
                        Case{HudBarKind::BigText, &HudBar::labelColour}}) {
    HudBar bar("", "");
    bar.kind = c.kind;
    bar.animMode = 2;
    const HudBar before = bar;
    bar.ApplyAnimationStep(flash);
    EXPECT_EQ(bar.*c.written, flash) << static_cast<int>(c.kind);
    // Nothing else changes.
    bar.*c.written = before.*c.written;
    for (Rgba HudBar::*colour : {&HudBar::valueColour, &HudBar::barFillColour,
                                 &HudBar::entryDimColour, &HudBar::labelColour}) {
      EXPECT_EQ(bar.*colour, before.*colour) << static_cast<int>(c.kind);
    }
    EXPECT_EQ(bar.visibility, 2);
  }
}

TEST(HudBar, StepWithoutAnimationChangesNothing) {
  for (const std::int32_t mode : {0, 3, -1}) {
    HudBar bar("", "");
    bar.animMode = mode;
    bar.ApplyAnimationStep(Rgba{1, 1, 1, 1});
    EXPECT_EQ(bar.visibility, 2);
    EXPECT_EQ(bar.barFillColour, (Rgba{240, 240, 240, 140}));
    EXPECT_EQ(bar.valueColour, (Rgba{240, 240, 240, 255}));
  }
}

}  // namespace
