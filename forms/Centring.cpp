#include "Centring.h"

#include <QEvent>
#include <QTimer>
#include <QWidget>

namespace forms {
namespace {

// A window manager frames a new window within a few hundred milliseconds; a move after this
// is the user's.
constexpr int kFrameWaitMs = 1500;

}  // namespace

FrameCentring::FrameCentring(QWidget* window, std::function<QRect()> area)
    : QObject(window), m_window(window), m_area(std::move(area))
{
    window->installEventFilter(this);
}

void FrameCentring::centre()
{
    QRect frame = m_window->frameGeometry();
    frame.moveCenter(m_area().center());
    m_window->move(frame.topLeft());  // a top-level window's position is its frame's
}

bool FrameCentring::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != m_window)
        return false;
    if (event->type() == QEvent::Show && m_stage == Stage::BeforeShow) {
        centre();
        m_stage = Stage::AwaitingFrame;
        QTimer::singleShot(kFrameWaitMs, this, [this] { m_stage = Stage::Done; });
    } else if (m_stage == Stage::AwaitingFrame &&
               m_window->frameGeometry().size() != m_window->size()) {
        // Known with the move or the activation that follows the framing, whichever comes.
        m_stage = Stage::Done;
        centre();
    }
    return false;
}

}  // namespace forms
