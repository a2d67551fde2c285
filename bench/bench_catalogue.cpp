// Catalogue speed: listing the tables of a directory alias of 1,000, 10,000 and 100,000 files,
// against reading the directory's names alone.
#include "ratio.h"
#include "report/catalogue.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace {

void makeFiles(const QString& dir, int count) {
    QDir().mkpath(dir);
    const QByteArray base = QFile::encodeName(dir) + '/';
    for (int i = 0; i < count; ++i) {
        // Mostly table files, some other files, in both cases of extension.
        const char* ext = i % 4 == 0 ? ".DB" : i % 4 == 1 ? ".dbf" : i % 4 == 2 ? ".DBF" : ".txt";
        const QByteArray name = base + "T" + QByteArray::number(i).rightJustified(6, '0') + ext;
        const int fd = ::open(name.constData(), O_CREAT | O_WRONLY, 0644);
        if (fd >= 0)
            ::close(fd);
    }
}

// The floor: every name in the directory, nothing else.
std::size_t readNames(const QByteArray& dir) {
    std::size_t n = 0;
    if (DIR* d = ::opendir(dir.constData())) {
        while (dirent* e = ::readdir(d))
            n += e->d_name[0] != 0;
        ::closedir(d);
    }
    return n;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    QByteArray config;
    const int sizes[] = {1000, 10000, 100000};
    for (int size : sizes) {
        const QString sub = dir.filePath(QStringLiteral("tables%1").arg(size));
        makeFiles(sub, size);
        config +=
            "[BIG" + QByteArray::number(size) + "]\nTYPE=STANDARD\nPATH=" + QFile::encodeName(sub) + "\n";
    }
    const QString aliases = dir.filePath(QStringLiteral("aliases.ini"));
    QFile f(aliases);
    f.open(QIODevice::WriteOnly);
    f.write(config);
    f.close();
    qputenv("LEDGERWICK_ALIASES", QFile::encodeName(aliases));

    for (int size : sizes) {
        const std::string p = "catalogue/" + std::to_string(size) + "_files/";
        const QByteArray sub = QFile::encodeName(dir.filePath(QStringLiteral("tables%1").arg(size)));
        const QString alias = QStringLiteral("BIG%1").arg(size);
        lwbench::addCase(p + "floor_read_names", "", 0, [sub](benchmark::State& st) {
            for (auto _ : st)
                benchmark::DoNotOptimize(readNames(sub));
        });
        lwbench::addCase(p + "list_tables", p + "floor_read_names", 1.5, [alias](benchmark::State& st) {
            QStringList tables;
            for (auto _ : st) {
                lw::listTables(alias, tables);
                benchmark::DoNotOptimize(tables.size());
            }
        });
    }
    return lwbench::run(argc, argv);
}
