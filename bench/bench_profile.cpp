// Profile store speed: reads and writes on files of several sizes, line endings and section sizes,
// on disk and on tmpfs, against the floor (one whole-file read; one atomic whole-file write; for
// files of one-key sections and the 1 MB files also a whole-file read plus one memchr pass) and
// QSettings re-reading the file.
#include "floor.h"
#include "platform/profile.h"
#include "ratio.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/stat.h>

namespace {

struct Shape {
    const char* label;
    int keys;
    bool crlf;
    int perSection = 50; // keys in each section
    bool qsettings = true; // also measure QSettings
    bool writes = true;    // also measure writes
    bool tmpfs = false;    // in the tmpfs folder instead of TMPDIR
};

// Sections of perSection keys each; key lines of about 32 bytes, so 2,000 keys in sections of 50
// make about 64 KB; with one key per section a key and its header take about 46 bytes.
QByteArray makeProfile(int keys, bool crlf, int perSection) {
    const QByteArray eol = crlf ? "\r\n" : "\n";
    QByteArray out;
    out.reserve(keys * 50);
    for (int i = 0; i < keys; ++i) {
        if (i % perSection == 0)
            out += "[Section" + QByteArray::number(i / perSection) + "]" + eol;
        out += "Key" + QByteArray::number(i).rightJustified(6, '0') + "=value of key " +
               QByteArray::number(i).rightJustified(6, '0') + eol;
    }
    return out;
}

QString sectionOf(int i, int perSection) {
    return QStringLiteral("Section%1").arg(i / perSection);
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
    // Writes on tmpfs, where no fdatasync hides what the store itself costs: /dev/shm, else TMPDIR.
    const QString shm = QStringLiteral("/dev/shm");
    QTemporaryDir memoryDir((QFileInfo(shm).isDir() ? shm : QDir::tempPath()) + QStringLiteral("/lwbench-XXXXXX"));
    const Shape shapes[] = {
        {"2KB", 50, false},
        {"2KB_crlf", 50, true},
        {"64KB", 2000, false},
        {"64KB_crlf", 2000, true},
        {"1MB", 31000, false},
        {"1MB_crlf", 31000, true},
        // One key per section: every line pair is a header, which suits no header skipping.
        {"1KB_1key_sections", 22, false, 1, false, false},
        {"10KB_1key_sections", 220, false, 1, false, false},
        {"100KB_1key_sections", 2200, false, 1, false, false},
        {"1MB_1key_sections", 22000, false, 1, false, false},
        {"10MB_1key_sections", 220000, false, 1, false, false},
        // Writes where the disk's flush does not dominate.
        {"2KB_tmpfs", 50, false, 50, false, true, true},
        {"64KB_tmpfs", 2000, false, 50, false, true, true},
    };
    for (const Shape& s : shapes) {
        const QString path = (s.tmpfs ? memoryDir : dir).filePath(QString::fromLatin1(s.label) + QStringLiteral(".ini"));
        const QByteArray native = QFile::encodeName(path);
        const int per = s.perSection;
        auto sectionOf = [per](int i) { return ::sectionOf(i, per); };
        const QByteArray bytes = makeProfile(s.keys, s.crlf, per);
        const std::string p = std::string("profile/") + s.label + "/";
        const std::string floorRead = p + "floor_read_whole_file";
        const std::string floorWrite = p + "floor_atomic_write_whole_file";
        const int last = s.keys - 1;

        if (!s.tmpfs) {
            lwbench::addCase(floorRead, "", 0, [native, bytes](benchmark::State& st) {
                lwbench::resetFile(native, bytes);
                for (auto _ : st)
                    benchmark::DoNotOptimize(lwbench::floorReadWholeFile(native));
            });
        }
        if (s.writes) {
            lwbench::addCase(floorWrite, "", 0, [native, bytes](benchmark::State& st) {
                for (auto _ : st) {
                    if (!lwbench::floorAtomicWrite(native, bytes))
                        st.SkipWithError("the atomic write failed");
                }
            });
        }

        auto read = [native, bytes, path](QString section, QString key) {
            return [native, bytes, path, section, key](benchmark::State& st) {
                lwbench::resetFile(native, bytes);
                const lw::Profile profile(path);
                for (auto _ : st)
                    benchmark::DoNotOptimize(profile.readString(section, key, QString()));
            };
        };
        if (!s.tmpfs) {
            // Files of one-key sections must be searched to their end for the last or a missing
            // key: 1.6x of the read, and measured against a read plus one memchr pass as well.
            const double target = per == 1 ? 1.6 : 1.5;
            lwbench::addCase(p + "read_first_key", floorRead, target, read(sectionOf(0), keyOf(0)));
            lwbench::addCase(p + "read_last_key", floorRead, target, read(sectionOf(last), keyOf(last)));
            lwbench::addCase(p + "read_missing_key", floorRead, target,
                             read(sectionOf(last), QStringLiteral("NoSuchKey")));
            lwbench::addCase(p + "read_missing_section", floorRead, target,
                             read(QStringLiteral("NoSuchSection"), keyOf(0)));
        }
        // The same for the 1 MB files of 50-key sections, which must be searched to their end as
        // well: what is left above the read and one pass is the store's own work.
        if (!s.tmpfs && (per == 1 || s.keys >= 31000)) {
            const std::string floorSearch = p + "floor_read_and_memchr";
            lwbench::addCase(floorSearch, "", 0, [native, bytes](benchmark::State& st) {
                lwbench::resetFile(native, bytes);
                for (auto _ : st)
                    benchmark::DoNotOptimize(lwbench::floorReadAndSearch(native));
            });
            lwbench::addCase(p + "read_last_key_vs_search", floorSearch, 0, read(sectionOf(last), keyOf(last)));
            lwbench::addCase(p + "read_missing_key_vs_search", floorSearch, 0,
                             read(sectionOf(last), QStringLiteral("NoSuchKey")));
            lwbench::addCase(p + "read_missing_section_vs_search", floorSearch, 0,
                             read(QStringLiteral("NoSuchSection"), keyOf(0)));
        }
        if (!s.qsettings && !s.writes)
            continue;

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
        if (s.qsettings) {
            lwbench::addCase(p + "qsettings_read_first_key", floorRead, 0, qsettingsRead(sectionOf(0), keyOf(0)));
            lwbench::addCase(p + "qsettings_read_last_key", floorRead, 0,
                             qsettingsRead(sectionOf(last), keyOf(last)));
        }

        const int middle = s.keys / 2;
        lwbench::addCase(
            p + "overwrite_key", floorWrite, 2.0, [native, bytes, path, middle, sectionOf](benchmark::State& st) {
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
        if (!s.qsettings)
            continue;
        lwbench::addCase(p + "qsettings_overwrite_key", floorWrite, 0,
                         [native, bytes, path, middle, sectionOf](benchmark::State& st) {
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
