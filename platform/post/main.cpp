// ledgerwick-post: sends a completion message (a decimal number) to a running Ledgerwick main window.
// Sibling tools call it when they are done: 1029 after writing the workbook path, 1025 otherwise.
#include "platform/messageport.h"

#include <QCoreApplication>
#include <QString>
#include <QStringList>
#include <QTextStream>

#include <cstdio>

namespace {

constexpr int ExitDelivered = 0;
constexpr int ExitNotDelivered = 1;
constexpr int ExitUsage = 2;

const char* const Usage =
    "Usage: ledgerwick-post [--window ADDRESS] NUMBER\n"
    "Sends the message NUMBER (1025: restore, 1029: workbook written) to a running\n"
    "Ledgerwick main window: the one at ADDRESS, else the one named by the environment\n"
    "variable LEDGERWICK_WINDOW, else the most recently started one of this user.\n";

int complain(const QString& text, int code) {
    QTextStream(stderr) << "ledgerwick-post: " << text << '\n';
    return code;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments();
    args.removeFirst();

    QString window;
    bool windowGiven = false;
    QString numberText;
    bool numberGiven = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            std::fputs(Usage, stdout);
            return ExitDelivered;
        }
        if (arg == QLatin1String("--window")) {
            if (i + 1 >= args.size())
                return complain(QStringLiteral("--window needs an address\n") + QLatin1String(Usage),
                                ExitUsage);
            window = args[++i];
            windowGiven = true;
        } else if (arg.startsWith(QLatin1String("--window="))) {
            window = arg.mid(9);
            windowGiven = true;
        } else if (!numberGiven && !arg.startsWith(QLatin1Char('-'))) {
            numberText = arg;
            numberGiven = true;
        } else {
            return complain(QStringLiteral("unexpected argument \"%1\"\n").arg(arg) + QLatin1String(Usage),
                            ExitUsage);
        }
    }
    if (!numberGiven)
        return complain(QStringLiteral("no message number given\n") + QLatin1String(Usage), ExitUsage);
    const std::optional<int> number = lw::MessagePort::parseLine(numberText.toUtf8());
    if (!number || numberText.trimmed() != numberText)
        return complain(QStringLiteral("\"%1\" is not a decimal message number").arg(numberText), ExitUsage);
    if (windowGiven && window.isEmpty())
        return complain(QStringLiteral("the window address is empty"), ExitUsage);

    QString error;
    if (windowGiven)
        return lw::MessagePort::post(window, *number, &error) ? ExitDelivered
                                                              : complain(error, ExitNotDelivered);

    const QString fromEnvironment = qEnvironmentVariable("LEDGERWICK_WINDOW");
    if (!fromEnvironment.isEmpty())
        return lw::MessagePort::post(fromEnvironment, *number, &error) ? ExitDelivered
                                                                       : complain(error, ExitNotDelivered);

    // No address at all: the most recently started main window that still answers.
    const QString dir = lw::MessagePort::directory();
    const QStringList ports = lw::MessagePort::livePorts(dir);
    if (ports.isEmpty())
        return complain(QStringLiteral("no running Ledgerwick main window was found%1")
                            .arg(dir.isEmpty() ? QString() : QStringLiteral(" in ") + dir),
                        ExitNotDelivered);
    // A port whose process id now belongs to another program does not connect: try the next.
    // One that connects and then fails is the window meant, so the failure is reported.
    for (const QString& port : ports) {
        bool reached = false;
        if (lw::MessagePort::post(port, *number, &error, 5000, &reached))
            return ExitDelivered;
        if (reached)
            break;
    }
    return complain(error, ExitNotDelivered);
}
