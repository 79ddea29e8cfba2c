#include "engine/notify_translator.h"

#include "engine/com_object.h"
#include "engine/sapi_codes.h"
#include "engine/thread_caller.h"
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
        if (caller_) caller_->Close();
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        return QueryAmong(iid, object, {IID_IUnknown, __uuidof(ISpNotifySink), __uuidof(ISpNotifyTranslator)});
    }

    // Called by the voice, from any thread, after it has queued events: sets the event or posts the
    // window message; a callback is called on the thread that set it, from its message loop.
    HRESULT STDMETHODCALLTYPE Notify() override {
        if (event_) SetEvent(event_);
        if (window_) PostMessageW(window_, message_, wParam_, lParam_);
        if (caller_) caller_->Post();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE InitWin32Event(HANDLE event, WINBOOL closeOnRelease) override {
        const std::wstring call = L"Translator.InitWin32Event(" + std::wstring(event ? L"event" : L"NULL") + L", " +
                                  std::to_wstring(closeOnRelease) + L")";
        if (auto injected = InjectedResult(Op::InitWin32Event)) return Logged(call, *injected);
        if (Initialized()) return Logged(call, SPERR_ALREADY_INITIALIZED);
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

    HRESULT STDMETHODCALLTYPE InitWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override {
        if (Initialized()) return SPERR_ALREADY_INITIALIZED;
        if (!IsWindow(window)) return E_INVALIDARG;
        window_ = window;
        message_ = message;
        return Remember(wParam, lParam);
    }

    HRESULT STDMETHODCALLTYPE InitCallback(SPNOTIFYCALLBACK* function, WPARAM wParam, LPARAM lParam) override {
        if (Initialized()) return SPERR_ALREADY_INITIALIZED;
        if (!function) return E_INVALIDARG;
        return CallOnThisThread([function, wParam, lParam] { function(wParam, lParam); });
    }

    HRESULT STDMETHODCALLTYPE InitSpNotifyCallback(ISpNotifyCallback* callback, WPARAM wParam, LPARAM lParam) override {
        if (Initialized()) return SPERR_ALREADY_INITIALIZED;
        if (!callback) return E_INVALIDARG;
        // Not a COM object: SAPI takes no reference to it either.
        return CallOnThisThread([callback, wParam, lParam] { callback->NotifyCallback(wParam, lParam); });
    }

private:
    bool Initialized() const { return event_ || window_ || caller_; }

    HRESULT CallOnThisThread(std::function<void()> call) {
        caller_ = ThreadCaller::Create(std::move(call));
        if (caller_) return S_OK;
        const DWORD error = GetLastError();
        return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
    }

    HRESULT Remember(WPARAM wParam, LPARAM lParam) {
        wParam_ = wParam;
        lParam_ = lParam;
        return S_OK;
    }

    HANDLE event_ = nullptr;
    bool closeOnRelease_ = false;
    HWND window_ = nullptr;
    UINT message_ = 0;
    std::shared_ptr<ThreadCaller> caller_;  // for a callback function or interface
    WPARAM wParam_ = 0;
    LPARAM lParam_ = 0;
};

}  // namespace

HRESULT CreateNotifyTranslator(REFIID iid, void** object) {
    ScopedComPtr<ISpNotifyTranslator> translator(new NotifyTranslator);
    return translator->QueryInterface(iid, object);
}

}  // namespace engine
