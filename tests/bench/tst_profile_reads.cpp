// Checks the profile store's fast lookups (lines that cannot match are passed over unread, headers
// found many at a time), its whole-section reads and where its writes put a key against a plain
// line-by-line reading of the same rules, on many generated files.
#include "platform/profile.h"
#include "platform/profile_scan.h"
#include "support/testsupport.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QVarLengthArray>

#include <cstring>
#include <optional>

using namespace lw;

namespace {

QString decode(const QByteArray& bytes) {
    QString text = QString::fromUtf8(bytes);
    return text.toUtf8() == bytes ? text : QString::fromLatin1(bytes);
}

QString foldAscii(QString s) {
    for (QChar& c : s)
        c = c.unicode() < 128 ? c.toLower() : c;
    return s;
}
bool sameName(const QByteArray& raw, const QString& wanted) {
    return foldAscii(decode(raw)) == foldAscii(decode(wanted.toUtf8().trimmed()));
}

// The rules, one line after the other: the first section of that name, its first key of that name.
std::optional<QString> referenceRead(QByteArray file, const QString& section, const QString& key) {
    if (file.startsWith("\xEF\xBB\xBF"))
        file.remove(0, 3);
    bool inSection = false, sectionSeen = false;
    for (QByteArray line : file.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        const QByteArray t = line.trimmed();
        if (t.isEmpty() || t.startsWith(';'))
            continue;
        if (t.startsWith('[') && t.lastIndexOf(']') > 0) {
            if (inSection)
                return std::nullopt;
            inSection = !sectionSeen && sameName(t.mid(1, t.lastIndexOf(']') - 1).trimmed(), section);
            sectionSeen = sectionSeen || inSection;
            continue;
        }
        const qsizetype eq = t.indexOf('=');
        if (!inSection || eq < 0 || !sameName(t.left(eq).trimmed(), key))
            continue;
        QByteArray value = line.mid(line.indexOf('=') + 1).trimmed();
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front())
            value = value.mid(1, value.size() - 2);
        return decode(value);
    }
    return std::nullopt;
}

// The rules for a write of one plain value, one line after the other: the value of the first key of
// that name in the first section of that name replaced; else a key line after that section's last
// key line (or its header); else the section added at the end.
QByteArray referenceWrite(const QByteArray& file, const QString& section, const QString& key,
                          const QByteArray& value) {
    const qsizetype firstNl = file.indexOf('\n');
    const QByteArray eol = firstNl > 0 && file.at(firstNl - 1) == '\r' ? "\r\n" : "\n";
    const QByteArray keyLine = key.trimmed().toUtf8() + '=' + value;
    qsizetype pos = file.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    bool inSection = false, sectionSeen = false;
    qsizetype insertAt = -1; // after the section's last key line or its header
    bool terminated = true;
    while (pos < file.size()) {
        const qsizetype nl = file.indexOf('\n', pos);
        const qsizetype end = nl < 0 ? file.size() : nl + 1;
        QByteArray line = file.mid(pos, (nl < 0 ? file.size() : nl) - pos);
        if (line.endsWith('\r'))
            line.chop(1);
        const QByteArray t = line.trimmed();
        const bool header = t.startsWith('[') && t.lastIndexOf(']') > 0;
        if (header && inSection)
            break;
        if (header) {
            inSection = !sectionSeen && sameName(t.mid(1, t.lastIndexOf(']') - 1).trimmed(), section);
            sectionSeen = sectionSeen || inSection;
            if (inSection) {
                insertAt = end;
                terminated = nl >= 0;
            }
        } else if (inSection && !t.isEmpty() && !t.startsWith(';') && t.contains('=')) {
            if (sameName(t.left(t.indexOf('=')).trimmed(), key)) {
                qsizetype b = pos + line.indexOf('=') + 1;
                while (b < pos + line.size() && (file.at(b) == ' ' || file.at(b) == '\t'))
                    ++b;
                return file.left(b) + value + file.mid(pos + line.size());
            }
            insertAt = end;
            terminated = nl >= 0;
        }
        pos = end;
    }
    if (insertAt >= 0)
        return file.left(insertAt) + (terminated ? keyLine + eol : eol + keyLine) + file.mid(insertAt);
    const bool bomOnly = file == "\xEF\xBB\xBF";
    const QByteArray before = !file.isEmpty() && !bomOnly && !file.endsWith('\n') ? eol : QByteArray();
    return file + before + '[' + section.trimmed().toUtf8() + ']' + eol + keyLine + eol;
}

// Names that share beginnings, differ in case only, are Latin-1 or UTF-8 spellings of "é", hold
// digits (which the vector search compares first), or are longer than the eight bytes compared at
// once, some differing only in characters 0x20 apart that are no letters ("@" and "`").
const QList<QByteArray> kNames = {
    "A",    "a",   "AB",  "Ab", "B",       "Sect",          "Section",      "\xC3\xA9",
    "\xE9", "A B", "K12", "k1", "Key12x2", "SectionLong12", "Section@Long", "Section`Long"};
const QStringList kWanted = {
    "A",   " a ", "AB",  "Sect",    "Section",       "B",           QString::fromUtf8("\xC3\xA9"),
    "A B", "Z",   "k12", "Key12X2", "sectionLONG12", "SECTION`LONG"};

const QList<QByteArray> kBlanks = {"", "", "", " ", "\t", "  "};
const QList<QByteArray> kValues = {"1", " spaced ", "\"quoted\"", "'single'", "", "x=y", "caf\xE9"};

QByteArray pick(QRandomGenerator& r, const QList<QByteArray>& list) {
    return list.at(r.bounded(list.size()));
}

// Sections (closed or not, with a remark after), comments, blank lines, lines without "=", and keys.
QByteArray randomLine(QRandomGenerator& r) {
    const int kind = r.bounded(12);
    const QByteArray name = pick(r, kNames), b1 = pick(r, kBlanks), b2 = pick(r, kBlanks);
    if (kind < 2)
        return b1 + '[' + b2 + name + pick(r, kBlanks) + ']' + (r.bounded(4) ? "" : " ; note");
    if (kind < 6)
        return QList<QByteArray>{'[' + name + "=unclosed", b1 + ';' + name + "=commented", b1,
                                 name + " without a value"}
            .at(kind - 2);
    return b1 + name + b2 + '=' + pick(r, kBlanks) + pick(r, kValues) + pick(r, kBlanks);
}

QByteArray randomFile(QRandomGenerator& r) {
    const QByteArray eol = r.bounded(2) ? "\r\n" : "\n";
    QByteArray file = r.bounded(8) ? "" : "\xEF\xBB\xBF";
    // Now and then a long file, so that the vector search crosses many blocks of bytes.
    const int lines = r.bounded(20) ? r.bounded(1, 14) : r.bounded(60, 200);
    for (int i = 0; i < lines; ++i)
        file += randomLine(r) + (i + 1 < lines || r.bounded(2) ? eol : "");
    return file;
}

// Filler sections of perSection keys each, whose values hold a "[" and a "]" where withBrackets
// says so (a "[" that opens no line).
QByteArray filler(int sections, int perSection, const QByteArray& eol, bool withBrackets) {
    QByteArray out;
    for (int s = 0; s < sections; ++s) {
        out += "[Filler" + QByteArray::number(s) + ']' + eol;
        for (int k = 0; k < perSection; ++k)
            out += "Key" + QByteArray::number(k) + (withBrackets ? "=list [a, b]" : "=value") + eol;
    }
    return out;
}

} // namespace

class TestProfileReads : public QObject {
    Q_OBJECT
private slots:
    // Every read gives what the rules give, and a write lands where a later read finds it.
    void fastLookupsFollowTheRules() {
        QTemporaryDir dir;
        const QString path = dir.filePath("p.ini"), missing = "<missing>";
        QRandomGenerator r(20240301);
        for (int round = 0; round < 1500; ++round) {
            const QByteArray file = randomFile(r);
            QVERIFY(test::writeFile(path, file));
            const Profile profile(path);
            // The whole-section read must find the same values as the single reads.
            const QList<ProfileSection> whole = profile.readSections(kWanted);
            QCOMPARE(whole.size(), kWanted.size());
            for (qsizetype s = 0; s < kWanted.size(); ++s) {
                const QString& section = kWanted.at(s);
                for (const QString& key : kWanted) {
                    const QString expected = referenceRead(file, section, key).value_or(missing);
                    const QString got = profile.readString(section, key, missing);
                    const QString gotWhole = whole.at(s).readString(key, missing);
                    QVERIFY2(got == expected && gotWhole == expected,
                             qPrintable(
                                 QString("[%1] %2 in %3: %4 (whole section: %5) instead of %6")
                                     .arg(section, key, file.toPercentEncoding(), got, gotWhole, expected)));
                }
                QCOMPARE(whole.at(s).keys(), profile.keys(section));
            }
            if (round % 5 == 0) { // every fifth file also takes a write (each write waits for the disk)
                const QString section = kWanted.at(r.bounded(kWanted.size()));
                const QString key = kWanted.at(r.bounded(kWanted.size()));
                Profile(path).writeString(section, key, "written");
                const QByteArray now = test::readFile(path);
                QVERIFY2(
                    now == referenceWrite(file, section, key, "written"),
                    qPrintable(QString("[%1] %2 written into %3 gave %4")
                                   .arg(section, key, file.toPercentEncoding(), now.toPercentEncoding())));
            } else if (round % 5 == 1) {
                // A batch: each entry as a single write after the ones before would place it, most
                // of them into the section of the entry before.
                QList<ProfileEntry> batch;
                QByteArray expected = file;
                QString section = kWanted.at(r.bounded(kWanted.size()));
                for (int e = 0; e < 4; ++e) {
                    if (r.bounded(4) == 0)
                        section = kWanted.at(r.bounded(kWanted.size()));
                    const QString key = kWanted.at(r.bounded(kWanted.size()));
                    const QByteArray value = "batch" + QByteArray::number(e);
                    batch.append({section, key, QString::fromLatin1(value)});
                    expected = referenceWrite(expected, section, key, value);
                }
                QVERIFY(test::writeFile(path, file));
                Profile(path).writeEntries(batch);
                const QByteArray now = test::readFile(path);
                QVERIFY2(now == expected,
                         qPrintable(QString("a batch written into %1 gave %2 instead of %3")
                                        .arg(file.toPercentEncoding(), now.toPercentEncoding(),
                                             expected.toPercentEncoding())));
            }
        }
    }

    // Files where the wanted header comes after many others, found in batches of "[" at a time
    // (batches of 1, 2, 4 ... 32: their boundaries fall before, on and after it), with "[" inside
    // values, headers that only look like it, and the same section twice: the single read gives what the rules give,
    // and what the whole-section read gives.
    void manyHeadersBeforeTheSection_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        struct Shape {
            const char* label;
            QByteArray eol;
            int perSection; // 1: every other line a header, where the search turns to the name
            bool brackets;
        };
        const Shape shapes[] = {{"sections of 50 keys", "\n", 50, false},
                                {"CRLF", "\r\n", 50, false},
                                {"\"[\" in values", "\n", 50, true},
                                {"one-key sections", "\n", 1, false},
                                {"one-key sections, \"[\" in values", "\r\n", 1, true}};
        for (const Shape& shape : shapes) {
            const QByteArray& eol = shape.eol;
            auto row = [&](const QString& what, const QByteArray& file, const QString& section, const QString& key) {
                QTest::newRow(qPrintable(QString("%1, %2").arg(shape.label, what))) << file << section << key;
            };
            const QByteArray wanted = "[Wanted]" + eol + "Other=1" + eol + "Key=found" + eol;
            for (int before : {0, 1, 2, 3, 6, 7, 8, 30, 31, 32, 62, 63, 64, 95, 96, 300}) {
                const QByteArray head = filler(before, shape.perSection, eol, shape.brackets);
                const QByteArray tail = filler(40, shape.perSection, eol, shape.brackets);
                row(QString("after %1 headers").arg(before), head + wanted + tail, "wanted", "KEY");
                row(QString("missing key after %1 headers").arg(before), head + wanted + tail, "Wanted", "NoSuchKey");
                // The first section of the name counts, even without the key.
                row(QString("key in a later duplicate, after %1 headers").arg(before),
                    head + "[Wanted]" + eol + "Other=1" + eol + tail + wanted, "Wanted", "Key");
                // Look-alikes before it: a longer name, an unclosed bracket, a header in a comment.
                row(QString("look-alikes, then an indented header after %1 headers").arg(before),
                    head + "[Wanted2]" + eol + "Key=longer" + eol + "[Wanted=unclosed" + eol + "; [Wanted]" + eol +
                        "  [ Wanted ] ; remark" + eol + "Key = \"found\"" + eol + tail,
                    "Wanted", "Key");
            }
            row("missing section", filler(300, shape.perSection, eol, shape.brackets), "Wanted", "Key");
            row("byte-order mark, section first", "\xEF\xBB\xBF" + wanted + filler(300, shape.perSection, eol, shape.brackets),
                "Wanted", "Key");
            QByteArray noEnd = filler(300, shape.perSection, eol, shape.brackets) + "[Wanted]" + eol + "Key=last";
            row("section last, no final line end", noEnd, "Wanted", "Key");
        }
    }
    void manyHeadersBeforeTheSection() {
        QFETCH(QByteArray, file);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QTemporaryDir dir;
        const QString path = dir.filePath("many.ini"), missing = "<missing>";
        QVERIFY(test::writeFile(path, file));
        const Profile profile(path);
        const QString expected = referenceRead(file, section, key).value_or(missing);
        QCOMPARE(profile.readString(section, key, missing), expected);
        QCOMPARE(profile.readSections({section}).at(0).readString(key, missing), expected);
    }

    // The positions of a byte, many at a time, against a plain search: every position once, in
    // order, however many a call may give, from every alignment, near the start, the end and
    // where the wide steps meet.
    void bytePositionsComeInOrder_data() {
        QTest::addColumn<int>("perThousand"); // how often the byte is there
        QTest::addColumn<int>("max");         // positions a call gives at most
        QTest::newRow("rare, one a call") << 2 << 1;
        QTest::newRow("rare, 32 a call") << 2 << 32;
        QTest::newRow("one in 20, 5 a call") << 50 << 5;
        QTest::newRow("one in 20, 32 a call") << 50 << 32;
        QTest::newRow("half, 7 a call") << 500 << 7;
        QTest::newRow("every byte, 64 a call") << 1000 << 64;
        QTest::newRow("none, 32 a call") << 0 << 32;
    }
    void bytePositionsComeInOrder() {
        QFETCH(int, perThousand);
        QFETCH(int, max);
        QRandomGenerator r(perThousand * 100 + max);
        for (int round = 0; round < 300; ++round) {
            QByteArray d(r.bounded(r.bounded(3) ? 700 : 40), 'x');
            for (char& c : d)
                c = int(r.bounded(1000)) < perThousand ? '[' : char('a' + r.bounded(26));
            const qsizetype from = d.isEmpty() ? 0 : r.bounded(qMin<qsizetype>(d.size(), 140));
            QList<qsizetype> expected;
            for (qsizetype i = from; i < d.size(); ++i) {
                if (d.at(i) == '[')
                    expected.append(i);
            }
            QByteArray holder(d.size() + 64, '\0');
            for (qsizetype shift = 0; shift < 64; ++shift) {
                std::memcpy(holder.data() + shift, d.constData(), size_t(d.size()));
                const char* p = holder.constData() + shift;
                QList<qsizetype> got;
                qsizetype pos = from;
                QVarLengthArray<qsizetype, 64> out(max);
                for (int calls = 0; calls <= d.size() + 1; ++calls) {
                    qsizetype next = -1;
                    const qsizetype n = findBytes(p, pos, d.size(), '[', out.data(), max, &next);
                    for (qsizetype k = 0; k < n; ++k)
                        got.append(out[k]);
                    const bool full = n == max;
                    if (next != (full ? out[n - 1] + 1 : d.size()) || n > max)
                        QFAIL(qPrintable(QString("%1 positions up to %2 from %3, shifted by %4: next %5")
                                             .arg(n)
                                             .arg(max)
                                             .arg(pos)
                                             .arg(shift)
                                             .arg(next)));
                    if (!full)
                        break;
                    pos = next;
                }
                if (got != expected)
                    QFAIL(qPrintable(QString("%1 bytes from %2, shifted by %3: %4 positions instead of %5")
                                         .arg(d.size())
                                         .arg(from)
                                         .arg(shift)
                                         .arg(got.size())
                                         .arg(expected.size())));
            }
        }
    }

    // A batch into a file that is not there yet gives the bytes of its entries written one by one
    // into an empty file, by the rules and by the store's own way for files that are there: with
    // keys that come once (sections given in other spellings, coming back after others) and with
    // keys that come twice, values that need quotes or other bytes, and more entries than are
    // ever compared pair by pair.
    void batchIntoNewFileFollowsTheRules() {
        QTemporaryDir dir;
        const QString fresh = dir.filePath("fresh.pr"), existing = dir.filePath("existing.pr");
        const QStringList distinctKeys = {"A",   "AB", "Sect", "Section", "B",       QString::fromUtf8("\xC3\xA9"),
                                          "A B", "Z",  "k12",  "Key12X2", "SECTION`LONG"};
        QRandomGenerator r(20241207);
        for (int round = 0; round < 300; ++round) {
            const bool keysOnce = round % 2 == 0;
            const int count = round % 50 == 49 ? 70 : r.bounded(1, 12);
            QStringList keys = distinctKeys;
            QList<ProfileEntry> batch;
            QByteArray expected; // by the rules, for plain values
            bool plain = true;
            for (int e = 0; e < count; ++e) {
                const QString section = kWanted.at(r.bounded(kWanted.size()));
                QString key = kWanted.at(r.bounded(kWanted.size()));
                if (keysOnce)
                    key = e < distinctKeys.size() ? keys.takeAt(r.bounded(keys.size())) : "Extra" + QString::number(e);
                const bool odd = r.bounded(4) == 0;
                const QByteArray value = odd ? pick(r, kValues) : "v" + QByteArray::number(e);
                plain = plain && !odd;
                batch.append({section, key, decode(value)});
                expected = referenceWrite(expected, section, key, value);
            }
            QFile::remove(fresh);
            Profile(fresh).writeEntries(batch);
            QVERIFY(test::writeFile(existing, QByteArray()));
            Profile(existing).writeEntries(batch);
            const QByteArray made = test::readFile(fresh);
            QVERIFY2(made == test::readFile(existing),
                     qPrintable(QString("round %1: a new file got %2, an empty one %3")
                                    .arg(round)
                                    .arg(QString::fromLatin1(made.toPercentEncoding()),
                                         QString::fromLatin1(test::readFile(existing).toPercentEncoding()))));
            if (plain)
                QVERIFY2(made == expected, qPrintable(QString("round %1: %2 instead of %3")
                                                          .arg(round)
                                                          .arg(QString::fromLatin1(made.toPercentEncoding()),
                                                               QString::fromLatin1(expected.toPercentEncoding()))));
        }
    }

    // The vector search against a plain one, over buffers long enough for its widest steps, from
    // every alignment, with names whose compared bytes are letters (either case), digits or both,
    // longer than a step, and planted near the start, the end and where steps meet.
    void vectorSearchFindsTheFirstCandidate() {
        const QList<QByteArray> names = {"Section2199", "NoSuchSection", "k9", "Z", "a1b2c3",
                                         QByteArray(70, 'x') + "7", "9" + QByteArray(66, 'Q')};
        const QByteArray alphabet = "aAbBkKqQsSxXzZ0123456789[]=\n ";
        auto plain = [](const QByteArray& d, qsizetype from, const QByteArray& name) -> qsizetype {
            for (qsizetype i = from; i + name.size() <= d.size(); ++i) {
                if (QByteArrayView(d).sliced(i, name.size()).compare(name, Qt::CaseInsensitive) == 0)
                    return i;
            }
            return -1;
        };
        QRandomGenerator r(7091);
        for (int round = 0; round < 1500; ++round) {
            const QByteArray& name = names.at(r.bounded(names.size()));
            QByteArray d(r.bounded(r.bounded(4) ? 9000 : 300), Qt::Uninitialized);
            for (char& c : d)
                c = alphabet.at(r.bounded(alphabet.size()));
            const qsizetype from = d.isEmpty() ? 0 : r.bounded(qMin<qsizetype>(d.size(), 130));
            // Planted copies, some with their letters' case changed and some with a byte off: anywhere,
            // just after the start (where the first wide step meets the next) or near the end.
            const qsizetype room = d.size() - name.size() + 1;
            for (int k = r.bounded(4); k > 0 && room > 0; --k) {
                static constexpr int kNearStart[] = {0, 1, 31, 32, 33, 63, 64, 65, 127, 128, 255, 256, 257};
                const int where = r.bounded(3);
                const qsizetype at = where == 0   ? r.bounded(room)
                                     : where == 1 ? qMin(room - 1, from + kNearStart[r.bounded(13)])
                                                  : room - 1 - r.bounded(qMin<qsizetype>(80, room));
                QByteArray copy = r.bounded(2) ? name.toUpper() : name;
                if (r.bounded(3) == 0)
                    copy[r.bounded(copy.size())] = '#';
                d.replace(at, copy.size(), copy);
            }
            const qsizetype expected = plain(d, from, name);
            // The same bytes at every alignment, so that the wide steps start at every offset of a
            // block.
            QByteArray holder(d.size() + 64, '\0');
            for (qsizetype shift = 0; shift < 64; ++shift) {
                std::memcpy(holder.data() + shift, d.constData(), size_t(d.size()));
                const qsizetype got =
                    findNameCandidate(holder.constData() + shift, d.size(), from, name.constData(), name.size());
                if (got != expected) // the message only when needed: it is made before the check
                    QFAIL(qPrintable(QString("%1 in %2 bytes from %3, shifted by %4: %5 instead of %6")
                                         .arg(QString::fromLatin1(name))
                                         .arg(d.size())
                                         .arg(from)
                                         .arg(shift)
                                         .arg(got)
                                         .arg(expected)));
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestProfileReads)
#include "tst_profile_reads.moc"
