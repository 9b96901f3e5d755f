#include "Centring.h"

#include <QEvent>
#include <QWidget>

namespace forms {
namespace {

// How often and how long to look for the frame. A window manager frames a new window within
// a few hundred milliseconds; on a busy machine it can take seconds.
constexpr int kLookEveryMs = 40;
constexpr int kLookForMs = 10000;

QMargins FrameMargins(const QWidget* window)
{
    const QRect frame = window->frameGeometry();
    const QRect client = window->geometry();
    return {client.left() - frame.left(), client.top() - frame.top(),
            frame.right() - client.right(), frame.bottom() - client.bottom()};
}

}  // namespace

FrameCentring::FrameCentring(QWidget* window, std::function<QRect()> area, QWidget* frameLike)
    : QObject(window), m_window(window), m_frameLike(frameLike), m_area(std::move(area))
{
    window->installEventFilter(this);
    m_look.setInterval(kLookEveryMs);
    connect(&m_look, &QTimer::timeout, this, &FrameCentring::lookForFrame);
}

bool FrameCentring::frameKnown() const
{
    return m_window->frameGeometry().size() != m_window->size();
}

void FrameCentring::centre()
{
    QRect frame = m_window->frameGeometry();
    if (!frameKnown() && m_frameLike && m_frameLike->isVisible())
        frame = m_window->geometry() + FrameMargins(m_frameLike);
    frame.moveCenter(m_area().center());
    m_window->move(frame.topLeft());  // a top-level window's position is its frame's
}

void FrameCentring::lookForFrame()
{
    if (m_stage != Stage::AwaitingFrame)
        return;
    if (frameKnown()) {
        m_stage = Stage::Done;
        m_look.stop();
        centre();
    } else if (m_since.hasExpired(kLookForMs)) {
        m_stage = Stage::Done;  // no window manager: the first centring was the last
        m_look.stop();
    }
}

bool FrameCentring::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != m_window)
        return false;
    if (event->type() == QEvent::Show && m_stage == Stage::BeforeShow) {
        centre();
        m_stage = Stage::AwaitingFrame;
        m_since.start();
        m_look.start();
    } else if (m_stage == Stage::AwaitingFrame) {
        lookForFrame();  // the move or activation that follows the framing, if one comes
    }
    return false;
}

}  // namespace forms
