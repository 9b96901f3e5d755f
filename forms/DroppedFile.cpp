#include "DroppedFile.h"

#include <QDir>
#include <QFileInfo>
#include <QMimeData>
#include <QUrl>

namespace forms {

using Process::ErrorKind;
using Process::Outcome;

bool CarriesFiles(const QMimeData* data)
{
    return data && data->hasUrls();
}

Process::Result<QString> DroppedStateFile(const QMimeData* data)
{
    const QList<QUrl> urls = data ? data->urls() : QList<QUrl>();
    if (urls.size() != 1)
        return Outcome::failure(ErrorKind::NotAState,
                                QObject::tr("Drop one state file at a time (this drop holds %n).",
                                            nullptr, int(urls.size())));
    const QUrl& url = urls.first();
    if (!url.isLocalFile())
        return Outcome::failure(ErrorKind::NotFound,
                                QObject::tr("%1 is not a file on this computer. Save it to a "
                                            "folder first, then load it from there.")
                                    .arg(url.toDisplayString()));
    const QString path = QDir::cleanPath(url.toLocalFile());
    if (QFileInfo(path).isDir())
        return Outcome::failure(ErrorKind::NotAState,
                                QObject::tr("%1 is a folder. Drop a state file from it instead.")
                                    .arg(QDir::toNativeSeparators(path)));
    return path;
}

}  // namespace forms
