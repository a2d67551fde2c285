// The BIFF8 record layer shared by the workbook reader and writer: record numbers, little-endian
// reading and writing, unicode strings across CONTINUE records, and the walk over formula tokens.
#pragma once

#include "workbook/xls.h"

#include <QByteArray>
#include <QString>

#include <cstring>
#include <vector>

namespace lw::xls::biff {

enum RecordId : quint16 {
    rFormula = 0x0006,
    rEof = 0x000A,
    rCalcCount = 0x000C,
    rCalcMode = 0x000D,
    rPrecision = 0x000E,
    rRefMode = 0x000F,
    rDelta = 0x0010,
    rIteration = 0x0011,
    rProtect = 0x0012,
    rPassword = 0x0013,
    rHeader = 0x0014,
    rFooter = 0x0015,
    rExternSheet = 0x0017,
    rName = 0x0018,
    rWindowProtect = 0x0019,
    rVerticalPageBreaks = 0x001A,
    rHorizontalPageBreaks = 0x001B,
    rNote = 0x001C,
    rSelection = 0x001D,
    rDateMode = 0x0022,
    rExternName = 0x0023,
    rLeftMargin = 0x0026,
    rRightMargin = 0x0027,
    rTopMargin = 0x0028,
    rBottomMargin = 0x0029,
    rPrintHeaders = 0x002A,
    rPrintGridlines = 0x002B,
    rFilePass = 0x002F,
    rFont = 0x0031,
    rContinue = 0x003C,
    rWindow1 = 0x003D,
    rBackup = 0x0040,
    rPane = 0x0041,
    rCodepage = 0x0042,
    rPls = 0x004D,
    rDefColWidth = 0x0055,
    rCrn = 0x005A,
    rXct = 0x0059,
    rObj = 0x005D,
    rUncalced = 0x005E,
    rSaveRecalc = 0x005F,
    rObjProtect = 0x0063,
    rColInfo = 0x007D,
    rImData = 0x007F,
    rGuts = 0x0080,
    rWsBool = 0x0081,
    rGridSet = 0x0082,
    rHCenter = 0x0083,
    rVCenter = 0x0084,
    rBoundSheet = 0x0085,
    rWriteProt = 0x0086,
    rCountry = 0x008C,
    rHideObj = 0x008D,
    rPalette = 0x0092,
    rFilterMode = 0x009B,
    rAutoFilterInfo = 0x009D,
    rAutoFilter = 0x009E,
    rScl = 0x00A0,
    rSetup = 0x00A1,
    rMulRk = 0x00BD,
    rMulBlank = 0x00BE,
    rMsoDrawingGroup = 0x00EB,
    rMsoDrawing = 0x00EC,
    rMsoDrawingSelection = 0x00ED,
    rPhoneticPr = 0x00EF,
    rScenMan = 0x00AE,
    rScenario = 0x00AF,
    rObjProj = 0x00D3,
    rRString = 0x00D6,
    rDbCell = 0x00D7,
    rBookBool = 0x00DA,
    rScenProtect = 0x00DD,
    rXf = 0x00E0,
    rInterfaceHdr = 0x00E1,
    rInterfaceEnd = 0x00E2,
    rMergedCells = 0x00E5,
    rSst = 0x00FC,
    rLabelSst = 0x00FD,
    rExtSst = 0x00FF,
    rLabelRanges = 0x015F,
    rUsesElfs = 0x0160,
    rDsf = 0x0161,
    rSupBook = 0x01AE,
    rCondFmt = 0x01B0,
    rCf = 0x01B1,
    rDval = 0x01B2,
    rRefreshAll = 0x01B7,
    rHlink = 0x01B8,
    rCodeName = 0x01BA,
    rTxo = 0x01B6,
    rDv = 0x01BE,
    rExcel9File = 0x01C0,
    rRecalcId = 0x01C1,
    rDimensions = 0x0200,
    rBlank = 0x0201,
    rNumber = 0x0203,
    rLabel = 0x0204,
    rBoolErr = 0x0205,
    rString = 0x0207,
    rRow = 0x0208,
    rIndex = 0x020B,
    rArray = 0x0221,
    rDefaultRowHeight = 0x0225,
    rTable = 0x0236,
    rWindow2 = 0x023E,
    rRk = 0x027E,
    rStyle = 0x0293,
    rFormat = 0x041E,
    rShrFmla = 0x04BC,
    rQuickTip = 0x0800,
    rBof = 0x0809,
    rSheetExt = 0x0862,
    rFeatHdr = 0x0867,
    rFeat = 0x0868,
    rCondFmt12 = 0x0879,
    rCf12 = 0x087A,
    rCfEx = 0x087B,
    rXfCrc = 0x087C,
    rXfExt = 0x087D,
    rContinueFrt = 0x0812,
    rPlv = 0x088B,
    rStyleExt = 0x0892,
    rTheme = 0x0896,
    rHeaderFooter = 0x089C,
    rMtrSettings = 0x089A,
    rForceFullCalculation = 0x08A3,
};

inline quint16 u16(const char* p) {
    return quint16(quint8(p[0]) | (quint8(p[1]) << 8));
}
inline quint32 u32(const char* p) {
    return quint32(quint8(p[0])) | (quint32(quint8(p[1])) << 8) | (quint32(quint8(p[2])) << 16) |
           (quint32(quint8(p[3])) << 24);
}
inline double f64(const char* p) {
    double d;
    std::memcpy(&d, p, 8);
    return d;
}
inline void put16(char* p, quint16 v) {
    p[0] = char(v & 0xFF);
    p[1] = char(v >> 8);
}
inline void put32(char* p, quint32 v) {
    put16(p, quint16(v & 0xFFFF));
    put16(p + 2, quint16(v >> 16));
}

// Appends little-endian values to a byte array.
class Out {
public:
    explicit Out(QByteArray& b) : m_b(b) {}
    Out& u8(quint8 v) {
        m_b.append(char(v));
        return *this;
    }
    Out& u16(quint16 v) {
        char p[2];
        put16(p, v);
        m_b.append(p, 2);
        return *this;
    }
    Out& u32(quint32 v) {
        char p[4];
        put32(p, v);
        m_b.append(p, 4);
        return *this;
    }
    Out& f64(double v) {
        char p[8];
        std::memcpy(p, &v, 8);
        m_b.append(p, 8);
        return *this;
    }
    Out& bytes(const QByteArray& v) {
        m_b.append(v);
        return *this;
    }

private:
    QByteArray& m_b;
};

// Appends one record (header and data) to a byte array.
void appendRecord(QByteArray& out, quint16 id, const QByteArray& data);
// Appends a record whose data may be longer than one record holds, the rest in CONTINUE records
// (for data without strings that must restart at a record boundary).
void appendLongRecord(QByteArray& out, quint16 id, const QByteArray& data);

// A string as a BIFF8 unicode string: a length of 8 or 16 bits, an option byte (compressed when
// every character is below U+0100) and the characters.
QByteArray unicodeString(const QString& s, bool shortLength);

// Reads the data of a record and of the CONTINUE records after it as one sequence, where a string's
// characters restart with a new option byte at each record boundary. Every read is checked: reading
// past the end throws Error.
class Reader {
public:
    Reader() = default;
    explicit Reader(const QByteArray& data) { addSegment(data.constData(), data.size()); }
    void addSegment(const char* data, qsizetype size) { m_segs.push_back({data, size}); }

    bool atEnd() const;
    qsizetype remaining() const; // bytes left in all segments
    quint8 u8();
    quint16 u16();
    quint32 u32();
    double f64();
    void skip(qsizetype n);
    QByteArray bytes(qsizetype n);
    // A unicode string whose length field is 16 bits (or 8 bits when shortLength).
    QString string(bool shortLength = false);

private:
    struct Seg {
        const char* data;
        qsizetype size;
    };
    void need(qsizetype n); // moves to the next segment when the current one is used up
    std::vector<Seg> m_segs;
    std::size_t m_seg = 0;
    qsizetype m_pos = 0;
};

// Formula tokens -----------------------------------------------------------------------------

// The size in bytes of the token at tokens[pos] (its identifier included), or -1 when the token
// is unknown or runs past the end.
int tokenSize(const QByteArray& tokens, int pos);

// The base identifier of a token (the class bits 0x20/0x40 cleared for classed tokens).
inline quint8 baseToken(quint8 t) {
    return t >= 0x20 ? quint8((t & 0x1F) | 0x20) : t;
}

// A classed token of the base given, in the class (0x20 reference, 0x40 value, 0x60 array) of
// another token.
inline quint8 withClass(quint8 base, quint8 classOf) {
    return quint8((base & 0x1F) | (classOf & 0x60));
}

enum Ptg : quint8 {
    ptgExp = 0x01,
    ptgTbl = 0x02,
    ptgParen = 0x15,
    ptgStr = 0x17,
    ptgAttr = 0x19,
    ptgArray = 0x20,
    ptgFunc = 0x21,
    ptgFuncVar = 0x22,
    ptgName = 0x23,
    ptgRef = 0x24,
    ptgArea = 0x25,
    ptgMemArea = 0x26,
    ptgMemErr = 0x27,
    ptgMemNoMem = 0x28,
    ptgMemFunc = 0x29,
    ptgRefErr = 0x2A,
    ptgAreaErr = 0x2B,
    ptgRefN = 0x2C,
    ptgAreaN = 0x2D,
    ptgNameX = 0x39,
    ptgRef3d = 0x3A,
    ptgArea3d = 0x3B,
    ptgRefErr3d = 0x3C,
    ptgAreaErr3d = 0x3D,
};

// Fixed argument count of a built-in function called through tFunc, -1 when not known.
int fixedArgumentCount(quint16 function);

// Number formats ----------------------------------------------------------------------------

// The code of a built-in number format (0..49), empty when the index is not one.
QString builtinFormat(quint16 index);
// The built-in index of a format code, -1 when it is not one of the built-in formats.
int builtinFormatIndex(const QString& code);
bool isDateFormatCode(const QString& code);

} // namespace lw::xls::biff
