// Helpers of the end-to-end tests: acting on lists as the user does, noticing unexpected dialogs,
// making SQLite databases, and reading profile files the way any other reader of their text would.
#pragma once

#include "support/testsupport.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QMap>
#include <QMessageBox>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>
#include <QTimer>

namespace lw::e2e {

// Picks an entry of a combo box's list as the user does: opens the list and clicks the entry.
inline bool pickFromList(QComboBox* box, const QString& text) {
    const int row = box->findText(text, Qt::MatchExactly);
    QAbstractItemView* view = box->view();
    if (row >= 0)
        box->showPopup();
    if (row < 0 || !test::waitFor([view] { return view->isVisible(); }))
        return false;
    QTest::qWait(QApplication::doubleClickInterval() + 100); // a release too soon after opening is ignored
    const QModelIndex index = view->model()->index(row, box->modelColumn());
    view->scrollTo(index);
    const QPoint at = view->visualRect(index).center();
    QTest::mouseMove(view->viewport(), at);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
    return test::waitFor([view] { return !view->isVisible(); });
}

inline QStringList listItems(const QComboBox* box) {
    QStringList items;
    for (int i = 0; i < box->count(); ++i)
        items.append(box->itemText(i));
    return items;
}

// Creates an SQLite database file by running the statements; the first failure, or an empty string.
inline QString makeSqlite(const QString& file, const QStringList& statements) {
    QString error;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "e2e-setup");
        db.setDatabaseName(file);
        error = db.open() ? QString() : db.lastError().text();
        QSqlQuery q(db);
        for (int i = 0; error.isEmpty() && i < statements.size(); ++i)
            error = q.exec(statements[i]) ? QString() : q.lastError().text();
    }
    QSqlDatabase::removeDatabase("e2e-setup");
    return error;
}

// While it lives, closes every modal dialog but file dialogs and remembers each as "title|text"
// (the text of a message box, or of a message dialog's Label1).
class ModalRecorder {
public:
    ModalRecorder() {
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            QWidget* w = QApplication::activeModalWidget();
            if (!w || !w->isVisible() || w->inherits("QFileDialog"))
                return;
            const auto* box = qobject_cast<QMessageBox*>(w);
            const auto* label = w->findChild<QLabel*>("Label1");
            m_seen.append(w->windowTitle() + '|' + (box ? box->text() : label ? label->text() : QString()));
            w->close();
        });
        m_timer.start(20);
    }
    QStringList seen() const { return m_seen; }

private:
    QTimer m_timer;
    QStringList m_seen;
};

using IniKeys = QMap<QString, QMap<QString, QString>>;

// The keys of a profile file as any reader of its text sees them (first section and key of each name),
// read independently of the program's own profile store.
inline IniKeys iniKeys(const QString& path) {
    IniKeys keys;
    QString section;
    for (QByteArray line : test::readFile(path).split('\n')) {
        if (line.startsWith("\xEF\xBB\xBF"))
            line.remove(0, 3);
        if (line.endsWith('\r'))
            line.chop(1);
        const QString text = QString::fromUtf8(line), key = text.section('=', 0, 0);
        if (text.startsWith('[') && text.endsWith(']'))
            section = text.mid(1, text.size() - 2);
        else if (text.indexOf('=') > 0 && !text.startsWith(';') && !keys[section].contains(key))
            keys[section].insert(key, text.section('=', 1));
    }
    return keys;
}

// A section's expected keys, from "key=value" entries.
inline QMap<QString, QString> keyMap(const QStringList& entries) {
    QMap<QString, QString> keys;
    for (const QString& entry : entries)
        keys.insert(entry.section('=', 0, 0), entry.section('=', 1));
    return keys;
}

} // namespace lw::e2e
