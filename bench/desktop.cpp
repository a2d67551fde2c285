// What the benchmarks that build real windows share: a throwaway per-user environment on the
// offscreen platform, running the event loop until it has nothing left to do, and resident memory.
#include "desktop.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace lwbench {

QString useThrowawayDesktop() {
    static QTemporaryDir home;
    const QString path = home.path();
    for (const char* sub : {"config", "runtime", "data", "cache"})
        QDir().mkpath(path + QLatin1Char('/') + QLatin1String(sub));
    ::chmod(QFile::encodeName(path + QStringLiteral("/runtime")).constData(), 0700);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("HOME", QFile::encodeName(path));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(path + QStringLiteral("/config")));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(path + QStringLiteral("/runtime")));
    qputenv("XDG_DATA_HOME", QFile::encodeName(path + QStringLiteral("/data")));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(path + QStringLiteral("/cache")));
    qunsetenv("LEDGERWICK_ALIASES");
    return path;
}

void processUntilIdle() {
    QEventLoop loop;
    const QMetaObject::Connection c =
        QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, &loop,
                         &QEventLoop::quit, Qt::DirectConnection);
    loop.exec();
    QObject::disconnect(c);
    // Deferred deletes are only delivered by the loop that was running when they were asked for.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

double residentBytes() {
    long size = 0;
    long resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &size, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return double(resident) * double(::sysconf(_SC_PAGESIZE));
}

} // namespace lwbench
