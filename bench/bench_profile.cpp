// Profile store speed: reads and writes on files of several sizes and line endings, against the
// floor (one whole-file read; one atomic whole-file write) and QSettings re-reading the file.
#include "floor.h"
#include "platform/profile.h"
#include "ratio.h"

#include <QCoreApplication>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/stat.h>

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

// QSettings keeps parsed files in a process-wide cache checked by size and time stamp: a new time
// stamp makes it read and parse the file again, as a fresh process would.
void touch(const QByteArray& path, long seconds) {
    const timespec times[2] = {{seconds, 0}, {seconds, 0}};
    ::utimensat(AT_FDCWD, path.constData(), times, 0);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const Shape shapes[] = {{"2KB", 50, false},        {"2KB_crlf", 50, true}, {"64KB", 2000, false},
                            {"64KB_crlf", 2000, true}, {"1MB", 31000, false},  {"1MB_crlf", 31000, true}};
    for (const Shape& s : shapes) {
        const QString path = dir.filePath(QString::fromLatin1(s.label) + QStringLiteral(".ini"));
        const QByteArray native = QFile::encodeName(path);
        const QByteArray bytes = makeProfile(s.keys, s.crlf);
        const std::string p = std::string("profile/") + s.label + "/";
        const std::string floorRead = p + "floor_read_whole_file";
        const std::string floorWrite = p + "floor_atomic_write_whole_file";
        const int last = s.keys - 1;

        lwbench::addCase(floorRead, "", 0, [native, bytes](benchmark::State& st) {
            lwbench::resetFile(native, bytes);
            for (auto _ : st)
                benchmark::DoNotOptimize(lwbench::floorReadWholeFile(native));
        });
        lwbench::addCase(floorWrite, "", 0, [native, bytes](benchmark::State& st) {
            for (auto _ : st) {
                if (!lwbench::floorAtomicWrite(native, bytes))
                    st.SkipWithError("the atomic write failed");
            }
        });

        auto read = [native, bytes, path](QString section, QString key) {
            return [native, bytes, path, section, key](benchmark::State& st) {
                lwbench::resetFile(native, bytes);
                const lw::Profile profile(path);
                for (auto _ : st)
                    benchmark::DoNotOptimize(profile.readString(section, key, QString()));
            };
        };
        lwbench::addCase(p + "read_first_key", floorRead, 1.5, read(sectionOf(0), keyOf(0)));
        lwbench::addCase(p + "read_last_key", floorRead, 1.5, read(sectionOf(last), keyOf(last)));
        lwbench::addCase(p + "read_missing_key", floorRead, 1.5,
                         read(sectionOf(last), QStringLiteral("NoSuchKey")));
        lwbench::addCase(p + "read_missing_section", floorRead, 1.5,
                         read(QStringLiteral("NoSuchSection"), keyOf(0)));

        auto qsettingsRead = [native, bytes, path](QString section, QString key) {
            return [native, bytes, path, section, key](benchmark::State& st) {
                lwbench::resetFile(native, bytes);
                long stamp = 1000000000;
                for (auto _ : st) {
                    st.PauseTiming();
                    touch(native, ++stamp);
                    st.ResumeTiming();
                    const QSettings settings(path, QSettings::IniFormat);
                    benchmark::DoNotOptimize(settings.value(section + QLatin1Char('/') + key));
                }
            };
        };
        lwbench::addCase(p + "qsettings_read_first_key", floorRead, 0, qsettingsRead(sectionOf(0), keyOf(0)));
        lwbench::addCase(p + "qsettings_read_last_key", floorRead, 0,
                         qsettingsRead(sectionOf(last), keyOf(last)));

        const int middle = s.keys / 2;
        lwbench::addCase(
            p + "overwrite_key", floorWrite, 2.0, [native, bytes, path, middle](benchmark::State& st) {
                lwbench::resetFile(native, bytes);
                lw::Profile profile(path);
                int n = 0;
                for (auto _ : st)
                    profile.writeString(sectionOf(middle), keyOf(middle),
                                        (n++ & 1) ? QStringLiteral("one") : QStringLiteral("two"));
            });
        lwbench::addCase(p + "add_key", floorWrite, 2.0, [native, bytes, path](benchmark::State& st) {
            lw::Profile profile(path);
            for (auto _ : st) {
                // Every round adds the same key to the same file, so the file does not grow.
                st.PauseTiming();
                lwbench::resetFile(native, bytes);
                st.ResumeTiming();
                profile.writeString(QStringLiteral("Added"), QStringLiteral("NewKey"), QStringLiteral("x"));
            }
        });
        lwbench::addCase(p + "qsettings_overwrite_key", floorWrite, 0,
                         [native, bytes, path, middle](benchmark::State& st) {
                             lwbench::resetFile(native, bytes);
                             long stamp = 1000000000;
                             int n = 0;
                             for (auto _ : st) {
                                 st.PauseTiming();
                                 touch(native, ++stamp);
                                 st.ResumeTiming();
                                 QSettings settings(path, QSettings::IniFormat);
                                 settings.setValue(sectionOf(middle) + QLatin1Char('/') + keyOf(middle),
                                                   (n++ & 1) ? QStringLiteral("one") : QStringLiteral("two"));
                                 settings.sync();
                             }
                         });
    }
    return lwbench::run(argc, argv);
}
