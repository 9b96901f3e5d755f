#pragma once

// Centring a window's whole frame, title bar included, on an area (the screen, an owner).

#include <QObject>
#include <QRect>

#include <functional>

class QWidget;

namespace forms {

// Centres the window's frame on area() when it is first shown, and once more when a window
// manager has put its frame around it: until then the frame's size is not known, and a window
// centred without it sits half a title bar too high. The second step is dropped after a
// moment, so that a later move stays the user's.
class FrameCentring : public QObject
{
public:
    FrameCentring(QWidget* window, std::function<QRect()> area);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void centre();

    QWidget* m_window;
    std::function<QRect()> m_area;
    enum class Stage { BeforeShow, AwaitingFrame, Done } m_stage = Stage::BeforeShow;
};

}  // namespace forms
