// Whether the windowing platform Qt is about to load can open a display. Qt itself aborts the
// process (signal 6) when it cannot, so the updater asks first and fails with a readable line.
#ifndef UPDATER_SRC_STARTUPDISPLAY_H
#define UPDATER_SRC_STARTUPDISPLAY_H

#include <QString>
#include <QStringList>

// The line written when no display can be opened.
extern const char NoDisplayMessage[];

// The platforms Qt would try, in order: the value of "-platform NAME" among the arguments, else
// QT_QPA_PLATFORM, else "xcb"; a value may list several, separated by ';'. Plugin options after
// ':' are dropped.
QStringList requestedPlatforms(const QStringList &arguments);

// The X display named by "-display NAME" among the arguments, which Qt prefers to DISPLAY; empty
// when there is none.
QString requestedXDisplay(const QStringList &arguments);

// True when one of the platforms can start: "xcb" when the X server named by xDisplay (when not
// empty) or else by DISPLAY accepts a connection (a refusal is asked again for about 1 s, so a
// server in the middle of a reset is not taken for none), "wayland" when the compositor's socket
// (WAYLAND_DISPLAY, default "wayland-0", under XDG_RUNTIME_DIR) accepts one; every other platform
// (offscreen, minimal, vnc, linuxfb, ...) needs no display and counts as able to start. A
// successful "xcb" check keeps its connection open until releaseDisplayCheck().
bool displayAvailable(const QStringList &platforms, const QString &xDisplay = QString());

// Closes the X connection a successful check keeps open. Call it once Qt has connected: until
// then the held connection stops a server that resets on its last client from resetting.
void releaseDisplayCheck();

// Lets Qt scale the whole interface by the screen's factor (from Xft.dpi, QT_FONT_DPI,
// QT_SCALE_FACTOR or QT_SCREEN_SCALE_FACTORS), so the fixed window sizes, the margins, the images
// and the 12-pixel font all grow together: sizes are then device-independent pixels. Without it
// a DPI of 192 doubles only what is measured in points (icons, margins) while pixel-sized text
// stays small. Requires: called before the QApplication is made.
void enableHighDpiScaling();

#endif // UPDATER_SRC_STARTUPDISPLAY_H
