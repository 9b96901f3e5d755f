#include "frmAbout.h"

#include "Centring.h"
#include "Look.h"
#include "Twips.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QPlainTextEdit>

namespace forms {

QString frmAbout::AboutText(const QString& readme)
{
    return QStringLiteral("Cindral I Editor Snes9x\r\n"
                          "\r\n"
                          "Code:    the Cindral I Editor project\r\n"
                          "Offsets: the Cindral I Editor project\r\n"
                          "Cindral save-state editors, number I\r\n"
                          "\r\n"
                          "Edits the party in Snes9x save states, which\r\n"
                          "Unvell, our own decompressor, unpacks; thanks\r\n"
                          "to all who keep the emulator's format open.\r\n"
                          "%1\r\n"
                          "\r\n"
                          "The Cindral I Editor developers\r\n"
                          "https://cindral.github.io/editor/\r\n")
        .arg(readme);
}

QString frmAbout::readmePlace(const QString& programFolder)
{
    const QDir folder(programFolder);
    if (folder.exists(QStringLiteral("README.md")))
        return QStringLiteral("Help: README.md beside the program");
    QString installed =
        QDir::cleanPath(folder.filePath(QStringLiteral("../share/doc/cindral-editor/README.md")));
    if (!QFileInfo::exists(installed))
        return QStringLiteral("Help: README.md beside the program");
    const QString home = QDir::homePath();
    if (installed.startsWith(home + QLatin1Char('/')))
        installed = QLatin1Char('~') + installed.mid(home.size());
    const QString line = QStringLiteral("Help: ") + QDir::toNativeSeparators(installed);
    if (line.size() <= 48)
        return line;
    if (installed.size() <= 48)
        return QDir::toNativeSeparators(installed);
    return QStringLiteral("Help: share/doc/cindral-editor/README.md");
}

frmAbout::frmAbout(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                         Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                         Qt::MSWindowsFixedSizeDialogHint)
{
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("About Cindral I Editor 9x"));
    setWindowIcon(AboutIcon());
    setModal(true);
    setFixedSize(Px(5085), Px(3750));
    setAutoFillBackground(true);
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    black.setColor(QPalette::Base, Qt::black);
    black.setColor(QPalette::WindowText, Qt::white);
    black.setColor(QPalette::Text, Qt::white);
    setPalette(black);

    // Taller than the window: the bottom of the text box is cut off by the window's edge.
    auto* txtAbout = new QPlainTextEdit(this);
    txtAbout->setObjectName(QStringLiteral("txtAbout"));
    txtAbout->setGeometry(TwipRect(120, 840, 4935, 4455));
    txtAbout->setFont(AboutTextFont());
    txtAbout->setReadOnly(true);
    txtAbout->setFrameShape(QFrame::NoFrame);
    txtAbout->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    txtAbout->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    txtAbout->setLineWrapMode(QPlainTextEdit::NoWrap);
    txtAbout->setPlainText(AboutText(readmePlace(QCoreApplication::applicationDirPath())));

    auto* lblAbout = new QLabel(QStringLiteral("Cindral I Editor"), this);
    lblAbout->setObjectName(QStringLiteral("lblAbout"));
    lblAbout->setFont(AboutTitleFont());
    lblAbout->move(Px(120), 0);
    lblAbout->adjustSize();

    auto* imgAbout = new QLabel(this);
    imgAbout->setObjectName(QStringLiteral("imgAbout"));
    imgAbout->setGeometry(TwipRect(4560, 0, 480, 480));
    imgAbout->setScaledContents(true);
    imgAbout->setPixmap(AboutPicture());

    // Centred on its owner, frames counted on both sides.
    new FrameCentring(
        this,
        [this, owner] {
            return owner ? FrameRect(owner->window()) : screen()->availableGeometry();
        },
        owner ? owner->window() : nullptr);
}

}  // namespace forms
