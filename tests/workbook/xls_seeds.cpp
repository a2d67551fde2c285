// Test helper: the seed corpus of the reader's fuzz target. Writes a few workbooks with our writer
// and takes the "Workbook" stream out of each of them and of the .xls files given (LibreOffice's).

// libgsf first: glib names a struct member "signals", which Qt's keywords would rewrite.
#include <gsf/gsf.h>

#include "workbook/xls.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

using namespace lw::xls;

namespace {

bool extract(const QString& xls, const QString& out) {
    GsfInput* input = gsf_input_stdio_new(QFile::encodeName(xls).constData(), nullptr);
    if (!input)
        return false;
    GsfInfile* ole = gsf_infile_msole_new(input, nullptr);
    g_object_unref(input);
    if (!ole)
        return false;
    GsfInput* stream = gsf_infile_child_by_name(ole, "Workbook");
    g_object_unref(ole);
    if (!stream)
        return false;
    QByteArray bytes(qsizetype(gsf_input_size(stream)), '\0');
    const bool ok =
        gsf_input_read(stream, size_t(bytes.size()), reinterpret_cast<guint8*>(bytes.data())) != nullptr;
    g_object_unref(stream);
    QFile f(out);
    return ok && f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

void ours(const QString& path, int variant) {
    WorkbookWriter w(path);
    CellFormat head;
    head.font.bold = true;
    head.border = true;
    head.numberFormat = variant ? QStringLiteral("dd/mm/yyyy") : QStringLiteral("0.00");
    const quint16 xf = w.addFormat(head);
    w.setDate1904(variant == 1);
    w.beginSheet(QStringLiteral("Seed"));
    w.setColumnWidth(0, 1, 4000);
    w.setRow(RowFormat{0, 400, true, false, xf});
    const QByteArray sum = QByteArray::fromHex("250100020000c000c0") + QByteArray::fromHex("19100000");
    const QByteArray ref3d = QByteArray::fromHex("5a0100000000c0") + QByteArray::fromHex("1e020005");
    for (int r = 0; r < 40 * (variant + 1); ++r) {
        w.writeText(r, 0, xf, QStringLiteral("value %1 \u0416").arg(r % 7));
        w.writeNumber(r, 1, 15, r * 1.25);
        w.writeBoolean(r, 2, 15, r % 2);
        w.writeFormula(r, 3, 15, Formula(r % 2 ? sum : ref3d),
                       Value{ValueType::Text, 0, QStringLiteral("x")});
    }
    w.addMerged({0, 1, 0, 2});
    w.addRowBreak(10);
    w.setPrintTitleRows(0, 0);
    w.beginSheet(QStringLiteral("Other"));
    w.writeError(0, 0, 15, 0x07);
    w.finish();
}

} // namespace

int main(int argc, char** argv) {
    // --files: the seeds are the workbook files themselves (for the target that reads whole files).
    const bool files = argc > 1 && QByteArray(argv[1]) == "--files";
    if (files) {
        --argc;
        ++argv;
    }
    if (argc < 2) {
        std::fprintf(stderr, "usage: lw_xls_seeds [--files] corpus-dir [file.xls...]\n");
        return 2;
    }
    gsf_init();
    const QString dir = QString::fromLocal8Bit(argv[1]);
    const auto extract = [files](const QString& xls, const QString& out) {
        return files ? QFile::copy(xls, out) : ::extract(xls, out);
    };
    QDir().mkpath(dir);
    QTemporaryDir tmp;
    int n = 0;
    for (int v = 0; v < 3; ++v) {
        const QString path = tmp.filePath(QStringLiteral("ours%1.xls").arg(v));
        ours(path, v);
        if (!extract(path, dir + QStringLiteral("/ours-%1").arg(v)))
            return 1;
        ++n;
    }
    for (int i = 2; i < argc; ++i) {
        if (!extract(QString::fromLocal8Bit(argv[i]), dir + QStringLiteral("/given-%1").arg(i)))
            return 1;
        ++n;
    }
    std::printf("%d seeds\n", n);
    return 0;
}
