#include "engine/notify_translator.h"

#include "engine/com_object.h"
#include "engine/sapi_codes.h"
#include "base/scoped.h"

#include <windows.h>
#include <sapi.h>

namespace engine {
namespace {

class NotifyTranslator : public CountedObject<ISpNotifyTranslator> {
public:
    NotifyTranslator() : CountedObject(ObjectKind::Translator) {}

    ~NotifyTranslator() override {
        if (closeOnRelease_ && event_) CloseHandle(event_);
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        return QueryAmong(iid, object, {IID_IUnknown, __uuidof(ISpNotifySink), __uuidof(ISpNotifyTranslator)});
    }

    // Called by the voice, from any thread, after it has queued events.
    HRESULT STDMETHODCALLTYPE Notify() override {
        if (event_) SetEvent(event_);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE InitWin32Event(HANDLE event, WINBOOL closeOnRelease) override {
        const std::wstring call = L"Translator.InitWin32Event(" + std::wstring(event ? L"event" : L"NULL") + L", " +
                                  std::to_wstring(closeOnRelease) + L")";
        if (auto injected = InjectedResult(Op::InitWin32Event)) return Logged(call, *injected);
        if (event_) return Logged(call, SPERR_ALREADY_INITIALIZED);
        if (!event) {  // no event given: the translator makes and owns one
            event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
            if (!event) return Logged(call, HRESULT_FROM_WIN32(GetLastError()));
            closeOnRelease = TRUE;
        }
        event_ = event;
        closeOnRelease_ = closeOnRelease != FALSE;
        return Logged(call, S_OK);
    }

    HRESULT STDMETHODCALLTYPE Wait(DWORD milliseconds) override {
        if (!event_) return SPERR_UNINITIALIZED;
        return WaitForSingleObject(event_, milliseconds) == WAIT_OBJECT_0 ? S_OK : S_FALSE;
    }

    HANDLE STDMETHODCALLTYPE GetEventHandle() override { return event_; }

    HRESULT STDMETHODCALLTYPE InitWindowMessage(HWND, UINT, WPARAM, LPARAM) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE InitCallback(SPNOTIFYCALLBACK*, WPARAM, LPARAM) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE InitSpNotifyCallback(ISpNotifyCallback*, WPARAM, LPARAM) override { return E_NOTIMPL; }

private:
    HANDLE event_ = nullptr;
    bool closeOnRelease_ = false;
};

}  // namespace

HRESULT CreateNotifyTranslator(REFIID iid, void** object) {
    ScopedComPtr<ISpNotifyTranslator> translator(new NotifyTranslator);
    return translator->QueryInterface(iid, object);
}

}  // namespace engine
