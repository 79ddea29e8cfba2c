// Voice tokens: language value names, the interface-language parsing rules, token ids as owned
// strings and their comparison.
#include <gtest/gtest.h>
#include <windows.h>

#include <climits>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "base/scoped.h"
#include "voices/task_wide_string.h"
#include "voices/ui_language.h"
#include "voices/voice_list.h"
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
    EXPECT_FALSE(id.IsValid());

    const wchar_t* held = AssignAnsi(id, "HKEY_LOCAL_MACHINE\\Voices\\Tokens\\Tone1");
    ASSERT_NE(nullptr, held);
    EXPECT_EQ(held, id.Get());
    EXPECT_EQ(std::wstring(L"HKEY_LOCAL_MACHINE\\Voices\\Tokens\\Tone1"), id.Get());

    ASSERT_NE(nullptr, AssignAnsi(id, ""));
    EXPECT_EQ(std::wstring(), id.Get()) << "an empty text is an empty string, not none";

    EXPECT_EQ(nullptr, AssignAnsi(id, nullptr));
    EXPECT_FALSE(id.IsValid());
}

}  // namespace

// ---- Tokens of the speech engine stand-in ----

namespace {

using engine::ObjectKind;
using engine::Op;
using engine::VoiceInfo;

const std::wstring TOKENS = L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Speech\\Voices\\Tokens\\";

// The value name under which a token describes itself in this user's interface language.
std::wstring UserLanguageName() {
    wchar_t name[LANGUAGE_VALUE_NAME_SIZE];
    LanguageValueName(UserUiLanguage(), name);
    return name;
}

VoiceInfo InstalledVoice(const std::wstring& name, std::vector<std::pair<std::wstring, std::wstring>> values) {
    return {TOKENS + name, std::move(values)};
}

int CountOf(const std::vector<std::wstring>& log, const std::wstring& call) {
    int count = 0;
    for (const std::wstring& entry : log) count += entry.rfind(call, 0) == 0;
    return count;
}

class EngineTokens : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        ASSERT_EQ(S_OK, engine::RegisterClasses());
        engine::Reset();
        list_ = CreateWindowA("ListBox", "", LBS_NOTIFY, 0, 0, 200, 200, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(nullptr, list_);
    }
    void TearDown() override {
        if (list_) DestroyWindow(list_);
        engine::RevokeClasses();
        CoUninitialize();
    }

    HRESULT Fill() {
        return FillTokenList(list_);
    }
    void ReleaseRows() { ReleaseTokenList(list_); }
    int Rows() { return static_cast<int>(SendMessageA(list_, LB_GETCOUNT, 0, 0)); }
    int Selected() { return static_cast<int>(SendMessageA(list_, LB_GETCURSEL, 0, 0)); }
    std::string RowText(int row) {
        char text[256] = {};
        SendMessageA(list_, LB_GETTEXT, row, reinterpret_cast<LPARAM>(text));
        return text;
    }
    std::wstring RowTokenId(int row) {
        auto token = reinterpret_cast<ISpObjectToken*>(SendMessageA(list_, LB_GETITEMDATA, row, 0));
        return IdOf(token);
    }
    static std::wstring IdOf(ISpObjectToken* token) {
        if (!token) return L"<no token>";
        ScopedTaskMem<wchar_t> id;
        if (FAILED(token->GetId(id.Receive()))) return L"<no id>";
        return id.Get();
    }
    // The first token the voices category enumerates, with the caller's reference.
    ISpObjectToken* FirstToken() {
        ScopedComPtr<IEnumSpObjectTokens> tokens;
        if (EnumCategoryTokens(VOICE_CATEGORY_ID, nullptr, nullptr, tokens.Receive()) != S_OK) return nullptr;
        ISpObjectToken* token = nullptr;
        tokens->Next(1, &token, nullptr);
        return token;
    }
    std::wstring Describe(ISpObjectToken* token, LANGID language, HRESULT* result) {
        ScopedTaskMem<wchar_t> description;
        *result = GetTokenDescription(token, language, description.Receive());
        return description.Get() ? description.Get() : L"<none>";
    }

    HWND list_ = nullptr;
};

TEST_F(EngineTokens, FailuresToOpenOrEnumerateAreHandedBackWithNothingHeld) {
    ScopedComPtr<IEnumSpObjectTokens> tokens;

    engine::SetCategoryMissing(true);
    EXPECT_EQ(SPERR_NOT_FOUND, EnumCategoryTokens(VOICE_CATEGORY_ID, nullptr, nullptr, tokens.Receive()));
    EXPECT_FALSE(tokens);
    engine::SetCategoryMissing(false);

    engine::InjectFailure(Op::CreateCategory, engine::EveryCall, E_OUTOFMEMORY);
    EXPECT_EQ(E_OUTOFMEMORY, EnumCategoryTokens(VOICE_CATEGORY_ID, nullptr, nullptr, tokens.Receive()));
    EXPECT_FALSE(tokens);
    engine::ClearFailures();

    engine::InjectFailure(Op::EnumTokens, engine::EveryCall, E_FAIL);
    EXPECT_EQ(E_FAIL, EnumCategoryTokens(VOICE_CATEGORY_ID, nullptr, nullptr, tokens.Receive()));
    engine::ClearFailures();

    ScopedComPtr<ISpObjectTokenCategory> category;
    // Any category but the voices is Wine's own, which refuses this one with an error of its choosing.
    EXPECT_TRUE(FAILED(OpenTokenCategory(L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Nothing", category.Receive())));
    EXPECT_FALSE(category);
    EXPECT_EQ(0, engine::Counts(ObjectKind::Category).live) << "a category whose SetId failed is released";
}

TEST_F(EngineTokens, DescriptionInTheLanguageElseTheDefaultValue) {
    engine::SetInstalledVoices({InstalledVoice(L"A", {{L"409", L"Alpha (English)"}, {L"C0A", L"Alfa"}, {L"", L"Alpha"}})});
    ScopedComPtr<ISpObjectToken> token(FirstToken());
    ASSERT_TRUE(token);
    HRESULT result;
    EXPECT_EQ(L"Alpha (English)", Describe(token.Get(), 0x0409, &result));
    EXPECT_EQ(S_OK, result);
    EXPECT_EQ(L"Alfa", Describe(token.Get(), 0x0C0A, &result));
    EXPECT_EQ(L"Alpha", Describe(token.Get(), 0x0407, &result));
    EXPECT_EQ(S_OK, result);
}

TEST_F(EngineTokens, OnlyAMissingValueFallsBackToTheDefault) {
    engine::SetInstalledVoices({InstalledVoice(L"A", {{L"409", L"Alpha (English)"}, {L"", L"Alpha"}})});
    ScopedComPtr<ISpObjectToken> token(FirstToken());
    ASSERT_TRUE(token);
    HRESULT result;

    engine::InjectFailure(Op::TokenGetStringValue, 1, SPERR_NOT_FOUND);
    EXPECT_EQ(L"Alpha", Describe(token.Get(), 0x0409, &result));
    EXPECT_EQ(S_OK, result);

    engine::Reset();
    engine::InjectFailure(Op::TokenGetStringValue, 1, E_ACCESSDENIED);
    EXPECT_EQ(L"<none>", Describe(token.Get(), 0x0409, &result));
    EXPECT_EQ(E_ACCESSDENIED, result);
    EXPECT_EQ(1, CountOf(engine::CallLog(), L"Token.GetStringValue")) << "no second lookup";

    engine::Reset();
    engine::SetInstalledVoices({InstalledVoice(L"Mute", {{L"C0A", L"Muda"}})});
    ScopedComPtr<ISpObjectToken> mute(FirstToken());
    ASSERT_TRUE(mute);
    EXPECT_EQ(L"<none>", Describe(mute.Get(), 0x0409, &result));
    EXPECT_EQ(SPERR_NOT_FOUND, result) << "neither the language nor a default value";
}

TEST_F(EngineTokens, ListGetsOneRowPerVoiceInTheUsersLanguageFirstSelected) {
    const std::wstring language = UserLanguageName();
    engine::SetInstalledVoices({InstalledVoice(L"A", {{language, L"Alpha here"}, {L"", L"Alpha"}}),
                                InstalledVoice(L"B", {{L"", L"Beta"}}),
                                InstalledVoice(L"C", {{language, L"Gamma here"}})});
    ASSERT_EQ(S_OK, Fill());

    ASSERT_EQ(3, Rows());
    EXPECT_EQ("Alpha here", RowText(0));
    EXPECT_EQ("Beta", RowText(1));
    EXPECT_EQ("Gamma here", RowText(2));
    EXPECT_EQ(TOKENS + L"A", RowTokenId(0));
    EXPECT_EQ(TOKENS + L"B", RowTokenId(1));
    EXPECT_EQ(TOKENS + L"C", RowTokenId(2));
    EXPECT_EQ(0, Selected());
    EXPECT_EQ(3, engine::Counts(ObjectKind::Token).live) << "each row holds its token";
    EXPECT_EQ(0, engine::Counts(ObjectKind::Enumerator).live);

    ReleaseRows();
    EXPECT_EQ(0, engine::Counts(ObjectKind::Token).live);
    const engine::RefCounts tokens = engine::Counts(ObjectKind::Token);
    EXPECT_EQ(tokens.addRefs, tokens.releases) << "no reference released twice or kept";
}

TEST_F(EngineTokens, DescriptionsBecomeAnsiText) {
    if (GetACP() != 1252) GTEST_SKIP() << "expects the Western European ANSI code page";
    engine::SetInstalledVoices({InstalledVoice(L"A", {{L"", L"Ren\x00E9 \x00C5sa"}})});
    ASSERT_EQ(S_OK, Fill());
    EXPECT_EQ("Ren\xE9 \xC5sa", RowText(0));
    ReleaseRows();
}

TEST_F(EngineTokens, VoiceWithoutAnyDescriptionIsLeftOutAndReleased) {
    engine::SetInstalledVoices({InstalledVoice(L"A", {{L"", L"Alpha"}}), InstalledVoice(L"Mute", {{L"C0A", L"Muda"}}),
                                InstalledVoice(L"C", {{L"", L"Gamma"}})});
    EXPECT_EQ(S_OK, Fill()) << "the result of the last voice";
    ASSERT_EQ(2, Rows());
    EXPECT_EQ("Alpha", RowText(0));
    EXPECT_EQ("Gamma", RowText(1));
    EXPECT_EQ(0, Selected());
    EXPECT_EQ(2, engine::Counts(ObjectKind::Token).live) << "the mute voice's token was released";
    ReleaseRows();
    EXPECT_EQ(0, engine::Counts(ObjectKind::Token).live);
}

TEST_F(EngineTokens, ResultIsTheLastVoicesFailureEvenAfterRowsWereAdded) {
    engine::SetInstalledVoices({InstalledVoice(L"A", {{L"", L"Alpha"}}), InstalledVoice(L"B", {{L"", L"Beta"}}),
                                InstalledVoice(L"Mute", {{L"C0A", L"Muda"}})});
    EXPECT_EQ(SPERR_NOT_FOUND, Fill());
    EXPECT_EQ(2, Rows());
    EXPECT_EQ(0, Selected());
    ReleaseRows();
    EXPECT_EQ(0, engine::Counts(ObjectKind::Token).live);
}

TEST_F(EngineTokens, EmptyOrMissingCategoryLeavesTheListAlone) {
    SendMessageA(list_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>("kept"));

    engine::SetInstalledVoices({});
    EXPECT_EQ(S_OK, Fill());
    EXPECT_EQ(1, Rows());
    EXPECT_EQ(LB_ERR, Selected()) << "nothing added, nothing selected";

    engine::SetCategoryMissing(true);
    EXPECT_EQ(SPERR_NO_MORE_ITEMS, Fill());
    EXPECT_EQ(1, Rows());
    EXPECT_EQ("kept", RowText(0));
    EXPECT_EQ(LB_ERR, Selected());

    engine::SetCategoryMissing(false);
    engine::InjectFailure(Op::EnumTokens, engine::EveryCall, E_FAIL);
    EXPECT_EQ(SPERR_NO_MORE_ITEMS, Fill()) << "any failure to enumerate";
    EXPECT_EQ(1, Rows());
    for (ObjectKind kind : {ObjectKind::Category, ObjectKind::Enumerator, ObjectKind::Token})
        EXPECT_EQ(0, engine::Counts(kind).live);
}

TEST_F(EngineTokens, SelectedRowLendsItsTokenWithoutAReference) {
    engine::SetInstalledVoices(engine::DefaultVoices());
    EXPECT_EQ(nullptr, SelectedListToken(list_)) << "empty list";
    ASSERT_EQ(S_OK, Fill());
    ASSERT_LE(3, Rows());

    SendMessageA(list_, LB_SETCURSEL, 2, 0);
    const long addRefsBefore = engine::Counts(ObjectKind::Token).addRefs;
    ISpObjectToken* selected = SelectedListToken(list_);
    EXPECT_EQ(addRefsBefore, engine::Counts(ObjectKind::Token).addRefs);
    EXPECT_EQ(engine::DefaultVoices()[2].id, IdOf(selected));

    SendMessageA(list_, LB_SETCURSEL, static_cast<WPARAM>(-1), 0);
    EXPECT_EQ(nullptr, SelectedListToken(list_));
    ReleaseRows();
    EXPECT_EQ(0, engine::Counts(ObjectKind::Token).live);
}

// A list window that refuses chosen items and records the list messages it is sent.
constexpr UINT ADD = LB_ADDSTRING, SET_DATA = LB_SETITEMDATA, SELECT = LB_SETCURSEL, COUNT = LB_GETCOUNT,
               GET_DATA = LB_GETITEMDATA;

struct RecordingList {
    std::vector<LRESULT> addResults;  // per add, in turn; LB_ERR / LB_ERRSPACE refuse
    std::vector<std::string> added;
    std::vector<std::pair<WPARAM, LPARAM>> data;
    std::vector<WPARAM> selections;
};
RecordingList* Recording = nullptr;

LRESULT CALLBACK RecordingListProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case ADD: {
        const size_t n = Recording->added.size();
        Recording->added.push_back(reinterpret_cast<const char*>(lParam));
        return n < Recording->addResults.size() ? Recording->addResults[n] : static_cast<LRESULT>(n);
    }
    case SET_DATA: Recording->data.push_back({wParam, lParam}); return 0;
    case SELECT: Recording->selections.push_back(wParam); return 0;
    case COUNT: return static_cast<LRESULT>(Recording->data.size());
    case GET_DATA: return wParam < Recording->data.size() ? Recording->data[wParam].second : 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

class RecordingTokenList : public EngineTokens {
protected:
    void SetUp() override {
        EngineTokens::SetUp();
        Recording = &record_;
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = RecordingListProc;
        windowClass.lpszClassName = "RecordingTokenList";
        RegisterClassA(&windowClass);
        window_ = CreateWindowA("RecordingTokenList", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(nullptr, window_);
        engine::SetInstalledVoices({InstalledVoice(L"A", {{L"", L"Alpha"}}), InstalledVoice(L"B", {{L"", L"Beta"}}),
                                    InstalledVoice(L"C", {{L"", L"Gamma"}})});
    }
    void TearDown() override {
        if (window_) DestroyWindow(window_);
        Recording = nullptr;
        EngineTokens::TearDown();
    }
    HRESULT FillRecording() {
        return FillTokenList(window_);
    }
    RecordingList record_;
    HWND window_ = nullptr;
};

TEST_F(RecordingTokenList, RefusedItemCostsItsTokenAndReportsOutOfMemory) {
    record_.addResults = {5, LB_ERRSPACE, 9};
    EXPECT_EQ(S_OK, FillRecording()) << "the last voice was added";
    EXPECT_EQ((std::vector<std::string>{"Alpha", "Beta", "Gamma"}), record_.added);
    ASSERT_EQ(2u, record_.data.size()) << "no data for the refused item";
    EXPECT_EQ(5u, record_.data[0].first) << "data goes to the index the list returned";
    EXPECT_EQ(9u, record_.data[1].first);
    EXPECT_EQ(TOKENS + L"C", IdOf(reinterpret_cast<ISpObjectToken*>(record_.data[1].second)));
    EXPECT_EQ((std::vector<WPARAM>{5}), record_.selections) << "only the first item added is selected";
    EXPECT_EQ(2, engine::Counts(ObjectKind::Token).live);

    ReleaseTokenList(window_);
    EXPECT_EQ(0, engine::Counts(ObjectKind::Token).live);
}

}  // namespace
