#include "Centring.h"

#include <QEvent>
#include <QWidget>
#include <QWindow>

namespace forms {
namespace {

// How often and how long to look for the frame. A window manager frames a new window within
// a few hundred milliseconds; on a busy machine it can take seconds.
constexpr int kLookEveryMs = 40;
constexpr int kLookForMs = 10000;

}  // namespace

std::optional<QMargins> KnownFrameMargins(const QWidget* window)
{
    // Asked of the window system each time: a widget keeps the frame it saw last until an
    // event tells it of a change, and the frame can arrive without one.
    const QWindow* handle = window->windowHandle();
    if (!handle)
        return std::nullopt;
    const QMargins margins = handle->frameMargins();
    if (margins.isNull() || margins.left() < 0 || margins.top() < 0 || margins.right() < 0 ||
        margins.bottom() < 0)
        return std::nullopt;
    return margins;
}

QRect FrameRect(const QWidget* window)
{
    return window->geometry() + KnownFrameMargins(window).value_or(QMargins());
}

FrameCentring::FrameCentring(QWidget* window, std::function<QRect()> area, QWidget* frameLike)
    : QObject(window), m_window(window), m_frameLike(frameLike), m_area(std::move(area))
{
    window->installEventFilter(this);
    m_look.setInterval(kLookEveryMs);
    connect(&m_look, &QTimer::timeout, this, &FrameCentring::lookForFrame);
}

void FrameCentring::centre(const QMargins& margins)
{
    QRect frame = m_window->geometry() + margins;
    frame.moveCenter(m_area().center());
    // The client area is placed (setGeometry, where move would place the frame by whatever
    // frame Qt saw last, which is wrong while the frame is new); that also marks it placed, so
    // that QDialog does not place it again.
    m_window->setGeometry(
        QRect(frame.topLeft() + QPoint(margins.left(), margins.top()), m_window->size()));
}

void FrameCentring::lookForFrame()
{
    if (m_stage != Stage::AwaitingFrame)
        return;
    const std::optional<QMargins> seen = KnownFrameMargins(m_window);
    if (seen && seen == m_lastSeen) {
        m_stage = Stage::Done;
        m_look.stop();
        centre(*seen);
    } else if (m_since.hasExpired(kLookForMs)) {
        m_stage = Stage::Done;  // no window manager: the first centring was the last
        m_look.stop();
    }
    m_lastSeen = seen;
}

bool FrameCentring::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != m_window)
        return false;
    if (event->type() == QEvent::Show && m_stage == Stage::BeforeShow) {
        std::optional<QMargins> margins = KnownFrameMargins(m_window);
        if (!margins && m_frameLike && m_frameLike->isVisible())
            margins = KnownFrameMargins(m_frameLike);
        centre(margins.value_or(QMargins()));
        m_stage = Stage::AwaitingFrame;
        m_since.start();
        m_look.start();
    }
    return false;
}

}  // namespace forms
