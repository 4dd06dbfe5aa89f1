#include "xvfbserver.h"

XvfbServer::XvfbServer(const QString &screen)
{
    // -displayfd writes the display number it chose to the given descriptor: here stdout.
    m_process.start(QStringLiteral("Xvfb"), {"-displayfd", "1", "-nolisten", "tcp", "-screen",
                                             "0", screen});
    if (!m_process.waitForStarted(10000))
        return;
    while (!m_process.canReadLine() && m_process.waitForReadyRead(10000)) {
    }
    const QByteArray number = m_process.readLine().trimmed();
    if (!number.isEmpty())
        m_name = ":" + number;
}

XvfbServer::~XvfbServer()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    m_process.waitForFinished(10000);
}
