// A second process for the profile store's tests: writes keys into a shared file, holds the file's
// lock until it is killed, or writes with a file-size limit that stands in for a full disk.
//   profile_writer write <file> <section> <key prefix> <count>
//   profile_writer hold <file>
//   profile_writer limited <file> <max bytes> <section> <key> <value length>
#include "platform/profile.h"
#include "platform/profile_lock.h"

#include <QCoreApplication>
#include <QThread>

#include <csignal>
#include <cstdio>
#include <sys/resource.h>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString mode = args.value(1);
    if (mode == QLatin1String("write") && args.size() == 6) {
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
        if (!lock.acquire(args.at(2), nullptr, 5000))
            return 1;
        std::printf("locked\n");
        std::fflush(stdout);
        for (;;)
            QThread::sleep(1);
    }
    if (mode == QLatin1String("limited") && args.size() == 7) {
        // Writing past the limit fails with EFBIG, as a full disk fails with ENOSPC.
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
    std::fprintf(stderr, "usage: profile_writer write <file> <section> <prefix> <count> | hold <file> | "
                         "limited <file> <max bytes> <section> <key> <value length>\n");
    return 2;
}
