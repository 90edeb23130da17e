// Encrypts a file file-to-file with TBlowFish (ECB, as the program does) and
// with `openssl enc -bf-ecb -nopad` on the same file in the same run, prints
// both throughputs, checks that the outputs are identical and reports the
// bench's peak memory before and after (flat: one piece buffer).
//
// usage: bench_crypto [MEGABYTES=100] [DIRECTORY=$TMPDIR] [RUNS=3]
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>

#include <chrono>
#include <cstdio>
#include <sys/resource.h>

#include "crypto/blowfish.h"

namespace {

const QString kPhrase = QStringLiteral("bench pass word!"); // 16 bytes, openssl's bf key size

double seconds(std::chrono::steady_clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

long peakKb(int who)
{
    rusage u{};
    getrusage(who, &u);
    return u.ru_maxrss;
}

bool sameFiles(const QString& a, const QString& b)
{
    QFile fa(a), fb(b);
    if (!fa.open(QIODevice::ReadOnly) || !fb.open(QIODevice::ReadOnly) || fa.size() != fb.size())
        return false;
    while (!fa.atEnd())
        if (fa.read(1 << 20) != fb.read(1 << 20))
            return false;
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const qint64 megabytes = args.size() > 1 ? args[1].toLongLong() : 100;
    const QString dir = args.size() > 2 ? args[2] : QDir::tempPath();
    const int runs = args.size() > 3 ? args[3].toInt() : 3;
    const QString plain = dir + "/bench_crypto.bin";
    const QString ours = dir + "/bench_crypto.ecf";
    const QString theirs = dir + "/bench_crypto.openssl";

    {
        QFile f(plain);
        if (!f.open(QIODevice::WriteOnly)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(plain));
            return 1;
        }
        QRandomGenerator gen(2026);
        QByteArray chunk(1 << 20, Qt::Uninitialized);
        for (qint64 i = 0; i < megabytes; ++i) {
            gen.fillRange(reinterpret_cast<quint32*>(chunk.data()), chunk.size() / 4);
            f.write(chunk);
        }
    }
    const double mb = double(megabytes * (1 << 20)) / 1e6;
    const long rssBefore = peakKb(RUSAGE_SELF);

    double bestOurs = 1e9, bestTheirs = 1e9;
    const QString hexKey = QString::fromLatin1(kPhrase.toLatin1().toHex());
    for (int run = 0; run < runs; ++run) {
        auto t0 = std::chrono::steady_clock::now();
        try {
            ravelin::crypto::encryptFile(plain, ours, kPhrase);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "TBlowFish failed: %s\n", e.what());
            return 1;
        }
        bestOurs = std::min(bestOurs, seconds(std::chrono::steady_clock::now() - t0));

        t0 = std::chrono::steady_clock::now();
        QProcess openssl;
        openssl.start("openssl", {"enc", "-provider", "legacy", "-provider", "default", "-bf-ecb", "-nopad",
                                  "-K", hexKey, "-in", plain, "-out", theirs});
        if (!openssl.waitForFinished(600000) || openssl.exitCode() != 0) {
            std::fprintf(stderr, "openssl failed: %s\n", openssl.readAllStandardError().constData());
            return 1;
        }
        bestTheirs = std::min(bestTheirs, seconds(std::chrono::steady_clock::now() - t0));
    }
    const long rssAfter = peakKb(RUSAGE_SELF);
    const bool same = sameFiles(ours, theirs);

    std::printf("file size              %lld MiB (%.1f MB), best of %d runs\n",
                static_cast<long long>(megabytes), mb, runs);
    std::printf("TBlowFish file to file %8.1f MB/s  (%.3f s)\n", mb / bestOurs, bestOurs);
    std::printf("openssl enc -bf-ecb    %8.1f MB/s  (%.3f s)\n", mb / bestTheirs, bestTheirs);
    std::printf("ratio                  %8.2f x openssl\n", bestTheirs / bestOurs);
    std::printf("outputs identical      %s\n", same ? "yes" : "NO");
    // The peak grows by the one piece buffer of the file loop, whatever the size.
    std::printf("peak RSS               %ld KiB before, %ld KiB after (+%ld KiB for %lld MiB)\n", rssBefore,
                rssAfter, rssAfter - rssBefore, static_cast<long long>(megabytes));
    QFile::remove(plain);
    QFile::remove(ours);
    QFile::remove(theirs);
    return same ? 0 : 1;
}
