#include "AltLetterGuard.h"

#include <QKeyEvent>
#include <QWidget>

namespace forms {
namespace {

class AltLetterFilter : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::KeyPress)
            return QObject::eventFilter(watched, event);
        const auto* key = static_cast<QKeyEvent*>(event);
        // Ctrl+Alt is AltGr on some keyboards, which types characters of its own.
        const Qt::KeyboardModifiers mods = key->modifiers();
        const bool alt = mods.testFlag(Qt::AltModifier) && !mods.testFlag(Qt::ControlModifier);
        const bool letter = !key->text().isEmpty() && key->text().front().isLetterOrNumber();
        return alt && letter;  // swallowed: the box types nothing
    }
};

}  // namespace

void RefuseAltLetters(QWidget* box)
{
    box->installEventFilter(new AltLetterFilter(box));
}

}  // namespace forms
