// Profile store speed: reads and writes on files of several sizes and line endings, against the
// floor (one whole-file read; one atomic whole-file write) and QSettings re-reading the file.
#include "platform/profile.h"
#include "ratio.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QSaveFile>
#include <QSettings>
#include <QTemporaryDir>

#include <cstdio>

namespace {

struct Shape {
    const char* label;
    int keys;
    bool crlf;
};

// Sections of 50 keys each; lines of about 32 bytes, so 2,000 keys make about 64 KB.
QByteArray makeProfile(int keys, bool crlf) {
    const QByteArray eol = crlf ? "\r\n" : "\n";
    QByteArray out;
    out.reserve(keys * 36);
    for (int i = 0; i < keys; ++i) {
        if (i % 50 == 0)
            out += "[Section" + QByteArray::number(i / 50) + "]" + eol;
        out += "Key" + QByteArray::number(i).rightJustified(6, '0') + "=value of key " +
               QByteArray::number(i).rightJustified(6, '0') + eol;
    }
    return out;
}

QString sectionOf(int i) {
    return QStringLiteral("Section%1").arg(i / 50);
}
QString keyOf(int i) {
    return QStringLiteral("Key%1").arg(i, 6, 10, QLatin1Char('0'));
}

void reset(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write(bytes);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const Shape shapes[] = {{"2KB", 50, false},       {"2KB_crlf", 50, true},       {"64KB", 2000, false},
                            {"64KB_crlf", 2000, true}, {"1MB", 31000, false}, {"1MB_crlf", 31000, true}};
    for (const Shape& s : shapes) {
        const QString path = dir.filePath(QString::fromLatin1(s.label) + QStringLiteral(".ini"));
        const QByteArray bytes = makeProfile(s.keys, s.crlf);
        const std::string p = std::string("profile/") + s.label + "/";
        const int last = s.keys - 1;

        lwbench::addCase(p + "floor_read_whole_file", "", 0, [path, bytes](benchmark::State& st) {
            reset(path, bytes);
            for (auto _ : st) {
                QFile f(path);
                f.open(QIODevice::ReadOnly);
                benchmark::DoNotOptimize(f.readAll());
            }
        });
        lwbench::addCase(p + "floor_atomic_write_whole_file", "", 0, [path, bytes](benchmark::State& st) {
            for (auto _ : st) {
                QSaveFile f(path);
                f.open(QIODevice::WriteOnly);
                f.write(bytes);
                f.commit();
            }
        });
        auto read = [path, bytes](QString section, QString key) {
            return [path, bytes, section, key](benchmark::State& st) {
                reset(path, bytes);
                lw::Profile profile(path);
                for (auto _ : st)
                    benchmark::DoNotOptimize(profile.readString(section, key, QString()));
            };
        };
        auto qsettingsRead = [path, bytes](QString section, QString key) {
            return [path, bytes, section, key](benchmark::State& st) {
                reset(path, bytes);
                QFile file(path);
                QDateTime stamp = QDateTime::currentDateTime();
                for (auto _ : st) {
                    // QSettings keeps parsed files in a process-wide cache checked by time stamp:
                    // a new time stamp makes it read and parse the file again, as a fresh process would.
                    st.PauseTiming();
                    stamp = stamp.addSecs(1);
                    file.setFileTime(stamp, QFileDevice::FileModificationTime);
                    st.ResumeTiming();
                    QSettings settings(path, QSettings::IniFormat);
                    benchmark::DoNotOptimize(settings.value(section + QLatin1Char('/') + key));
                }
            };
        };
        const std::string floorRead = p + "floor_read_whole_file";
        const std::string floorWrite = p + "floor_atomic_write_whole_file";
        lwbench::addCase(p + "read_first_key", floorRead, 1.5, read(sectionOf(0), keyOf(0)));
        lwbench::addCase(p + "read_last_key", floorRead, 1.5, read(sectionOf(last), keyOf(last)));
        lwbench::addCase(p + "read_missing_key", floorRead, 1.5, read(QStringLiteral("Nowhere"), QStringLiteral("Nothing")));
        lwbench::addCase(p + "qsettings_read_first_key", floorRead, 0, qsettingsRead(sectionOf(0), keyOf(0)));
        lwbench::addCase(p + "qsettings_read_last_key", floorRead, 0, qsettingsRead(sectionOf(last), keyOf(last)));
        lwbench::addCase(p + "overwrite_key", floorWrite, 2.0, [path, bytes, s](benchmark::State& st) {
            reset(path, bytes);
            lw::Profile profile(path);
            int n = 0;
            for (auto _ : st)
                profile.writeString(sectionOf(s.keys / 2), keyOf(s.keys / 2), (n++ & 1) ? QStringLiteral("one")
                                                                                        : QStringLiteral("two"));
        });
        lwbench::addCase(p + "add_key", floorWrite, 2.0, [path, bytes](benchmark::State& st) {
            reset(path, bytes);
            lw::Profile profile(path);
            int n = 0;
            for (auto _ : st)
                profile.writeString(QStringLiteral("Added"), QStringLiteral("New%1").arg(n++), QStringLiteral("x"));
        });
    }
    return lwbench::run(argc, argv);
}
