#pragma once

// Centring a window's whole frame, title bar included, on an area (the screen, an owner).

#include <QElapsedTimer>
#include <QMargins>
#include <QObject>
#include <QRect>
#include <QTimer>

#include <functional>

class QWidget;

namespace forms {

// Centres the window's frame on area() when it is first shown, and again once a window
// manager has put its frame around it. Until then the frame's size is not known: the first
// centring borrows the frame of another window of the program (the owner's), as the window
// manager draws them alike, and the frame is then looked for until it is there, not only when
// an event happens to arrive: the frame's size can come after the last event of the showing.
// Once the frame is known, or when none comes (no window manager), a later move stays the
// user's.
class FrameCentring : public QObject
{
public:
    FrameCentring(QWidget* window, std::function<QRect()> area, QWidget* frameLike = nullptr);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool frameKnown() const;
    void centre();
    void lookForFrame();

    QWidget* m_window;
    QWidget* m_frameLike;  // a window whose frame this one's will look like, or none
    std::function<QRect()> m_area;
    QTimer m_look;
    QElapsedTimer m_since;
    enum class Stage { BeforeShow, AwaitingFrame, Done } m_stage = Stage::BeforeShow;
};

}  // namespace forms
