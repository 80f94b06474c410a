#include "Thread.h"

#include <process.h>

namespace fw {

KernelHandle BeginThread(ThreadProc proc, void* parameter)
{
    // _beginthreadex rather than CreateThread, so the C runtime sets up its per-thread state.
    const uintptr_t thread = ::_beginthreadex(nullptr, 0, proc, parameter, 0, nullptr);
    return KernelHandle(reinterpret_cast<HANDLE>(thread));
}

} // namespace fw
