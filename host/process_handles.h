// The process's open handles, counted where the system gives no count (Wine's GetProcessHandleCount).
#pragma once

namespace host {

// The handle values GetHandleInformation accepts. Handle values are multiples of 4 and Wine hands out
// the lowest free ones, so probing the first 32,768 finds every handle of a test or benchmark process.
long long ProbedHandleCount();

}  // namespace host
