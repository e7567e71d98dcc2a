#include "search/window_wait.h"

#include <atomic>
#include <exception>
#include <system_error>
#include <thread>

namespace dupfind {

void RunWhileWindowWaits(MainForm& form, const std::function<void()>& work) {
  std::atomic<bool> done{false};
  std::exception_ptr error;
  {
    std::jthread worker;
    try {
      worker = std::jthread([&] {
        try {
          work();
        } catch (...) {
          error = std::current_exception();
        }
        done = true;
        form.WakeUp();
      });
    } catch (const std::system_error&) {
      work();  // no thread to be had: the window waits for the work itself
      return;
    }
    while (!done)
      form.AwaitMessages(MainForm::UserInput::kHold);
  }  // joined: the worker's writes are seen from here on
  if (error) std::rethrow_exception(error);
}

}  // namespace dupfind
