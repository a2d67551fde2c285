// The data-source catalogue: the program's engine, alias and table listings, alias directories
// and the two text rules (path normalisation, blank trimming) that the windows share.
#include "data/catalogue.h"

#include "data/engine_aliasfile.h"

#include <QCollator>
#include <QSet>

#include <algorithm>

namespace lw {

namespace {

std::unique_ptr<DataEngine>& engineSlot() {
    static std::unique_ptr<DataEngine> slot;
    return slot;
}

// The directory used whenever an alias cannot be resolved.
const QString fallbackDirectory = QStringLiteral("/");

// Lower case for the letters A to Z only; every other character stays as it is.
QString lowerAsciiLetters(QString text) {
    for (QChar& c : text) {
        if (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) {
            c = QChar(c.unicode() + ('a' - 'A'));
        }
    }
    return text;
}

} // namespace

DataEngine& engine() {
    std::unique_ptr<DataEngine>& slot = engineSlot();
    if (!slot) {
        slot = std::make_unique<AliasFileEngine>(AliasFileEngine::locateConfiguration());
    }
    return *slot;
}

void setEngine(std::unique_ptr<DataEngine> replacement) {
    engineSlot() = std::move(replacement);
}

void listAliases(QStringList& dest) {
    const QStringList delivered = engine().aliasNames();

    // Of names that differ only in case the first delivered stays.
    QStringList names;
    QSet<QString> seen;
    for (const QString& name : delivered) {
        const QString folded = name.toCaseFolded();
        if (!seen.contains(folded)) {
            seen.insert(folded);
            names.append(name);
        }
    }

    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(names.begin(), names.end(),
                     [&collator](const QString& a, const QString& b) { return collator.compare(a, b) < 0; });
    dest = names;
}

void listTables(const QString& alias, QStringList& dest) {
    dest.clear();
    dest = engine().tableNames(alias);
}

QString aliasDirectory(const QString& alias) {
    try {
        const QStringList parameters = engine().aliasParameters(lowerAsciiLetters(alias));
        if (parameters.isEmpty()) {
            return fallbackDirectory;
        }
        // The first five characters are "PATH=" for a directory alias; they are not checked.
        return parameters.first().mid(5);
    } catch (...) {
        return fallbackDirectory;
    }
}

QString normalisePath(const QString& text) {
    // A path of this platform, or one written where paths begin with a drive letter.
    if (text.startsWith(QLatin1Char('/')) || (text.size() >= 2 && text.at(1) == QLatin1Char(':'))) {
        return text;
    }
    return aliasDirectory(text) + QLatin1Char('/');
}

QString trimBlanks(const QString& text) {
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text.at(first) == QLatin1Char(' ')) {
        ++first;
    }
    while (last > first && text.at(last - 1) == QLatin1Char(' ')) {
        --last;
    }
    return text.mid(first, last - first);
}

} // namespace lw
