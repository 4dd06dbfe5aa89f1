#include "fuzz_support.h"

#include <cstdio>
#include <cstdlib>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtGlobal>

namespace FuzzSupport {
namespace {
QString g_scratch;

void dropMessage(QtMsgType, const QMessageLogContext &, const QString &) {}
} // namespace

QString setUpScratch(const char *name)
{
    QByteArray pattern = QByteArray("/tmp/zandro-fuzz-") + name + "-XXXXXX";
    if (!mkdtemp(pattern.data())) {
        std::perror("mkdtemp");
        std::abort();
    }
    g_scratch = QString::fromLocal8Bit(pattern);
    setenv("TMPDIR", pattern.constData(), 1);
    qInstallMessageHandler(dropMessage);
    // The folder goes when the run ends normally; a crash leaves it for inspection.
    std::atexit([] { QDir(g_scratch).removeRecursively(); });
    return g_scratch;
}

const QString &scratch()
{
    return g_scratch;
}

void writeFile(const QString &path, const std::uint8_t *data, std::size_t size)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(reinterpret_cast<const char *>(data), static_cast<qint64>(size)) !=
            static_cast<qint64>(size)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        std::abort();
    }
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    writeFile(path, reinterpret_cast<const std::uint8_t *>(bytes.constData()),
              static_cast<std::size_t>(bytes.size()));
}

void emptyFolder(const QString &folder)
{
    const QFileInfoList entries =
        QDir(folder).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo &entry : entries) {
        if (entry.isDir() && !entry.isSymLink())
            QDir(entry.absoluteFilePath()).removeRecursively();
        else
            QFile::remove(entry.absoluteFilePath());
    }
}

} // namespace FuzzSupport
