#include <gtest/gtest.h>

#include "playback/playback.h"

namespace {

TEST(MarkupPath, ExtensionXmlInAnyCaseIsMarkup) {
    EXPECT_TRUE(IsMarkupPath("C:\\t\\a.XML"));
    EXPECT_TRUE(IsMarkupPath("C:\\t\\a.xml"));
    EXPECT_TRUE(IsMarkupPath("C:\\t\\a.Xml"));
    EXPECT_TRUE(IsMarkupPath("XML"));  // no dot: the whole path counts
}

TEST(MarkupPath, EverythingElseIsPlainText) {
    EXPECT_FALSE(IsMarkupPath("C:\\t\\a.txt"));
    EXPECT_FALSE(IsMarkupPath("C:\\t\\a.xml.txt"));
    EXPECT_FALSE(IsMarkupPath("C:\\t\\readme"));
    EXPECT_FALSE(IsMarkupPath("C:\\a.b\\readme"));  // the extension is "b\readme"
    EXPECT_FALSE(IsMarkupPath("C:\\t\\a.xmlx"));
    EXPECT_FALSE(IsMarkupPath(""));
}

TEST(StreamInfo, BitRateIsTruncatedToWholeKilobits) {
    EXPECT_EQ(1411, BitRateKbps(44100, 16, 2));
    EXPECT_EQ(64, BitRateKbps(8000, 8, 1));
    EXPECT_EQ(176, BitRateKbps(11025, 16, 1));
}

}  // namespace
