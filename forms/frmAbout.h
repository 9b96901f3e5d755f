#pragma once

#include <QDialog>

namespace forms {

// The About window: title, picture and a fixed credits text. No behaviour of its own.
class frmAbout : public QDialog
{
    Q_OBJECT

public:
    explicit frmAbout(QWidget* owner);

    static const QString& AboutText();
};

}  // namespace forms
