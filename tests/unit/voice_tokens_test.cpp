// Voice tokens: language value names, the interface-language parsing rules, token ids as owned
// strings and their comparison.
#include <gtest/gtest.h>
#include <windows.h>

#include <climits>
#include <string>

#include "voices/task_wide_string.h"
#include "voices/voice_tokens.h"

namespace {

std::wstring ValueNameOf(LANGID language) {
    wchar_t name[LANGUAGE_VALUE_NAME_SIZE];
    for (wchar_t& c : name) c = L'?';
    LanguageValueName(language, name);
    return name;
}

TEST(LanguageValueName, UpperCaseHexWithoutLeadingZeros) {
    EXPECT_EQ(L"0", ValueNameOf(0));
    EXPECT_EQ(L"F", ValueNameOf(0x000F));
    EXPECT_EQ(L"10", ValueNameOf(0x0010));
    EXPECT_EQ(L"409", ValueNameOf(0x0409));
    EXPECT_EQ(L"C0A", ValueNameOf(0x0C0A));
    EXPECT_EQ(L"804", ValueNameOf(0x0804));
    EXPECT_EQ(L"FFFF", ValueNameOf(0xFFFF));
}

TEST(LocaleText, ParsedAsBase16LikeStrtol) {
    EXPECT_EQ(0x0409, ParseHexClamped("00000409"));
    EXPECT_EQ(0x0409, ParseHexClamped("409x")) << "digits up to the first other character";
    EXPECT_EQ(0x1F, ParseHexClamped(" \t0x1F"));
    EXPECT_EQ(0x1F, ParseHexClamped("0X1f"));
    EXPECT_EQ(10, ParseHexClamped("+a"));
    EXPECT_EQ(-16, ParseHexClamped("-10"));
    EXPECT_EQ(-0xAB, ParseHexClamped("-0xab"));
    EXPECT_EQ(0, ParseHexClamped(""));
    EXPECT_EQ(0, ParseHexClamped("locale"));
    EXPECT_EQ(0, ParseHexClamped("0x")) << "a bare prefix is the number 0";
    EXPECT_EQ(0, ParseHexClamped("0xg"));
    EXPECT_EQ(0, ParseHexClamped("- 5")) << "no blanks after the sign";
}

TEST(LocaleText, OutOfRangeNumbersAreClampedToSigned32Bits) {
    EXPECT_EQ(LONG_MAX, ParseHexClamped("7FFFFFFF"));
    EXPECT_EQ(LONG_MAX, ParseHexClamped("80000000"));
    EXPECT_EQ(LONG_MAX, ParseHexClamped("123456789ABCDEF0123"));
    EXPECT_EQ(LONG_MIN, ParseHexClamped("-80000000"));
    EXPECT_EQ(LONG_MIN, ParseHexClamped("-FFFFFFFFF"));
    EXPECT_EQ(-0x7FFFFFFF, ParseHexClamped("-7FFFFFFF"));
}

TEST(LocaleText, LanguageIsTheLow16BitsOfTheNumber) {
    EXPECT_EQ(0x0407, LanguageOfLocaleText("00000407"));
    EXPECT_EQ(0x5678, LanguageOfLocaleText("12345678"));
    EXPECT_EQ(0xFFFF, LanguageOfLocaleText("80000000")) << "clamped to 7FFFFFFF first";
    EXPECT_EQ(0x0000, LanguageOfLocaleText("-80000000")) << "clamped to 80000000 first";
    EXPECT_EQ(0xFFFF, LanguageOfLocaleText("-1"));
    EXPECT_EQ(0, LanguageOfLocaleText(""));
}

TEST(UiLanguage, Nt4SubstitutesEnglishForArabicHebrewAndThaiOnly) {
    EXPECT_EQ(0x0409, SubstituteNt4Language(0x0401));
    EXPECT_EQ(0x0409, SubstituteNt4Language(0x040D));
    EXPECT_EQ(0x0409, SubstituteNt4Language(0x041E));
    EXPECT_EQ(0x040C, SubstituteNt4Language(0x040C));
    EXPECT_EQ(0x0801, SubstituteNt4Language(0x0801)) << "Arabic of another country stays";
    EXPECT_EQ(0x0409, SubstituteNt4Language(0x0409));
    EXPECT_EQ(0, SubstituteNt4Language(0));
}

TEST(UiLanguage, SourceDependsOnPlatformAndVersion) {
    EXPECT_EQ(UiLanguageSource::SystemCall, UiLanguageSourceOf(VER_PLATFORM_WIN32_NT, 5));
    EXPECT_EQ(UiLanguageSource::SystemCall, UiLanguageSourceOf(VER_PLATFORM_WIN32_NT, 10));
    EXPECT_EQ(UiLanguageSource::Nt4LocaleRegistry, UiLanguageSourceOf(VER_PLATFORM_WIN32_NT, 4));
    EXPECT_EQ(UiLanguageSource::Nt4LocaleRegistry, UiLanguageSourceOf(VER_PLATFORM_WIN32_NT, 3));
    EXPECT_EQ(UiLanguageSource::Win9xLocaleRegistry, UiLanguageSourceOf(VER_PLATFORM_WIN32_WINDOWS, 4));
    EXPECT_EQ(UiLanguageSource::Win9xLocaleRegistry, UiLanguageSourceOf(VER_PLATFORM_WIN32s, 5));
}

TEST(CompareWide, ExactUnsignedComparisonOfCodeUnits) {
    EXPECT_EQ(0, CompareWide(L"TxtTone1", L"TxtTone1"));
    EXPECT_EQ(0, CompareWide(L"", L""));
    EXPECT_EQ(-1, CompareWide(L"Voice", L"Voices")) << "a proper prefix is smaller";
    EXPECT_EQ(1, CompareWide(L"Voices", L"Voice"));
    EXPECT_EQ(1, CompareWide(L"a", L"A")) << "case counts";
    EXPECT_EQ(-1, CompareWide(L"A", L"a"));
    EXPECT_EQ(1, CompareWide(L"\xFFFF", L"A")) << "0xFFFF is the largest unit";
    EXPECT_EQ(-1, CompareWide(L"x\x0041", L"x\xE9"));
}

TEST(TaskWideString, HoldsAnsiTextAsUtf16AndNoneForNull) {
    TaskWideString id;
    EXPECT_FALSE(id.IsSet());

    const wchar_t* held = id.AssignAnsi("HKEY_LOCAL_MACHINE\\Voices\\Tokens\\Tone1");
    ASSERT_NE(nullptr, held);
    EXPECT_EQ(held, id.Get());
    EXPECT_EQ(std::wstring(L"HKEY_LOCAL_MACHINE\\Voices\\Tokens\\Tone1"), id.Get());

    ASSERT_NE(nullptr, id.AssignAnsi(""));
    EXPECT_EQ(std::wstring(), id.Get()) << "an empty text is an empty string, not none";

    EXPECT_EQ(nullptr, id.AssignAnsi(nullptr));
    EXPECT_FALSE(id.IsSet());
}

TEST(TaskWideString, TakesAStringWrittenByAnEngineCall) {
    TaskWideString id;
    id.AssignAnsi("old");
    wchar_t** field = id.Receive();
    EXPECT_EQ(nullptr, *field) << "the old string is gone before the call writes";
    *field = static_cast<wchar_t*>(CoTaskMemAlloc(4 * sizeof(wchar_t)));
    lstrcpyW(*field, L"new");
    EXPECT_EQ(std::wstring(L"new"), id.Get());
}

}  // namespace
