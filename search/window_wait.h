#pragma once

#include <functional>

#include "search/main_form.h"

namespace dupfind {

// Runs `work` on a thread of its own while the window thread waits in
// form.AwaitMessages(UserInput::kHold): the window repaints and its timers
// run, and the user's keys and clicks stay queued until `work` has ended.
// Returns once `work` has ended and its thread has been joined; an error
// `work` throws is thrown again here. Where no thread can be started
// (resource limits), `work` runs on the calling thread instead.
//
// Between the threads: `work` touches no widget, list or status text of the
// form; it only wakes the window (WakeUp) once it has ended. Whatever it
// writes is read by the caller after the join.
void RunWhileWindowWaits(MainForm& form, const std::function<void()>& work);

}  // namespace dupfind
