#pragma once

class QWidget;

namespace dupfind {

// Keeps a fixed-size window out of the maximised and full-screen states,
// whoever asks for them: a title bar Qt draws itself (as under Wayland, where
// every window gets a maximise button), the window manager or the program.
//
// Refusing is not enough under Wayland: once asked, the compositor sends the
// maximised size, and a surface that does not then take exactly that size is
// a protocol error that ends the program. So from the moment the window is
// asked to grow until the window system has given it back its normal size,
// its size limit is lifted; then the window is asked back to its normal
// state, and the fixed size returns once the window has it again.
//
// The watch lives as a child of `window`.
void KeepNormalState(QWidget& window);

}  // namespace dupfind
