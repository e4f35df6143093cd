#pragma once
// Waiting on the window's thread without leaving its messages unread: the
// system marks a window "Not Responding" once its thread has read none for a
// few seconds, so every wait and every long piece of work on that thread
// reads and dispatches them as it goes.

#include <windows.h>

#include <cstddef>
#include <span>

namespace tessaloom {

// Waits until one of `handles` (at most 63) is signalled or `milliseconds`
// have passed (INFINITE: no limit), dispatching the messages this thread
// receives meanwhile. Returns the index of the handle that was signalled,
// or handles.size() when the time ran out. A WM_QUIT read meanwhile is posted
// again before it returns. Throws when the wait itself fails.
std::size_t WaitDispatching(std::span<const HANDLE> handles, DWORD milliseconds);

// Whether reading the queue may paint: a queue with nothing else in it
// yields WM_PAINT while any window of the thread has something to paint.
enum class Painting { kDo, kLeave };

// Dispatches the messages already waiting for this thread, without waiting;
// with kLeave, what is waiting to be painted stays so.
void DispatchWaitingMessages(Painting painting = Painting::kDo);

}  // namespace tessaloom
