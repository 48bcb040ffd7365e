#include "ui/qt/desktop_placement.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#ifdef OSTREVANE_X11
#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#endif

namespace ostrevane::ui {

namespace {

QPoint CentredFramePosition(const QWindow& window) {
  const QScreen* screen = window.screen();
  if (screen == nullptr) return window.framePosition();
  const QRect area = screen->availableGeometry();
  const QSize frame = window.size().grownBy(window.frameMargins());
  return area.topLeft() +
         QPoint((area.width() - frame.width()) / 2, (area.height() - frame.height()) / 2);
}

// Moves the window, once it is framed, until its frame sits at the centre.
// Window managers read a move request differently (some as the place of the
// frame, some as that of the client area), so a second request corrects the
// first by what it gave. Gives up after a second, leaving later moves, the
// user's own, alone.
class FrameCentring final : public QObject {
 public:
  explicit FrameCentring(QWindow& window) : QObject(&window), window_(window) {
    window.installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched != &window_) return false;
    if (event->type() == QEvent::Expose && window_.isExposed() && !started_) {
      started_ = true;
      QTimer::singleShot(kPatienceMs, this, &QObject::deleteLater);
      Request(CentredFramePosition(window_));
    } else if (event->type() == QEvent::Move && started_) {
      const QPoint target = CentredFramePosition(window_);
      if (window_.framePosition() == target || ++corrections_ > kMaxCorrections) {
        deleteLater();
      } else {
        Request(requested_ + target - window_.framePosition());
      }
    }
    return false;
  }

 private:
  static constexpr int kPatienceMs = 1000;
  static constexpr int kMaxCorrections = 2;

  void Request(QPoint framePosition) {
    if (framePosition == window_.framePosition()) return;
    requested_ = framePosition;
    window_.setFramePosition(framePosition);
  }

  QWindow& window_;
  bool started_ = false;
  int corrections_ = 0;
  QPoint requested_;
};

#ifdef OSTREVANE_X11
xcb_atom_t InternAtom(xcb_connection_t* connection, const char* name) {
  const xcb_intern_atom_cookie_t cookie =
      xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name);
  xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection, cookie, nullptr);
  const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
  std::free(reply);
  return atom;
}
#endif

}  // namespace

void KeepOffTaskbar(QWidget& window) {
#ifdef OSTREVANE_X11
  // Qt's offscreen platform answers as an X11 application too, without a
  // connection to any display.
  const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  if (x11 == nullptr || QGuiApplication::platformName() != QLatin1String("xcb")) return;
  xcb_connection_t* connection = x11->connection();
  if (connection == nullptr || window.isVisible()) return;
  const xcb_atom_t state = InternAtom(connection, "_NET_WM_STATE");
  const xcb_atom_t skipTaskbar = InternAtom(connection, "_NET_WM_STATE_SKIP_TASKBAR");
  if (state == XCB_ATOM_NONE || skipTaskbar == XCB_ATOM_NONE) return;
  // On a window not yet mapped the state is a plain property, which the
  // window manager reads when it maps the window; Qt adds its own states to
  // what it finds there.
  xcb_change_property(connection, XCB_PROP_MODE_APPEND, static_cast<xcb_window_t>(window.winId()),
                      state, XCB_ATOM_ATOM, 32, 1, &skipTaskbar);
  xcb_flush(connection);
#else
  (void)window;
#endif
}

void ShowWithFrameCentred(QWidget& window) {
  window.winId();  // the native window, to place before it shows
  QWindow& native = *window.windowHandle();
  // Without a frame yet, the client area takes the centre.
  native.setFramePosition(CentredFramePosition(native));
  new FrameCentring(native);
  window.show();
}

}  // namespace ostrevane::ui
