// The window that waits while the user arranges the blank in the spreadsheet program.
#include "tools/blank/waitwindow.h"

#include "platform/launcher.h"
#include "tools/common/toolkit.h"
#include "ui/messages.h"
#include "ui/mydialog.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

namespace lw::blank {

namespace {

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
    // The spreadsheet program covers the screen; the window stays where the user can find it.
    setWindowFlags(Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint | Qt::CustomizeWindowHint |
                   Qt::WindowCloseButtonHint);

    Label1 = new QLabel(this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setTextFormat(Qt::PlainText);
    Label1->setWordWrap(true);
    Label1->setText(QStringLiteral("The blank %1 is open in the spreadsheet program.\n\n"
                                   "Arrange it: move the marker cells, add titles, fonts, borders and "
                                   "totals. Save it as an Excel 97-2003 workbook (.xls) under the same "
                                   "name and close it, then press OK.\n\nNO gives up.")
                        .arg(QDir::toNativeSeparators(workbookPath)));
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

void WaitWindow::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    testLog(windowTitle(), m_path);
}

void WaitWindow::OKBtnClick() {
    if (spreadsheetHolds()) {
        m_asking = true;
        notice(MsgCloseExcel, m_path);
        m_asking = false;
        return;
    }
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

} // namespace lw::blank
