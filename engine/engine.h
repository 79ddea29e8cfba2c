// In-process SAPI 5 speech engine stand-in for tests: a voice, a notify translator and a
// voices token category, registered as class objects of the calling apartment so that the
// plug-in's own CoCreateInstance calls reach them.
#pragma once

#include <windows.h>

namespace engine {

// Registers the class factories of the voice, the notify translator and the token
// category on the calling thread (CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE).
HRESULT RegisterClasses();

// Revokes what RegisterClasses registered; harmless when nothing is registered.
void RevokeClasses();

}  // namespace engine
