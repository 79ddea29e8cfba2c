// The voice's automation face: IDispatch from SAPI's type library, calling the voice itself.
#include <gtest/gtest.h>

#include "engine/engine_state.h"
#include "tests/standins/engine_test_support.h"

namespace enginetest {
namespace {

const CLSID VoiceClass = {0x96749377, 0x3391, 0x11D2, {0x9E, 0xE3, 0x00, 0xC0, 0x4F, 0x79, 0x73, 0x96}};

class EngineAutomationTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, apartment_.registered);
        ASSERT_EQ(S_OK, CoCreateInstance(VoiceClass, nullptr, 7, IID_IDispatch, voice_.ReceiveVoid()));
    }

    // Invokes a member of `object` by name with the arguments given last first, as IDispatch takes them.
    static HRESULT Call(IDispatch* object, const wchar_t* name, WORD flags, std::vector<VARIANT> arguments, VARIANT* result) {
        DISPID member = 0, named = DISPID_PROPERTYPUT;
        LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
        HRESULT found = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &member);
        if (FAILED(found)) return found;
        const bool put = flags == DISPATCH_PROPERTYPUT || flags == DISPATCH_PROPERTYPUTREF;
        DISPPARAMS parameters = {arguments.data(), put ? &named : nullptr, static_cast<UINT>(arguments.size()), put ? 1u : 0u};
        return object->Invoke(member, IID_NULL, LOCALE_USER_DEFAULT, flags, &parameters, result, nullptr, nullptr);
    }
    static VARIANT Long(LONG value) {
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_I4;
        v.lVal = value;
        return v;
    }

    EngineApartment apartment_;
    ScopedComPtr<IDispatch> voice_;
};

TEST_F(EngineAutomationTest, TheDispatchFaceIsTheSameVoice) {
    ScopedComPtr<ISpVoice> direct;
    ScopedComPtr<IUnknown> fromDispatch, fromVoice;
    ASSERT_EQ(S_OK, voice_->QueryInterface(__uuidof(ISpVoice), direct.ReceiveVoid()));
    ASSERT_EQ(S_OK, voice_->QueryInterface(IID_IUnknown, fromDispatch.ReceiveVoid()));
    ASSERT_EQ(S_OK, direct->QueryInterface(IID_IUnknown, fromVoice.ReceiveVoid()));
    EXPECT_EQ(fromVoice.Get(), fromDispatch.Get());

    VARIANT got;
    VariantInit(&got);
    ASSERT_EQ(S_OK, Call(voice_.Get(), L"Rate", DISPATCH_PROPERTYPUT, {Long(-4)}, nullptr));
    LONG rate = 0;
    EXPECT_EQ(S_OK, direct->GetRate(&rate));
    EXPECT_EQ(-4, rate);
    ASSERT_EQ(S_OK, direct->SetVolume(37));
    ASSERT_EQ(S_OK, Call(voice_.Get(), L"Volume", DISPATCH_PROPERTYGET, {}, &got));
    EXPECT_EQ(VT_I4, got.vt);
    EXPECT_EQ(37, got.lVal);
    EXPECT_NE(S_OK, Call(voice_.Get(), L"Volume", DISPATCH_PROPERTYPUT, {Long(101)}, nullptr));
}

TEST_F(EngineAutomationTest, GetVoicesListsWhatTheCategoryLists) {
    VARIANT voices, count, item;
    VariantInit(&voices);
    VariantInit(&count);
    VariantInit(&item);
    ASSERT_EQ(S_OK, Call(voice_.Get(), L"GetVoices", DISPATCH_METHOD, {}, &voices));
    ASSERT_EQ(VT_DISPATCH, voices.vt);
    ScopedComPtr<IDispatch> list(voices.pdispVal);
    ASSERT_EQ(S_OK, Call(list.Get(), L"Count", DISPATCH_PROPERTYGET, {}, &count));
    EXPECT_EQ(static_cast<LONG>(engine::InstalledVoices().size()), count.lVal);
    EXPECT_NE(S_OK, Call(list.Get(), L"Item", DISPATCH_METHOD, {Long(count.lVal)}, &item));
    ASSERT_EQ(S_OK, Call(list.Get(), L"Item", DISPATCH_METHOD, {Long(0)}, &item));
    ScopedComPtr<IDispatch> first(item.pdispVal);
    VARIANT id;
    VariantInit(&id);
    ASSERT_EQ(S_OK, Call(first.Get(), L"Id", DISPATCH_PROPERTYGET, {}, &id));
    EXPECT_EQ(engine::InstalledVoices().front().id, std::wstring(id.bstrVal));
    VariantClear(&id);
}

}  // namespace
}  // namespace enginetest
