// Where the Text info window's two controls go for a client size: pure arithmetic.
#include "infowindow/text_info_window.h"
#include "tests/box.h"

#include <gtest/gtest.h>

TEST(InfoWindowLayout, ButtonInTheCornerTextAboveThreePixelMarginsAndNoMinimum) {
    InfoWindowLayout layout = LayoutInfoWindow(300, 200, SIZE{75, 23});
    EXPECT_EQ((Box{222, 174, 75, 23}), BoxOf(layout.closeButton));
    EXPECT_EQ((Box{3, 3, 294, 168}), BoxOf(layout.text));

    // The template's own numbers, in dialog units, follow the same rule.
    layout = LayoutInfoWindow(204, 162, SIZE{50, 14});
    EXPECT_EQ((Box{151, 145, 50, 14}), BoxOf(layout.closeButton));
    EXPECT_EQ((Box{3, 3, 198, 139}), BoxOf(layout.text));

    // Minimised (0 x 0): negative places and sizes, nothing enforced.
    layout = LayoutInfoWindow(0, 0, SIZE{75, 23});
    EXPECT_EQ((Box{-78, -26, 75, 23}), BoxOf(layout.closeButton));
    EXPECT_EQ((Box{3, 3, -6, -32}), BoxOf(layout.text));
}
