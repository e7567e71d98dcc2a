#pragma once

#include <QObject>

#include <string>
#include <utility>

namespace dupfind {

// Runs `command` and stops any error it raises right here: the error is shown
// in an error box and the caller goes on as if the command had ended. Qt's own
// frames are built without exception tables, so no error may pass through them.
template <typename Command>
void RunCommand(Command&& command) noexcept;

// Connects `signal` of `sender` to `command`, run through RunCommand: the
// slot that runs a command is where its errors stop. `command` takes no
// arguments; whatever the signal carries is left out.
template <typename Sender, typename Signal, typename Command>
QMetaObject::Connection ConnectCommand(const Sender* sender, Signal signal, const QObject* context,
                                       Command command) {
  return QObject::connect(sender, signal, context,
                          [command = std::move(command)] { RunCommand(command); });
}

// The same for a member function of `receiver` that takes no arguments.
template <typename Sender, typename Signal, typename Receiver>
QMetaObject::Connection ConnectCommand(const Sender* sender, Signal signal, Receiver* receiver,
                                       void (Receiver::*slot)()) {
  return ConnectCommand(sender, signal, receiver, [receiver, slot] { (receiver->*slot)(); });
}

// Shows the error box for an error stopped at a command's boundary. An error
// raised while the box is shown has nowhere left to go and is dropped.
void ShowStoppedError(const std::string& message) noexcept;

template <typename Command>
void RunCommand(Command&& command) noexcept {
  std::string message;
  try {
    command();
    return;
  } catch (const std::exception& error) {
    message = error.what();
  } catch (...) {
    message = "Unknown error";
  }
  ShowStoppedError(message);  // outside the handler: the box runs an event loop
}

}  // namespace dupfind
