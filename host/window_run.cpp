#include "host/window_run.h"

#include <QApplication>
#include <QDialog>
#include <QPixmap>
#include <QScreen>
#include <QWidget>

namespace host {

void EndRun(int code)
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* dialog = qobject_cast<QDialog*>(w); dialog && dialog->isVisible())
            dialog->reject();
    QApplication::exit(code);
}

bool SaveScreenshot(QWidget& window, bool offscreen, const std::string& path)
{
    QPixmap shot;
    if (!offscreen && window.screen())
        shot = window.screen()->grabWindow(window.winId());
    if (shot.isNull())
        shot = window.grab();
    return shot.save(QString::fromStdString(path));
}

} // namespace host
