#include "engine/events.h"

#include "base/speech_event.h"

#include "engine/com_object.h"
#include "engine/tokens.h"

#include <cstring>
#include <cwchar>

namespace engine {
namespace {

// What an object payload points at: an object with nothing to do but be counted.
class PayloadObject : public CountedObject<IUnknown> {
public:
    PayloadObject() : CountedObject(ObjectKind::PayloadObject) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        return QueryAmong(iid, object, {IID_IUnknown});
    }
};

const size_t PrivatePointerBytes = 16;

}  // namespace

SPEVENT PlainEvent(SPEVENTENUM id, ULONG streamNumber, ULONGLONG audioOffset, WPARAM wParam, LPARAM lParam) {
    SPEVENT event;
    std::memset(&event, 0, sizeof event);
    event.eEventId = id;
    event.elParamType = SPET_LPARAM_IS_UNDEFINED;
    event.ulStreamNum = streamNumber;
    event.ullAudioStreamOffset = audioOffset;
    event.wParam = wParam;
    event.lParam = lParam;
    return event;
}

SPEVENT VoiceChangeEvent(ULONG streamNumber, ULONGLONG audioOffset, const std::wstring& voiceId) {
    SPEVENT event = PlainEvent(SPEI_VOICE_CHANGE, streamNumber, audioOffset, 0,
                               reinterpret_cast<LPARAM>(NewTokenForId(voiceId)));
    event.elParamType = SPET_LPARAM_IS_TOKEN;
    return event;
}

SPEVENT BookmarkEvent(ULONG streamNumber, ULONGLONG audioOffset, const std::wstring& mark) {
    size_t bytes = (mark.size() + 1) * sizeof(wchar_t);
    auto* text = static_cast<wchar_t*>(CoTaskMemAlloc(bytes));
    if (text) std::memcpy(text, mark.c_str(), bytes);
    // As SAPI does, wParam carries the mark's leading number, if it has one.
    SPEVENT event = PlainEvent(SPEI_TTS_BOOKMARK, streamNumber, audioOffset, std::wcstol(mark.c_str(), nullptr, 10),
                               reinterpret_cast<LPARAM>(text));
    event.elParamType = text ? SPET_LPARAM_IS_STRING : SPET_LPARAM_IS_UNDEFINED;
    return event;
}

SPEVENT PrivatePointerEvent(ULONG streamNumber, ULONGLONG audioOffset) {
    void* block = CoTaskMemAlloc(PrivatePointerBytes);
    if (block) std::memset(block, 0x5A, PrivatePointerBytes);
    SPEVENT event = PlainEvent(SPEI_TTS_PRIVATE, streamNumber, audioOffset, block ? PrivatePointerBytes : 0,
                               reinterpret_cast<LPARAM>(block));
    event.elParamType = block ? SPET_LPARAM_IS_POINTER : SPET_LPARAM_IS_UNDEFINED;
    return event;
}

SPEVENT PrivateObjectEvent(ULONG streamNumber, ULONGLONG audioOffset) {
    IUnknown* object = new PayloadObject;
    SPEVENT event = PlainEvent(SPEI_TTS_PRIVATE, streamNumber, audioOffset, 0, reinterpret_cast<LPARAM>(object));
    event.elParamType = SPET_LPARAM_IS_OBJECT;
    return event;
}

void ReleaseEventPayload(SPEVENT& event) { ClearSpeechEvent(event); }

}  // namespace engine
