// Catalogue speed: listing the tables of a directory alias of 1,000 to 1,000,000 files, with short
// names and with names that share a long beginning, against reading the directory's names alone.
#include "ratio.h"
#include "data/catalogue.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace {

// One directory of the benchmark: how many files, and how their names begin.
struct Shape {
    const char* key;    // in the case names
    int count;          // files
    const char* prefix; // what every name begins with
    int digits;         // the number after it
};

// Short names that differ within their first eight bytes ("T000123.DB"), the common case, and names
// that share a long beginning, as a program that writes its tables with a fixed prefix makes them
// ("CUSTOMER_ORDERS_2024_0000123.DB"): there the first bytes tell no two names apart.
const Shape kShapes[] = {
    {"1000_files", 1000, "T", 6},
    {"10000_files", 10000, "T", 6},
    {"100000_files", 100000, "T", 6},
    {"100000_files_long_prefix", 100000, "CUSTOMER_ORDERS_2024_", 7},
    {"1000000_files_long_prefix", 1000000, "CUSTOMER_ORDERS_2024_", 7},
};

void makeFiles(const QString& dir, const Shape& shape) {
    QDir().mkpath(dir);
    const QByteArray base = QFile::encodeName(dir) + '/' + shape.prefix;
    for (int i = 0; i < shape.count; ++i) {
        // Mostly table files, some other files, in both cases of extension.
        const char* ext = i % 4 == 0 ? ".DB" : i % 4 == 1 ? ".dbf" : i % 4 == 2 ? ".DBF" : ".txt";
        const QByteArray name = base + QByteArray::number(i).rightJustified(shape.digits, '0') + ext;
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
    for (const Shape& shape : kShapes) {
        const QString sub = dir.filePath(QString::fromLatin1(shape.key));
        makeFiles(sub, shape);
        config += QByteArray("[") + shape.key + "]\nTYPE=STANDARD\nPATH=" + QFile::encodeName(sub) + "\n";
    }
    const QString aliases = dir.filePath(QStringLiteral("aliases.ini"));
    QFile f(aliases);
    f.open(QIODevice::WriteOnly);
    f.write(config);
    f.close();
    qputenv("LEDGERWICK_ALIASES", QFile::encodeName(aliases));

    for (const Shape& shape : kShapes) {
        const std::string p = std::string("catalogue/") + shape.key + "/";
        const QByteArray sub = QFile::encodeName(dir.filePath(QString::fromLatin1(shape.key)));
        const QString alias = QString::fromLatin1(shape.key);
        const bool big = shape.count >= 1000000;
        auto* floor = lwbench::addCase(p + "floor_read_names", "", 0, [sub](benchmark::State& st) {
            for (auto _ : st)
                benchmark::DoNotOptimize(readNames(sub));
        });
        auto* listing = lwbench::addCase(p + "list_tables", p + "floor_read_names",
                                         shape.prefix[1] ? 1.3 : 1.5, [alias](benchmark::State& st) {
                                             QStringList tables;
                                             for (auto _ : st) {
                                                 lw::listTables(alias, tables);
                                                 benchmark::DoNotOptimize(tables.size());
                                             }
                                         });
        // A million names take a few tenths of a second: one listing per repetition is enough.
        if (big) {
            floor->Iterations(1);
            listing->Iterations(1);
        }
    }
    return lwbench::run(argc, argv);
}
