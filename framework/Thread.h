// Worker threads. A worker never touches a window object's state directly: it posts or sends
// messages to the window, and shares flags with it only through std::atomic.
#pragma once

#include "Handles.h"

namespace fw {

using ThreadProc = unsigned(__stdcall*)(void* parameter);

// Starts proc(parameter) at once on a new thread with normal priority and the default stack
// size. The handle may be dropped when nobody waits for the thread; it is empty when the thread
// could not be started.
KernelHandle BeginThread(ThreadProc proc, void* parameter);

} // namespace fw
