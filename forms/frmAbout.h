#pragma once

#include <QDialog>

namespace forms {

// The About window: title, picture and a fixed credits text. No behaviour of its own.
class frmAbout : public QDialog
{
    Q_OBJECT

public:
    explicit frmAbout(QWidget* owner);

    // Thirteen lines of at most 48 characters, each ending in CR LF; `readme` says where the
    // user's README is (line 10).
    static QString
    AboutText(const QString& readme = QStringLiteral("Help: README.md beside the program"));
    // Where the user's README is for a program in `programFolder`: beside it (the portable
    // folder) or in the install's share/doc folder.
    static QString readmePlace(const QString& programFolder);
};

}  // namespace forms
