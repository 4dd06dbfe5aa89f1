#include "updatedefine.h"

#include <QApplication>
#include <QDesktopWidget>
#include <QWidget>

void Comm::moveToDesktopCentre(QWidget *window)
{
    // The desktop widget spans every screen, so on several monitors the window lands in the
    // middle of their union, not of the primary screen.
    const QRect desktop = QApplication::desktop()->geometry();
    window->move((desktop.width() - window->width()) / 2,
                 (desktop.height() - window->height()) / 2);
}
