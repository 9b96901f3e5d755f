#include "Look.h"

#include <QBitmap>

// The pictures are compiled into this static library; they must be registered once by hand.
static void RegisterFormsResources()
{
    Q_INIT_RESOURCE(resources);
}

namespace forms {
namespace {

QPixmap Picture(const QString& resource)
{
    static const bool registered = (RegisterFormsResources(), true);
    (void)registered;
    return QPixmap(resource);
}

QFont Font(const QString& family, qreal points, QFont::Weight weight)
{
    QFont font(family);
    font.setPointSizeF(points);
    font.setWeight(weight);
    return font;
}

QPixmap Masked(const QString& resource)
{
    QPixmap pixmap = Picture(resource);
    pixmap.setMask(pixmap.createMaskFromColor(QColor(0, 255, 0)));
    return pixmap;
}

}  // namespace

void InstallFontSubstitutions()
{
    QFont::insertSubstitutions(QStringLiteral("Arial"),
                               {QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"),
                                QStringLiteral("DejaVu Sans")});
    QFont::insertSubstitutions(QStringLiteral("Courier New"),
                               {QStringLiteral("Liberation Mono"), QStringLiteral("Cousine"),
                                QStringLiteral("DejaVu Sans Mono")});
    QFont::insertSubstitutions(QStringLiteral("Haettenschweiler"),
                               {QStringLiteral("DejaVu Sans Condensed"),
                                QStringLiteral("Liberation Sans Narrow"),
                                QStringLiteral("Liberation Sans")});
}

QFont WindowFont()
{
    return Font(QStringLiteral("Arial"), 8.25, QFont::Normal);
}

QFont AboutTitleFont()
{
    QFont font = Font(QStringLiteral("Haettenschweiler"), 26.25, QFont::ExtraBold);
    font.setStretch(QFont::Condensed);
    return font;
}

QFont AboutTextFont()
{
    QFont font = Font(QStringLiteral("Courier New"), 8.25, QFont::Bold);
    font.setStyleHint(QFont::TypeWriter);
    return font;
}

QIcon EditorIcon()
{
    QIcon icon;
    icon.addPixmap(Masked(QStringLiteral(":/icons/cindral32.xpm")));
    icon.addPixmap(Masked(QStringLiteral(":/icons/cindral16.xpm")));
    return icon;
}

QIcon AboutIcon()
{
    // The About picture on black, at its own size and doubled.
    const QPixmap picture = AboutPicture();
    QIcon icon(picture);
    icon.addPixmap(picture.scaled(32, 32));
    return icon;
}

QIcon TabIcon(int slotNumber)
{
    return QIcon(Masked(QStringLiteral(":/icons/tab%1.xpm").arg(slotNumber)));
}

QPixmap AboutPicture()
{
    return Picture(QStringLiteral(":/icons/about16.xpm"));
}

}  // namespace forms
