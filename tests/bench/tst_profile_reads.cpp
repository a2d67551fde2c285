// Checks the profile store's fast lookups (lines that cannot match are passed over unread) against
// a plain line-by-line reading of the same rules, on many generated files.
#include "platform/profile.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

using namespace lw;

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

QByteArray trimmed(QByteArray s) {
    qsizetype b = 0;
    qsizetype e = s.size();
    while (b < e && isBlank(s.at(b)))
        ++b;
    while (e > b && isBlank(s.at(e - 1)))
        --e;
    return s.mid(b, e - b);
}

QString decode(const QByteArray& bytes) {
    QString text = QString::fromUtf8(bytes);
    return text.toUtf8() == bytes ? text : QString::fromLatin1(bytes);
}

QString foldAscii(QString s) {
    for (QChar& c : s) {
        if (c.unicode() >= 'A' && c.unicode() <= 'Z')
            c = QChar(c.unicode() + 32);
    }
    return s;
}

bool sameName(const QByteArray& raw, const QString& wanted) {
    return foldAscii(decode(raw)) == foldAscii(decode(trimmed(wanted.toUtf8())));
}

// The rules, one line after the other: the first section of that name, its first key of that name.
std::optional<QString> referenceRead(QByteArray file, const QString& section, const QString& key) {
    if (file.startsWith("\xEF\xBB\xBF"))
        file.remove(0, 3);
    bool inSection = false;
    bool sectionSeen = false;
    for (QByteArray line : file.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        const QByteArray t = trimmed(line);
        if (t.isEmpty() || t.startsWith(';'))
            continue;
        if (t.startsWith('[') && t.lastIndexOf(']') > 0) {
            if (inSection)
                return std::nullopt;
            inSection = !sectionSeen && sameName(trimmed(t.mid(1, t.lastIndexOf(']') - 1)), section);
            sectionSeen = sectionSeen || inSection;
            continue;
        }
        const qsizetype eq = t.indexOf('=');
        if (!inSection || eq < 0 || !sameName(trimmed(t.left(eq)), key))
            continue;
        QByteArray value = trimmed(line.mid(line.indexOf('=') + 1));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front())
            value = value.mid(1, value.size() - 2);
        return decode(value);
    }
    return std::nullopt;
}

// Names that share beginnings, differ in case only, or are Latin-1 or UTF-8 spellings of "é".
const QList<QByteArray> kNames = {"A", "a", "AB", "Ab", "B", "Sect", "Section", "\xC3\xA9", "\xE9", "A B"};
const QStringList kWanted = {"A",   " a ", "AB", "Sect", "Section", "B", QString::fromUtf8("\xC3\xA9"),
                             "A B", "Z"};

QByteArray pick(QRandomGenerator& r, const QList<QByteArray>& list) {
    return list.at(r.bounded(list.size()));
}

QByteArray blanks(QRandomGenerator& r) {
    static const QList<QByteArray> b = {"", "", "", " ", "\t", "  "};
    return pick(r, b);
}

QByteArray randomLine(QRandomGenerator& r) {
    switch (r.bounded(12)) {
    case 0:
    case 1:
        return blanks(r) + '[' + blanks(r) + pick(r, kNames) + blanks(r) + ']' +
               (r.bounded(4) ? "" : " ; note");
    case 2:
        return '[' + pick(r, kNames) + "=unclosed";
    case 3:
        return blanks(r) + ';' + pick(r, kNames) + "=commented";
    case 4:
        return blanks(r);
    case 5:
        return pick(r, kNames) + " without a value";
    default: {
        static const QList<QByteArray> values = {"1", " spaced ", "\"quoted\"", "'single'",
                                                 "",  "x=y",      "caf\xE9"};
        return blanks(r) + pick(r, kNames) + blanks(r) + '=' + blanks(r) + pick(r, values) + blanks(r);
    }
    }
}

QByteArray randomFile(QRandomGenerator& r) {
    const QByteArray eol = r.bounded(2) ? "\r\n" : "\n";
    QByteArray file = r.bounded(8) ? "" : "\xEF\xBB\xBF";
    const int lines = r.bounded(1, 14);
    for (int i = 0; i < lines; ++i)
        file += randomLine(r) + (i + 1 < lines || r.bounded(2) ? eol : "");
    return file;
}

bool writeBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

QByteArray readBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestProfileReads : public QObject {
    Q_OBJECT
private slots:
    // Every read gives what the rules give, and a write lands where a later read finds it.
    void fastLookupsFollowTheRules() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("p.ini"));
        const QString missing = QStringLiteral("<missing>");
        QRandomGenerator r(20240301);
        int checked = 0;
        for (int round = 0; round < 1500; ++round) {
            const QByteArray file = randomFile(r);
            QVERIFY(writeBytes(path, file));
            const Profile profile(path);
            for (const QString& section : kWanted) {
                for (const QString& key : kWanted) {
                    const QString expected = referenceRead(file, section, key).value_or(missing);
                    const QString got = profile.readString(section, key, missing);
                    if (got != expected)
                        QFAIL(qPrintable(QStringLiteral("[%1] %2 in %3: %4 instead of %5")
                                             .arg(section, key, QString::fromLatin1(file.toPercentEncoding()),
                                                  got, expected)));
                    ++checked;
                }
            }
            // Every fifth file also takes a write (each write waits for the disk).
            if (round % 5)
                continue;
            const QString section = kWanted.at(r.bounded(kWanted.size())).trimmed();
            const QString key = kWanted.at(r.bounded(kWanted.size())).trimmed();
            Profile(path).writeString(section, key, QStringLiteral("written"));
            QCOMPARE(referenceRead(readBytes(path), section, key).value_or(missing),
                     QStringLiteral("written"));
        }
        QCOMPARE(checked, 1500 * int(kWanted.size() * kWanted.size()));
    }
};

QTEST_GUILESS_MAIN(TestProfileReads)
#include "tst_profile_reads.moc"
