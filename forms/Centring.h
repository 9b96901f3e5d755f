#pragma once

// Centring a window's whole frame, title bar included, on an area (the screen, an owner).

#include <QElapsedTimer>
#include <QMargins>
#include <QObject>
#include <QRect>
#include <QTimer>

#include <functional>
#include <optional>

class QWidget;

namespace forms {

// The frame's margins around `window` as the window system has them now, or none while they
// are not known or not believable (a window manager that is still building the frame can make
// them come out negative).
std::optional<QMargins> KnownFrameMargins(const QWidget* window);

// `window`'s frame: its client area with the known margins (none counted while unknown).
QRect FrameRect(const QWidget* window);

// Centres the window's frame on area() when it is first shown, and again once a window
// manager has put its frame around it. Until then the frame's size is not known: the first
// centring borrows the frame of another window of the program (the owner's), as the window
// manager draws them alike. The frame is then looked for until it is there, not only when an
// event happens to arrive (its size can come after the last event of the showing), and taken
// once it reads the same twice. After that, or when no frame comes (no window manager), a
// later move stays the user's.
class FrameCentring : public QObject
{
public:
    FrameCentring(QWidget* window, std::function<QRect()> area, QWidget* frameLike = nullptr);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void centre(const QMargins& margins);
    void lookForFrame();

    QWidget* m_window;
    QWidget* m_frameLike;  // a window whose frame this one's will look like, or none
    std::function<QRect()> m_area;
    QTimer m_look;
    QElapsedTimer m_since;
    std::optional<QMargins> m_lastSeen;
    enum class Stage { BeforeShow, AwaitingFrame, Done } m_stage = Stage::BeforeShow;
};

}  // namespace forms
