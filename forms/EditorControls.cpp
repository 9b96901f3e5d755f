#include "EditorControls.h"

#include "NameCodec.h"

#include <QKeyEvent>

namespace forms {

QValidator::State Latin1Validator::validate(QString& input, int&) const
{
    return Process::IsLatin1(input) ? Acceptable : Invalid;
}

void GoldButton::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        animateClick();
        return;
    }
    QPushButton::keyPressEvent(event);
}

}  // namespace forms
