// Small measuring pieces of the benchmark: a microsecond clock, distributions of samples, and the
// process's private bytes and handle count from the sources Wine fills in.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace bench {

double NowMs();  // QueryPerformanceCounter, milliseconds

// The nearest-rank percentile (0 < fraction <= 1) of the samples; 0 for none.
double Percentile(std::vector<double> samples, double fraction);

struct ProcessFigures {
    long long privateBytes = 0;       // GetProcessMemoryInfo's PrivateUsage (0 where not reported)
    long long committedPrivate = 0;   // committed private pages found by walking the address space
    long long handles = -1;           // GetProcessHandleCount, -1 when it fails
    long long probedHandles = 0;      // handle values GetHandleInformation accepts
};
ProcessFigures MeasureProcess();

}  // namespace bench
