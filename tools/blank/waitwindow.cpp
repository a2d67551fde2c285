// The window that waits while the user arranges the blank in the spreadsheet program.
#include "tools/blank/waitwindow.h"

#include "platform/launcher.h"
#include "tools/common/toolkit.h"
#include "ui/messages.h"
#include "ui/mydialog.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QShowEvent>
#include <QStandardPaths>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace lw::blank {

namespace {

constexpr int MsgAttention = 5;
constexpr int MsgExcelDoesNotAnswer = 18;
constexpr int MsgContinueExpectation = 19;
constexpr int MsgCloseExcel = 25;
constexpr int LookIntervalMs = 1000;

} // namespace

WaitWindow::WaitWindow(const QString& workbookPath, const QString& reportName, qint64 pid, int patienceSeconds,
                       QWidget* parent)
    : QDialog(parent), m_path(workbookPath), m_pid(pid), m_patience(patienceSeconds) {
    setObjectName(QStringLiteral("WaitWindow"));
    setWindowTitle(reportName.isEmpty() ? QStringLiteral("Blank builder")
                                        : QStringLiteral("Blank builder: %1").arg(reportName));
    // An ordinary window, never on top of the spreadsheet program: its dialogs (keep the format?)
    // must stay visible. The task bar finds it; a corner of the screen keeps it off those dialogs.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::CustomizeWindowHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);

    Label1 = new QLabel(this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setTextFormat(Qt::PlainText);
    Label1->setWordWrap(true);
    Label1->setText(QStringLiteral("The blank %1 is open in the spreadsheet program.\n\n"
                                   "Arrange it: move the marker cells, add titles, fonts, borders and "
                                   "totals. Save it as an %2 workbook (.%3) under the same "
                                   "name and close it, then press OK.\n\nNO gives up.")
                        .arg(QDir::toNativeSeparators(workbookPath), workbookFormatName(workbookPath),
                             QFileInfo(workbookPath).suffix().toLower()));
    Label1->setMinimumWidth(360);

    OKBtn = new TMsgButton(style()->standardIcon(QStyle::SP_DialogApplyButton), QStringLiteral("OK"), this);
    OKBtn->setObjectName(QStringLiteral("OKBtn"));
    OKBtn->setToolTip(QStringLiteral("I have saved and closed the blank"));
    OKBtn->setDefault(true);
    OKBtn->setMinimumSize(70, 25);
    CancelBtn = new TMsgButton(style()->standardIcon(QStyle::SP_DialogCancelButton), QStringLiteral("NO"), this);
    CancelBtn->setObjectName(QStringLiteral("CancelBtn"));
    CancelBtn->setToolTip(QStringLiteral("Give up: the report keeps its old workbook"));
    CancelBtn->setMinimumSize(70, 25);
    connect(OKBtn, &QPushButton::clicked, this, &WaitWindow::OKBtnClick);
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(OKBtn);
    buttons->addWidget(CancelBtn);
    buttons->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Label1);
    layout->addLayout(buttons);

    adjustSize();
    placeInCorner();

    m_otherFormats = otherFormatFiles(workbookPath);
    takeBaseline();
    m_lastSignature = signature();
    m_lastChange = QDateTime::currentDateTimeUtc();
    m_timer = new QTimer(this);
    m_timer->setInterval(LookIntervalMs);
    connect(m_timer, &QTimer::timeout, this, &WaitWindow::look);
    m_timer->start();
}

bool WaitWindow::spreadsheetHolds() const {
    return workbookIsOpen(m_path) || (m_pid > 0 && ProcessWatch::isRunning(m_pid));
}

QString WaitWindow::holder() const {
    if (workbookIsOpen(m_path))
        return lockOwner(m_path);
    if (m_pid > 0 && ProcessWatch::isRunning(m_pid))
        return QStringLiteral("the spreadsheet program started on it (process %1) is still running").arg(m_pid);
    return {};
}

WaitWindow::Mark WaitWindow::markOf(const QString& path) {
    const QFileInfo info(path);
    if (!info.isFile())
        return {};
    return {true, info.lastModified().toMSecsSinceEpoch(), info.size()};
}

namespace {

QByteArray digestOf(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&file);
    return hash.result();
}

} // namespace

void WaitWindow::takeBaseline() {
    m_blankDigest = digestOf(m_path);
    m_otherMarks.clear();
    for (const QString& other : m_otherFormats)
        m_otherMarks.append(markOf(other));
}

QString WaitWindow::savedElsewhere() const {
    if (digestOf(m_path) != m_blankDigest)
        return {};
    for (qsizetype i = 0; i < m_otherFormats.size(); ++i) {
        const Mark now = markOf(m_otherFormats.at(i));
        if (now.exists && !(now == m_otherMarks.value(i)))
            return m_otherFormats.at(i);
    }
    return {};
}

void WaitWindow::placeInCorner() {
    const QScreen* where = screen() ? screen() : QGuiApplication::primaryScreen();
    if (!where)
        return;
    const QRect area = where->availableGeometry();
    // Before the window manager frames the window its frame is not known: allow for a title bar.
    QRect frame = frameGeometry();
    if (frame.height() <= height())
        frame.adjust(0, -style()->pixelMetric(QStyle::PM_TitleBarHeight), 0, 0);
    const int margin = 16;
    const QPoint corner(area.right() + 1 - margin - frame.width(), area.bottom() + 1 - margin - frame.height());
    move(std::max(area.left(), corner.x()), std::max(area.top(), corner.y()));
}

void WaitWindow::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous())
        QTimer::singleShot(0, this, [this] { placeInCorner(); });
    testLog(windowTitle(), m_path);
}

void WaitWindow::OKBtnClick() {
    m_asking = true;
    if (const QString who = holder(); !who.isEmpty()) {
        notice(MsgCloseExcel, QStringLiteral("%1 is open: %2").arg(QDir::toNativeSeparators(m_path), who));
        m_asking = false;
        return;
    }
    if (const QString other = savedElsewhere(); !other.isEmpty()) {
        // The user's work is in that file, and the blank is as it was: say how to save it right
        // rather than read the old blank. Told once per change of that file.
        notice(MsgAttention, QStringLiteral("saved as %1: save the blank as %2 %3")
                                 .arg(QDir::toNativeSeparators(other), workbookFormatName(m_path),
                                      QDir::toNativeSeparators(m_path)));
        takeBaseline();
        m_asking = false;
        return;
    }
    m_asking = false;
    accept();
}

QString WaitWindow::signature() const {
    const QFileInfo info(m_path);
    return QStringLiteral("%1|%2|%3|%4")
        .arg(info.exists() ? info.lastModified().toMSecsSinceEpoch() : -1)
        .arg(info.exists() ? info.size() : -1)
        .arg(workbookIsOpen(m_path))
        .arg(m_pid > 0 && ProcessWatch::isRunning(m_pid));
}

void WaitWindow::look() {
    if (m_asking)
        return;
    const QString now = signature();
    if (now != m_lastSignature) {
        m_lastSignature = now;
        m_lastChange = QDateTime::currentDateTimeUtc();
        return;
    }
    if (m_patience <= 0 || m_lastChange.secsTo(QDateTime::currentDateTimeUtc()) < m_patience)
        return;
    m_asking = true;
    const int answer = notice(MsgExcelDoesNotAnswer, messageText(MsgContinueExpectation), 2);
    m_asking = false;
    m_lastChange = QDateTime::currentDateTimeUtc();
    if (answer != 1)
        reject();
}

QStringList otherFormatFiles(const QString& workbookPath) {
    const QFileInfo blank(workbookPath);
    const QString base = blank.completeBaseName();
    QStringList folders{blank.absolutePath()};
    for (const QString& folder : {QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation),
                                  QDir::homePath()}) {
        const QString clean = QDir::cleanPath(folder);
        if (!folder.isEmpty() && !folders.contains(clean))
            folders.append(clean);
    }
    QStringList files;
    for (const QString& folder : folders) {
        for (const char* extension : {"ods", "xlsx", "xls", "csv"}) {
            if (blank.suffix().compare(QLatin1String(extension), Qt::CaseInsensitive) == 0 &&
                folder == blank.absolutePath())
                continue;
            files.append(folder + QLatin1Char('/') + base + QLatin1Char('.') + QLatin1String(extension));
        }
    }
    return files;
}

QString workbookFormatName(const QString& workbookPath) {
    return workbookPath.endsWith(QStringLiteral(".xlsx"), Qt::CaseInsensitive) ? QStringLiteral("Excel 2007-365")
                                                                                : QStringLiteral("Excel 97-2003");
}

QString lockOwner(const QString& workbookPath) {
    const QFileInfo blank(workbookPath);
    const QString folder = blank.absolutePath() + QLatin1Char('/');
    QFile office(folder + QStringLiteral(".~lock.") + blank.fileName() + QLatin1Char('#'));
    if (office.exists()) {
        QString text;
        if (office.open(QIODevice::ReadOnly))
            text = QString::fromUtf8(office.read(4096)).trimmed();
        if (text.endsWith(QLatin1Char(';')))
            text.chop(1);
        const QStringList fields = text.split(QLatin1Char(','));
        QString name = fields.value(0).trimmed();
        const QString login = fields.value(1).trimmed();
        if (name.isEmpty())
            name = login;
        QString who = QStringLiteral("LibreOffice");
        if (!name.isEmpty())
            who += QStringLiteral(" of ") + name;
        if (!fields.value(2).trimmed().isEmpty())
            who += QStringLiteral(" on ") + fields.value(2).trimmed();
        if (!fields.value(3).trimmed().isEmpty())
            who += QStringLiteral(" since ") + fields.value(3).trimmed();
        return who + QStringLiteral(" (") + office.fileName() + QLatin1Char(')');
    }
    QFile excel(folder + QStringLiteral("~$") + blank.fileName());
    if (excel.exists()) {
        QString name;
        if (excel.open(QIODevice::ReadOnly)) {
            const QByteArray head = excel.read(64);
            const int length = head.isEmpty() ? 0 : quint8(head.at(0));
            if (length > 0 && length < head.size())
                name = QString::fromLatin1(head.mid(1, length)).trimmed();
        }
        return (name.isEmpty() ? QStringLiteral("Excel") : QStringLiteral("Excel of ") + name) +
               QStringLiteral(" (") + excel.fileName() + QLatin1Char(')');
    }
    return {};
}

} // namespace lw::blank
