#pragma once

// The editor window's small controls of its own: what a stock control does not do as the
// window needs.

#include <QPushButton>
#include <QValidator>

namespace forms {

// The name box takes one byte per character: anything beyond Latin-1 is refused as typed.
class Latin1Validator : public QValidator
{
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override;
};

// The gold button takes Enter as well as Space while it has the focus; a plain push button
// outside a dialog takes only Space.
class GoldButton : public QPushButton
{
public:
    using QPushButton::QPushButton;

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

}  // namespace forms
