// Test fixtures of the table data tests: dBASE tables and memo files written byte by byte from
// the format's description, and the text form of records that the tests compare.
#pragma once

#include "data/tabledata.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace lwtest {

struct DbfField {
    QByteArray name;
    char type = 'C';
    int length = 1;
    int decimals = 0;
    quint8 flags = 0; // Visual FoxPro field flags
};

// A dBASE table: header, field descriptors, the records as given (deletion flag first), the end
// mark. count < 0: the header counts the records given.
QByteArray dbfTable(quint8 version, quint8 languageDriver, const QList<DbfField>& fields,
                    const QList<QByteArray>& records, qint64 count = -1);

// One record: the deletion flag (' ' or '*') and each field's bytes, padded to its length with
// blanks (left-aligned for C, right-aligned for N and F).
QByteArray dbfRecord(const QList<DbfField>& fields, const QList<QByteArray>& cells, char flag = ' ');

// Memo files. Each memo's block number is returned in blocks, in order.
QByteArray dbt3Memo(const QList<QByteArray>& memos, QList<int>& blocks);
QByteArray dbt4Memo(const QList<QByteArray>& memos, QList<int>& blocks, int blockSize = 512);
QByteArray fptMemo(const QList<QByteArray>& memos, QList<int>& blocks, int blockSize = 64);

QByteArray le32(quint32 v);
QByteArray le64(quint64 v);

// A value as the tests write it: null, numbers, "d:<decimal text>", ISO dates and times,
// true/false, text as it is.
QString show(const lw::data::Value& v);
// The field names joined by "|", then every record of the stream, each as its values joined by "|".
QStringList rows(lw::data::RecordStream& stream, bool withNames = true);

bool writeFile(const QString& path, const QByteArray& bytes);

} // namespace lwtest

namespace lwtest {
// The text in a code page ("CP1251", ...) through iconv; empty when it cannot be encoded.
QByteArray encode(const QString& text, const char* codePage);
} // namespace lwtest
