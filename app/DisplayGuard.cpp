#include "DisplayGuard.h"

#include "RunningProgram.h"

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <cstdlib>

namespace app {
namespace {

QtMessageHandler g_previous = nullptr;
struct Held {
    QtMsgType type;
    QString message;
};
QList<Held>* g_held = nullptr;

void WhileOpening(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type != QtFatalMsg) {
        // The context's strings live only as long as this call: the text is what is kept.
        Q_UNUSED(context);
        g_held->append({type, message});
        return;
    }
    // The first thing Qt said is the cause (no connection, no plugin); the fatal message is
    // only its advice.
    QString reason =
        g_held->isEmpty() ? message.section(QLatin1Char('\n'), 0, 0) : g_held->first().message;
    reason = reason.simplified();
    QString hint;
    if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        hint = QStringLiteral(" (on Wayland, the package qt6-wayland provides Qt's Wayland "
                              "plugin; QT_QPA_PLATFORM=xcb uses X11 instead)");
    platform::TellUser("cindral-editor: cannot open the display: " + reason.toStdString() +
                           hint.toStdString() + "\n",
                       true);
    std::_Exit(EXIT_FAILURE);
}

}  // namespace

DisplayGuard::DisplayGuard()
{
    g_held = new QList<Held>;
    g_previous = qInstallMessageHandler(WhileOpening);
}

DisplayGuard::~DisplayGuard()
{
    qInstallMessageHandler(g_previous);
    const QMessageLogContext context;
    for (const Held& held : *g_held)
        qt_message_output(held.type, context, held.message);
    delete g_held;
    g_held = nullptr;
}

}  // namespace app
