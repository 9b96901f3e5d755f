#include "WideValueHint.h"

#include <QLineEdit>
#include <QStyle>
#include <QStyleOptionFrame>

namespace forms {
namespace {

// The line edit keeps a margin of its own on each side inside its contents rectangle.
constexpr int kLineEditMargin = 2;

bool IsWiderThanBox(const QLineEdit* box)
{
    QStyleOptionFrame option;
    option.initFrom(box);
    option.lineWidth =
        box->hasFrame() ? box->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, box) : 0;
    const QRect contents = box->style()->subElementRect(QStyle::SE_LineEditContents, &option, box) -
                           box->textMargins();
    return box->fontMetrics().horizontalAdvance(box->text()) >
           contents.width() - 2 * kLineEditMargin;
}

void Update(QLineEdit* box)
{
    const QString whole = IsWiderThanBox(box) ? box->text() : QString();
    box->setToolTip(whole);
    box->setAccessibleDescription(whole);
}

}  // namespace

void ShowWideValues(QLineEdit* box)
{
    QObject::connect(box, &QLineEdit::textChanged, box, [box] { Update(box); });
    Update(box);
}

}  // namespace forms
