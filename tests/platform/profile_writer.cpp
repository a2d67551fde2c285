// A second process for the profile store's tests: writes keys into a shared file, or holds the
// file's lock until it is killed.
//   profile_writer write <file> <section> <key prefix> <count>
//   profile_writer hold <file>
#include "platform/profile.h"

#include <QCoreApplication>
#include <QLockFile>
#include <QThread>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 6 && args.at(1) == QLatin1String("write")) {
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
    if (args.size() == 3 && args.at(1) == QLatin1String("hold")) {
        QLockFile lock(args.at(2) + QStringLiteral(".lock"));
        if (!lock.tryLock(5000))
            return 1;
        std::printf("locked\n");
        std::fflush(stdout);
        for (;;)
            QThread::sleep(1);
    }
    std::fprintf(stderr, "usage: profile_writer write <file> <section> <prefix> <count> | hold <file>\n");
    return 2;
}
