// Unpacking speed and memory: CKT_Fzip::Unzip2 beside `xz -d --format=lzma` on the same stream,
// and the cost of checking a package before unpacking it.
//
// Packages of 256 MiB and 1 GiB of mixed text and binary entries are made once with zandro-pack's
// fastest preset and kept in the cache folder. Each run times both programs as child processes,
// one after the other; Unzip2's child reports its own peak resident memory. Targets: Unzip2
// takes at most 1.2 times xz's wall time, and its peak memory stays within the LZMA dictionary
// plus 16 MiB, whatever the package size. Checking the package's minisign signature (BLAKE2b-512
// over the file) and its catalogue SHA-256 together take at most a tenth of Unzip2's time.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

#include "ktfzip.h"
#include "packageverifier.h"

extern char **environ;

namespace {
constexpr double MaxTimeRatio = 1.2;
constexpr double MaxVerifyRatio = 0.10;
constexpr qint64 MemorySlack = 16 << 20;
constexpr qint64 MiB = 1 << 20;

struct RunResult
{
    bool ok = false;
    double seconds = 0;
    qint64 peakBytes = 0; // filled in by the caller where the child reports it
};

// Starts the program with stdout sent to outFile (when given) and extra environment entries,
// waits for it and reports its wall time.
RunResult runChild(const QStringList &args, const QString &outFile, const QStringList &extraEnv)
{
    std::vector<QByteArray> storage;
    for (const QString &arg : args)
        storage.push_back(QFile::encodeName(arg));
    std::vector<char *> argv;
    for (QByteArray &arg : storage)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    std::vector<QByteArray> envStorage;
    for (const QString &entry : extraEnv)
        envStorage.push_back(entry.toLocal8Bit());
    std::vector<char *> envp;
    for (QByteArray &entry : envStorage)
        envp.push_back(entry.data());
    for (char **e = environ; *e; ++e)
        envp.push_back(*e);
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const QByteArray out = QFile::encodeName(outFile);
    if (!outFile.isEmpty())
        posix_spawn_file_actions_addopen(&actions, 1, out.constData(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
    RunResult result;
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return result;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid)
        return result;
    result.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    result.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return result;
}

// Text that compresses like documents, and binary that compresses like programs.
void fillSample(std::vector<char> &buffer, bool text, quint32 &state)
{
    static const char *const words[] = {"reader ",  "page ",   "annotation ", "font ",
                                        "stream\n", "xref ",   "object ",     "endobj\n",
                                        "glyph ",   "layout ", "render ",     "cache\n"};
    std::size_t at = 0;
    while (at < buffer.size()) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        if (text) {
            for (const char *w = words[state % 12]; *w && at < buffer.size(); ++w)
                buffer[at++] = *w;
        } else if (state % 4 == 0 && at >= 4096) {
            // A short copy from not far back, like repeated instruction sequences.
            const std::size_t from = at - 1 - (state >> 8) % 4096;
            const std::size_t length = 4 + (state >> 24) % 24;
            for (std::size_t k = 0; k < length && at < buffer.size(); ++k, ++at)
                buffer[at] = buffer[from + k];
        } else {
            buffer[at++] = char(state >> 11);
        }
    }
}

bool makeEntry(const QString &path, qint64 size, bool text, quint32 seed)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    std::vector<char> buffer(std::size_t(4 * MiB));
    quint32 state = seed * 2654435761u + 7;
    for (qint64 left = size; left > 0;) {
        fillSample(buffer, text, state);
        const qint64 n = std::min<qint64>(left, qint64(buffer.size()));
        if (file.write(buffer.data(), n) != n)
            return false;
        left -= n;
    }
    return true;
}

// Builds the package once; later runs find it in the cache.
bool ensurePackage(const QString &package, qint64 totalSize)
{
    if (QFile::exists(package))
        return true;
    std::printf("making %s (once, cached)...\n", qPrintable(package));
    std::fflush(stdout);
    const QString sources = package + ".sources";
    QDir().mkpath(sources);
    // Several entries of different sizes, alternating text and binary.
    const double shares[] = {0.30, 0.25, 0.18, 0.12, 0.09, 0.06};
    QStringList args{QStringLiteral(ZANDRO_PACK), "create", "--preset", "0", package + ".part"};
    qint64 used = 0;
    for (int i = 0; i < 6; ++i) {
        const qint64 size = i == 5 ? totalSize - used : qint64(double(totalSize) * shares[i]);
        used += size;
        const QString path = sources + QString("/entry%1.%2").arg(i).arg(i % 2 ? "bin" : "txt");
        if (!makeEntry(path, size, i % 2 == 0, quint32(i + 1)))
            return false;
        args << path;
    }
    const RunResult packed = runChild(args, QString(), {});
    QDir(sources).removeRecursively();
    // The first timing must not share the disk with the write-back of what was just made.
    runChild({"sync"}, QString(), {});
    return packed.ok && QFile::rename(package + ".part", package);
}

qint64 dictionarySize(const QByteArray &head)
{
    return qint64(quint8(head.at(29))) | qint64(quint8(head.at(30))) << 8 |
           qint64(quint8(head.at(31))) << 16 | qint64(quint8(head.at(32))) << 24;
}

// Copies the compressed part out of the package, for xz.
bool cutStream(const QString &package, const QString &stream, qint64 &dictionary)
{
    QFile in(package);
    QFile out(stream);
    if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const QByteArray head = in.read(CKT_Fzip::HeaderSize + 13);
    if (head.size() != CKT_Fzip::HeaderSize + 13)
        return false;
    dictionary = dictionarySize(head);
    qint64 left = qint64(quint8(head.at(16))) | qint64(quint8(head.at(17))) << 8 |
                  qint64(quint8(head.at(18))) << 16 | qint64(quint8(head.at(19))) << 24;
    in.seek(CKT_Fzip::HeaderSize);
    std::vector<char> buffer(std::size_t(4 * MiB));
    while (left > 0) {
        const qint64 got = in.read(buffer.data(), std::min<qint64>(left, qint64(buffer.size())));
        if (got <= 0 || out.write(buffer.data(), got) != got)
            return false;
        left -= got;
    }
    return true;
}

void dropMessages(QtMsgType, const QMessageLogContext &, const QString &) {}

int unzipChild(const QString &package)
{
    // Unzip2's debug lines would only mix into the figures.
    qInstallMessageHandler(dropMessages);
    const QString dest = QDir::tempPath() + "/ZandroQuillet/uncompress/";
    if (!QDir().mkpath(dest))
        return 3;
    CKT_Fzip fzip;
    const int result = fzip.Unzip2(package, dest);
    // The kernel's peak for this program image alone; the parent's wait4 figure would also
    // count the memory the parent had when it started the child.
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return 5;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            std::printf("%lld\n", line.mid(6).trimmed().split(' ').first().toLongLong() * 1024);
    }
    return result == 1 ? 0 : 4;
}

// What the download run does before unpacking: the signature check and the catalogue digest.
int verifyChild(const QString &package, const QString &signaturePath, const QString &publicKey)
{
    const PackageVerifier verifier({publicKey});
    QByteArray signature;
    QString reason;
    if (!PackageVerifier::readSignatureFile(signaturePath, &signature, &reason) ||
        !verifier.verify(package, signature, QStringLiteral("Bench"), QStringLiteral("1.0"),
                         &reason)) {
        std::fprintf(stderr, "%s\n", qPrintable(reason));
        return 4;
    }
    return PackageVerifier::sha256OfFile(package, &reason).isEmpty() ? 5 : 0;
}

// Signs the package with a key pair made for this run; false when minisign fails.
bool signPackage(const QString &package, const QString &work, QString &signature, QString &key)
{
    signature = work + "/package.minisig";
    if (!runChild({"minisign", "-G", "-W", "-p", work + "/bench.pub", "-s", work + "/bench.key"},
                  "/dev/null", {})
             .ok ||
        !runChild({"minisign", "-S", "-s", work + "/bench.key", "-m", package, "-x", signature,
                   "-t", "zandro-package name=\"Bench\" version=1.0"},
                  "/dev/null", {})
             .ok)
        return false;
    QFile pub(work + "/bench.pub");
    if (!pub.open(QIODevice::ReadOnly))
        return false;
    key = QString::fromLatin1(pub.readAll().split('\n').value(1));
    return true;
}

QString cacheFolder()
{
    const QByteArray xdg = qgetenv("XDG_CACHE_HOME");
    const QString base = xdg.isEmpty() ? QDir::homePath() + "/.cache" : QString::fromLocal8Bit(xdg);
    return base + "/zandro-bench";
}

bool benchOne(const QString &self, qint64 sizeMiB)
{
    const QString cache = cacheFolder();
    QDir().mkpath(cache);
    const QString package = cache + QString("/fzip-%1M.zup").arg(sizeMiB);
    if (!ensurePackage(package, sizeMiB * MiB)) {
        std::printf("cannot make %s\n", qPrintable(package));
        return false;
    }
    const QString work = cache + "/fzip-work";
    QDir(work).removeRecursively();
    QDir().mkpath(work);
    qint64 dictionary = 0;
    const QString stream = work + "/stream.lzma";
    if (!cutStream(package, stream, dictionary))
        return false;
    // Both readers start with the package and the stream in the page cache.
    runChild({"cat", package, stream}, "/dev/null", {});

    const RunResult xz = runChild({"xz", "-d", "--format=lzma", "-c", stream}, work + "/xz.out", {});
    QFile::remove(work + "/xz.out");
    RunResult unzip = runChild({self, "--unzip", package}, work + "/peak", {"TMPDIR=" + work});
    QFile peak(work + "/peak");
    unzip.peakBytes = peak.open(QIODevice::ReadOnly) ? peak.readAll().trimmed().toLongLong() : 0;
    QString signature;
    QString key;
    RunResult verify;
    if (signPackage(package, work, signature, key)) {
        runChild({"cat", package}, "/dev/null", {});
        verify = runChild({self, "--verify", package, signature, key}, QString(), {});
    }
    QDir(work).removeRecursively();
    if (!xz.ok || !unzip.ok || !verify.ok) {
        std::printf("%lld MiB: a run failed (xz %d, Unzip2 %d, verify %d)\n", sizeMiB, xz.ok,
                    unzip.ok, verify.ok);
        return false;
    }

    const double ratio = unzip.seconds / xz.seconds;
    const qint64 memoryLimit = dictionary + MemorySlack;
    const bool timeOk = ratio <= MaxTimeRatio;
    const bool memoryOk = unzip.peakBytes <= memoryLimit;
    std::printf("%5lld MiB  xz -d %7.2f s  Unzip2 %7.2f s  ratio %.3f (limit %.1f) %s\n", sizeMiB,
                xz.seconds, unzip.seconds, ratio, MaxTimeRatio, timeOk ? "ok" : "TOO SLOW");
    std::printf("           Unzip2 peak memory %.1f MiB, limit %.1f MiB "
                "(dictionary %.2f MiB + 16 MiB) %s\n",
                double(unzip.peakBytes) / MiB,
                double(memoryLimit) / MiB, double(dictionary) / MiB,
                memoryOk ? "ok" : "TOO LARGE");
    const double verifyRatio = verify.seconds / unzip.seconds;
    const bool verifyOk = verifyRatio <= MaxVerifyRatio;
    std::printf("%5lld MiB  Unzip2 %7.2f s  verify %7.2f s  ratio %.3f (limit %.2f) %s\n",
                sizeMiB, unzip.seconds, verify.seconds, verifyRatio, MaxVerifyRatio,
                verifyOk ? "ok" : "TOO SLOW");
    std::fflush(stdout);
    return timeOk && memoryOk && verifyOk;
}
} // namespace

int main(int argc, char *argv[])
{
    if (argc == 3 && QByteArray(argv[1]) == "--unzip")
        return unzipChild(QFile::decodeName(argv[2]));
    if (argc == 5 && QByteArray(argv[1]) == "--verify")
        return verifyChild(QFile::decodeName(argv[2]), QFile::decodeName(argv[3]),
                           QString::fromLatin1(argv[4]));
    QList<qint64> sizes{256, 1024};
    if (argc == 3 && QByteArray(argv[1]) == "--sizes") {
        sizes.clear();
        for (const QByteArray &size : QByteArray(argv[2]).split(','))
            sizes << size.toLongLong();
    } else if (argc != 1) {
        std::fprintf(stderr, "usage: %s [--sizes MiB[,MiB...]]\n", argv[0]);
        return 2;
    }
    for (const char *program : {"xz", "minisign"}) {
        if (QStandardPaths::findExecutable(program).isEmpty()) {
            std::fprintf(stderr, "%s is needed\n", program);
            return 2;
        }
    }
#ifndef NDEBUG
    std::printf("warning: built without NDEBUG; time figures need -DCMAKE_BUILD_TYPE=Release\n");
#endif
    bool allOk = true;
    const QString self = QFileInfo("/proc/self/exe").symLinkTarget();
    for (qint64 size : sizes)
        allOk = benchOne(self, size) && allOk;
    std::printf("%s\n", allOk ? "all targets met" : "TARGETS MISSED");
    return allOk ? 0 : 1;
}
