// libFuzzer target over the table file readers: the input is a dBASE table (beside a memo file of
// each layout) or a Paradox table (beside a memo file), opened and read to the end. Anything but a
// DataError is a fault.
#include "data/tablefile.h"

#include <QByteArray>
#include <QDir>
#include <QFile>

#include <unistd.h>

#include <cstdlib>

namespace {

QString workDir() {
    static const QString dir = [] {
        const QString d = QDir::tempPath() + QStringLiteral("/lw-fuzz-%1").arg(::getpid());
        QDir().mkpath(d);
        // Kept for the exit handler, which runs after static objects are gone.
        static auto* const removeAtExit = new QString(d);
        std::atexit([] { QDir(*removeAtExit).removeRecursively(); });
        // Memo files for the tables to point into: a dBASE III/IV one and a FoxPro one.
        QByteArray dbt(512 * 4, '\0');
        dbt[20] = 0;
        dbt[21] = 2; // dBASE IV block size 512
        dbt.replace(512, 20, QByteArray("first memo\x1A\x1A", 12));
        dbt.replace(1024, 16, QByteArray("\xFF\xFF\x08\x00\x10\x00\x00\x00memo 4", 14));
        QByteArray fpt(512 + 64 * 2, '\0');
        fpt[7] = 64;
        fpt.replace(512, 14, QByteArray("\x00\x00\x00\x01\x00\x00\x00\x06memo f", 14));
        // Paradox: a header block, a block of small memos (entries 0 and 1), a block of one memo.
        QByteArray mb(4096 * 3, '\0');
        mb[4096] = 3;
        mb[4097] = 1;
        mb.replace(4096 + 12, 10, QByteArray("\x15\x01\x01\x00\x05\x16\x01\x01\x00\x0B", 10));
        mb.replace(4096 + 336, 5, "memo!");
        mb.replace(4096 + 352, 11, "second memo");
        mb.replace(8192, 9, QByteArray("\x02\x01\x00\x14\x00\x00\x00\x01\x00", 9));
        mb.replace(8192 + 9, 20, "a memo of its own...");
        for (const auto& [name, bytes] : {std::pair{QStringLiteral("/T.DBT"), dbt}, std::pair{QStringLiteral("/T.FPT"), fpt},
                                          std::pair{QStringLiteral("/T.MB"), mb}}) {
            QFile f(d + name);
            if (f.open(QIODevice::WriteOnly)) {
                f.write(bytes);
            }
        }
        return d;
    }();
    return dir;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString path = workDir() + QStringLiteral(LW_FUZZ_TABLE);
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            return 0;
        }
        f.write(reinterpret_cast<const char*>(data), qint64(size));
    }
    try {
        std::unique_ptr<lw::data::TableReader> reader = lw::data::openTableFile(path);
        lw::data::Record record;
        // Twice through, as a query over the virtual table would after rewinding.
        for (int pass = 0; pass < 2; ++pass) {
            reader->rewind();
            while (reader->advance()) {
                lw::data::readRecord(*reader, record);
                std::string text;
                for (int i = 0; i < int(reader->fields().size()); ++i) {
                    reader->textUtf8(i, text);
                }
            }
        }
    } catch (const lw::data::DataError&) {
    }
    return 0;
}
