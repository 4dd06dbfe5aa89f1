// Test isolation and log capture for the Qt tests.
#ifndef TESTS_SUPPORT_TESTENV_H
#define TESTS_SUPPORT_TESTENV_H

#include <QApplication>
#include <QMutex>
#include <QStringList>
#include <QTemporaryDir>
#include <QtTest>

namespace TestEnv {
// Points TMPDIR, XDG_CONFIG_HOME and XDG_STATE_HOME at a fresh private folder, before any
// settings, temp-path or log use, so the tests never touch the user's own files. Returns that
// folder.
QString isolate();
// The private folder made by isolate().
QString root();
// Writes bytes as the whole content of the file at path; true when all were written.
bool writeFile(const QString &path, const QByteArray &bytes);
// The whole content of the file at path, or "<missing>" when it cannot be opened.
QByteArray readFile(const QString &path);
// Runs a program to its end; its standard output goes to outFile when given. True when it
// exited normally with code 0; otherwise its standard error is logged as a warning.
bool run(const QString &program, const QStringList &args, const QString &outFile = QString());

// What a program printed and how it ended.
struct Captured
{
    int exitCode = -1; // -1 when it did not end normally within a minute
    QByteArray out;
    QByteArray err;
};
// Runs a program to its end and keeps its exit code and both of its outputs.
Captured capture(const QString &program, const QStringList &args);
} // namespace TestEnv

// Collects every message passed to Qt's message handler while it lives.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    QStringList lines() const;
    // How many captured lines contain the text.
    int count(const QString &text) const;
    void clear();

private:
    QtMessageHandler m_previous;
};

// Like QTEST_MAIN, with the process isolated before the application object is made.
#define ZANDRO_TEST_MAIN(TestObject)                                                               \
    int main(int argc, char *argv[])                                                               \
    {                                                                                              \
        TestEnv::isolate();                                                                        \
        QApplication app(argc, argv);                                                              \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                                   \
        TestObject tc;                                                                             \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&tc, argc, argv);                                                      \
    }

#endif // TESTS_SUPPORT_TESTENV_H
