// The updater's log: every message Qt's logging lets through is written to standard error, as it
// always was, and appended to a per-user file that support can ask for.
//
// The file is "$XDG_STATE_HOME/zandro-updater/updater.log" ($XDG_STATE_HOME defaults to
// "~/.local/state"; a relative value is ignored). Lines have the same layout as on standard error,
// one message per line. Before a line would take the file past maxBytes it is rotated:
// "updater.log.1" becomes "updater.log.2" (the oldest is dropped), "updater.log" becomes
// "updater.log.1", and a new file is started, so the three files never hold more than three times
// the bound. The folder goes through Comm::makePrivateFolder: missing folders are made 0700, and
// a folder of the user's that others could enter is set back to 0700; a link, or a folder that
// is not the user's, leaves the updater on standard error only. In that folder the file must be
// a regular file of the user's with no other name (mode 0600): anything else found there (a
// link, a FIFO, another user's file) was planted while the folder was open, and is removed as a
// name and a new file started, with one warning line saying so. Links are never followed. A log
// that cannot be written never stops a pass.
//
// Control characters inside a message (below 0x20, 0x7f, the C1 controls, U+2028 and U+2029) are
// written as escapes such as "\n" or "\x1b", on standard error and in the file alike, so that a
// value from a catalogue or a server can never end its line and forge one of the updater's own;
// a single line end closing a message is kept.
//
// Which messages arrive is decided by Qt's logging rules before the handler runs: under
// QT_LOGGING_RULES="*.debug=false" debug lines reach neither place, so anything support must see
// (failures, refusals) is logged at warning level, and the first line of a pass at info level.
#ifndef UPDATER_SRC_UPDATERLOG_H
#define UPDATER_SRC_UPDATERLOG_H

#include <QByteArray>
#include <QString>
#include <QtGlobal>

class UpdaterLog
{
public:
    static constexpr qint64 DefaultMaxBytes = 1024 * 1024;

    // "$XDG_STATE_HOME/zandro-updater", or "~/.local/state/zandro-updater" when that variable is
    // unset, empty or not an absolute path.
    static QString defaultFolder();

    // Sets the updater's message pattern, opens the log in folder (making it when missing) and
    // routes every message through this log until it is destroyed. Requires: no other UpdaterLog
    // alive. When the file cannot be opened the messages still go to standard error.
    explicit UpdaterLog(const QString &folder = defaultFolder(), qint64 maxBytes = DefaultMaxBytes);
    // Puts the message handler that was there before back and closes the file.
    ~UpdaterLog();
    UpdaterLog(const UpdaterLog &) = delete;
    UpdaterLog &operator=(const UpdaterLog &) = delete;

    // True while the file is open for appending.
    bool isOpen() const;
    // The path of the current file ("<folder>/updater.log"), whether or not it could be opened.
    QString filePath() const;

    // Appends text and a newline to the file, rotating first when the file would pass the bound;
    // a text longer than the bound is cut to it. Does nothing when the file is not open.
    void append(const QByteArray &text);

    // Logs the first line of a pass at info level: "zandro-updater <version>, Qt <version>,
    // mode <mode>".
    static void logPassStart(const QString &mode);

    // Writes text as one bare line to standard error and, when a log is alive, as a critical
    // message of the caller's place to its file. For the few failures that must read the same to
    // a user at a terminal whatever the message pattern.
    static void reportToUser(const QString &text, const char *file = __builtin_FILE(),
                             int line = __builtin_LINE(),
                             const char *function = __builtin_FUNCTION());

private:
    static void handleMessage(QtMsgType type, const QMessageLogContext &context,
                              const QString &message);
    // Opens folder and file; returns the one warning to log once the handler is in place (the
    // folder or file refused, or a planted file replaced), empty when there is nothing to say.
    QString open();
    // Opens the file in the open folder; anything at the name that is not a regular file of
    // this user's alone is removed and a new file made. Returns what was wrong, empty if nothing.
    QString openFile();
    void rotate();
    void closeFile();
    void appendLocked(const QByteArray &text);

    QString m_folder;
    qint64 m_maxBytes;
    int m_folderFd;
    int m_fileFd;
    QtMessageHandler m_previousHandler;
};

#endif // UPDATER_SRC_UPDATERLOG_H
