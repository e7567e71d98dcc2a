#include "ui/normal_state.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <utility>

namespace dupfind {
namespace {

constexpr Qt::WindowStates kLarge = Qt::WindowMaximized | Qt::WindowFullScreen;

class NormalStateKeeper : public QObject {
 public:
  explicit NormalStateKeeper(QWidget& window) : QObject(&window), window_(window) {
    window.installEventFilter(this);
    Watch(window.windowHandle());
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched != &window_) return false;
    switch (event->type()) {
      case QEvent::WinIdChange:
      case QEvent::Show:
        Watch(window_.windowHandle());
        break;
      case QEvent::WindowStateChange:
        if (Large()) {
          Lift();  // the window system may have made it large on its own
          refuse_ = true;
          window_.update();  // it may have drawn its large size already
        }
        break;
      case QEvent::Paint:
        // The large size is drawn, and handed to the window system as soon as
        // this paint ends: only then is the normal state asked for. A
        // compositor may drop a request that comes before (weston does).
        if (refuse_) {
          refuse_ = false;
          QTimer::singleShot(0, this, [this] { AskForNormalState(); });
        }
        break;
      case QEvent::LayoutRequest:
        // A window that sizes itself to its layout (QMessageBox) would shrink
        // back while the window system holds it large: it waits.
        if (lifted_) {
          relayout_ = true;
          return true;
        }
        break;
      case QEvent::Resize:
        // Back at its size and in its normal state: the window system is done.
        if (lifted_ && !Large() && window_.size() == fixed_) {
          lifted_ = false;
          window_.setMaximumSize(fixed_);
          if (std::exchange(relayout_, false))
            QCoreApplication::postEvent(&window_, new QEvent(QEvent::LayoutRequest));
        }
        break;
      default:
        break;
    }
    return false;
  }

 private:
  // A request made on the native window, as a title bar that Qt draws makes
  // it, reaches the window system before the widget hears of it: this signal
  // is the one word of it that comes in time to lift the limit.
  void Watch(QWindow* handle) {
    if (handle == nullptr || handle == handle_) return;
    if (handle_) disconnect(handle_, nullptr, this, nullptr);
    handle_ = handle;
    connect(handle, &QWindow::windowStateChanged, this, [this](Qt::WindowState state) {
      if (kLarge.testFlag(state)) Lift();
    });
  }

  // Large as the widget or as its native window knows it: a widget that sets
  // its own size limit (as QMessageBox does) forgets that it was maximised.
  bool Large() const {
    return (window_.windowState() & kLarge) || (handle_ && (handle_->windowStates() & kLarge));
  }

  void AskForNormalState() {
    if (window_.windowState() & kLarge)
      window_.setWindowState(window_.windowState() & ~kLarge);
    else if (handle_ && (handle_->windowStates() & kLarge))
      handle_->setWindowStates(handle_->windowStates() & ~kLarge);
  }

  void Lift() {
    if (lifted_) return;
    lifted_ = true;
    fixed_ = window_.maximumSize();
    window_.setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  }

  QWidget& window_;
  QPointer<QWindow> handle_;
  QSize fixed_;            // the size limit while it is lifted
  bool lifted_ = false;    // the size limit is lifted
  bool refuse_ = false;    // made large: the normal state is asked for after the next paint
  bool relayout_ = false;  // a layout request held back while lifted
};

}  // namespace

void KeepNormalState(QWidget& window) {
  new NormalStateKeeper(window);
}

}  // namespace dupfind
