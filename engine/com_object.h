// Base of the engine's COM objects: a reference count that also feeds the per-kind counters
// tests read with engine::Counts.
#pragma once

#include "engine/engine_state.h"

#include <initializer_list>

namespace engine {

template <typename Interface>
class CountedObject : public Interface {
public:
    explicit CountedObject(ObjectKind kind) : kind_(kind) { NoteCreated(kind_); }
    virtual ~CountedObject() { NoteDestroyed(kind_); }
    CountedObject(const CountedObject&) = delete;
    CountedObject& operator=(const CountedObject&) = delete;

    ULONG STDMETHODCALLTYPE AddRef() override {
        NoteAddRef(kind_);
        return static_cast<ULONG>(InterlockedIncrement(&references_));
    }

    ULONG STDMETHODCALLTYPE Release() override {
        NoteRelease(kind_);
        LONG left = InterlockedDecrement(&references_);
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }

protected:
    // Answers for any of the given interfaces, all of which this object's one table serves.
    HRESULT QueryAmong(REFIID iid, void** object, std::initializer_list<IID> served) {
        if (!object) return E_POINTER;
        for (const IID& candidate : served) {
            if (IsEqualIID(iid, candidate)) {
                *object = static_cast<Interface*>(this);
                AddRef();
                return S_OK;
            }
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }

private:
    ObjectKind kind_;
    LONG references_ = 1;
};

// An object that lives as long as the process (a class factory, the malloc spy): it counts no
// references and answers for IUnknown and its one interface.
template <typename Interface>
class StaticObject : public Interface {
public:
    explicit StaticObject(REFIID served) : served_(served) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, served_)) {
            *object = static_cast<Interface*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

private:
    IID served_;
};

}  // namespace engine
