#include "xvfbserver.h"

XvfbServer::XvfbServer(const QString &screen, Reset reset)
{
    // -displayfd writes the display number it chose to the given descriptor: here stdout.
    QStringList arguments{"-displayfd", "1", "-nolisten", "tcp", "-screen", "0", screen};
    if (reset == Reset::Never)
        arguments << QStringLiteral("-noreset");
    m_process.start(QStringLiteral("Xvfb"), arguments);
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
