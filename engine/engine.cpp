#include "engine/engine.h"

namespace engine {

HRESULT RegisterClasses() { return E_NOTIMPL; }

void RevokeClasses() {}

}  // namespace engine
