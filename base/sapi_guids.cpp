// Instantiates the speech engine's class and interface ids declared in <sapi.h> (selectany, so other
// modules linked into the same program may define them too).
#include <windows.h>
#include <initguid.h>
#include <sapi.h>
