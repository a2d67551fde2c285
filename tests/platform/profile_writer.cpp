// A second process for the profile store's tests: writes keys into a shared file, holds the file's
// lock until it is killed, writes with a file-size limit that stands in for a full disk (or that
// kills it in the middle of the write), or reads with hardly any memory to spare.
//   profile_writer write <file> <section> <key prefix> <count> [<file that lets it start>]
//   profile_writer hold <file>
//   profile_writer limited|killed <file> <max bytes> <section> <key> <value length>
//   profile_writer lowmem <file> <section> <key>
#include "platform/profile.h"
#include "platform/profile_lock.h"

#include <QCoreApplication>
#include <QFile>
#include <QThread>

#include <csignal>
#include <cstdio>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString mode = args.value(1);
    if (mode == QLatin1String("write") && (args.size() == 6 || args.size() == 7)) {
        // With a seventh argument, the writes start once that file exists, so that several
        // writers can be let go at the same moment.
        if (args.size() == 7) {
            while (!QFile::exists(args.at(6)))
                QThread::usleep(200);
        }
        lw::Profile profile(args.at(2));
        const int count = args.at(5).toInt();
        try {
            for (int i = 0; i < count; ++i)
                profile.writeString(args.at(3), args.at(4) + QString::number(i),
                                    QStringLiteral("value %1 of %2").arg(i).arg(args.at(4)));
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s\n", e.what());
            return 1;
        }
        return 0;
    }
    if (mode == QLatin1String("hold") && args.size() == 3) {
        lw::ProfileLock lock;
        if (lock.acquire(QFile::encodeName(args.at(2)), 5000) != lw::ProfileLock::Result::Locked)
            return 1;
        std::printf("locked\n");
        std::fflush(stdout);
        for (;;)
            QThread::sleep(1);
    }
    if ((mode == QLatin1String("limited") || mode == QLatin1String("killed")) && args.size() == 7) {
        // Writing past the limit fails with EFBIG, as a full disk fails with ENOSPC; or, with the
        // signal's default action, ends the process there and then.
        if (mode == QLatin1String("limited"))
            std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{rlim_t(args.at(3).toLongLong()), rlim_t(args.at(3).toLongLong())};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0)
            return 2;
        try {
            lw::Profile(args.at(2))
                .writeString(args.at(4), args.at(5), QString(args.at(6).toInt(), QLatin1Char('v')));
        } catch (const lw::ProfileWriteError& e) {
            std::printf("%s\n", e.what());
            return 3;
        }
        return 0;
    }
    if (mode == QLatin1String("lowmem") && args.size() == 5) {
        // Address space for what is mapped now and one mebibyte more.
        long pages = 0;
        if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
            if (std::fscanf(f, "%ld", &pages) != 1)
                pages = 0;
            std::fclose(f);
        }
        const rlim_t bytes = rlim_t(pages) * rlim_t(::sysconf(_SC_PAGESIZE)) + (1 << 20);
        const rlimit limit{bytes, bytes};
        if (pages == 0 || ::setrlimit(RLIMIT_AS, &limit) != 0)
            return 2;
        try {
            const QString value = lw::Profile(args.at(2)).readString(args.at(3), args.at(4), QString());
            std::printf("read %lld characters\n", static_cast<long long>(value.size()));
        } catch (const lw::ProfileReadError& e) {
            std::printf("%s\n", e.what());
            return 4;
        }
        return 0;
    }
    std::fprintf(
        stderr,
        "usage: profile_writer write <file> <section> <prefix> <count> | hold <file> | "
        "limited|killed <file> <max bytes> <section> <key> <value length> | lowmem <file> <section> <key>\n");
    return 2;
}
