// Helpers of the end-to-end tests: acting on lists as the user does, noticing unexpected dialogs,
// and reading profile files the way any other reader of their text would.
#pragma once

#include "support/testsupport.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QMap>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

namespace lw::e2e {

// Picks an entry of a combo box's list as the user does: opens the list and clicks the entry.
inline bool pickFromList(QComboBox* box, const QString& text) {
    const int row = box->findText(text, Qt::MatchExactly);
    if (row < 0)
        return false;
    box->showPopup();
    QAbstractItemView* view = box->view();
    if (!test::waitFor([view] { return view->isVisible(); }))
        return false;
    // The list ignores a button release that comes too soon after it opened.
    QTest::qWait(QApplication::doubleClickInterval() + 100);
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

// While it lives, closes every modal dialog but file dialogs and remembers each as "title|text"
// (the text of a message box, or of a message dialog's Label1).
class ModalRecorder {
public:
    ModalRecorder() {
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            QWidget* w = QApplication::activeModalWidget();
            if (!w || !w->isVisible() || w->inherits("QFileDialog"))
                return;
            QString text;
            if (const auto* box = qobject_cast<QMessageBox*>(w))
                text = box->text();
            else if (const auto* label = w->findChild<QLabel*>("Label1"))
                text = label->text();
            m_seen.append(w->windowTitle() + '|' + text);
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
    QByteArray text = test::readFile(path);
    if (text.startsWith("\xEF\xBB\xBF"))
        text.remove(0, 3);
    for (QByteArray line : text.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        const qsizetype eq = line.indexOf('=');
        if (line.startsWith('[') && line.endsWith(']'))
            section = QString::fromUtf8(line.mid(1, line.size() - 2));
        else if (eq > 0 && !line.startsWith(';') && !keys[section].contains(QString::fromUtf8(line.left(eq))))
            keys[section].insert(QString::fromUtf8(line.left(eq)), QString::fromUtf8(line.mid(eq + 1)));
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
