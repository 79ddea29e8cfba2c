#include "base/error_report.h"

#include <gtest/gtest.h>

namespace {

std::string Message(HRESULT hr, int site) {
    char buffer[128];
    FormatHResultMessage(buffer, hr, site);
    return buffer;
}

TEST(ErrorMessage, SplitsTheResultIntoFacilityAndCode) {
    EXPECT_EQ("Error result 80004005, facility 0, code 16389, line 400", Message(0x80004005, 400));
    EXPECT_EQ("Error result 8004503A, facility 4, code 20538, line 592", Message(0x8004503A, 592));
    EXPECT_EQ("Error result 8007000E, facility 7, code 14, line 648", Message(0x8007000E, 648));
}

TEST(ErrorMessage, BitsAboveTheFacilityNeverReachIt) {
    EXPECT_EQ("Error result FFFF0001, facility 8191, code 1, line 679", Message(static_cast<HRESULT>(0xFFFF0001), 679));
}

TEST(ErrorMessage, KeepsLeadingZeros) {
    EXPECT_EQ("Error result 00000001, facility 0, code 1, line 605", Message(1, 605));
}

}  // namespace
