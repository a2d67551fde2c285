// Test helper around pxlib, a Paradox library we did not write: it makes Paradox tables of a given
// version, code page and block size, and prints the records of a table as pxlib reads them.
//
//   lw_pxfixture make <file.db> <version 30|35|40|50|70> <code page> <block KB> <records> [delete] [memo]
//   lw_pxfixture dump <file.db>
// "memo" adds a memo field NOTE whose memos (in <file>.mb) run from none to several 4 KB chunks.
// pxlib's header has no C++ linkage block of its own.
extern "C" {
#include <paradox.h>
}

#include <iconv.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string convert(const std::string& text, const std::string& from, const std::string& to) {
    iconv_t cd = iconv_open(to.c_str(), from.c_str());
    if (cd == (iconv_t)-1) {
        std::fprintf(stderr, "iconv cannot convert %s to %s\n", from.c_str(), to.c_str());
        std::exit(2);
    }
    std::string out(text.size() * 4 + 4, '\0');
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    char* o = out.data();
    size_t outLeft = out.size();
    iconv(cd, &in, &inLeft, &o, &outLeft);
    iconv_close(cd);
    out.resize(out.size() - outLeft);
    return out;
}

std::string cp(int codePage) {
    return "CP" + std::to_string(codePage);
}

// The names hold letters of the code pages the tests use.
const char* names[] = {"Ada Lovelace",    "Борис Пастернак", "Zoë Ørsted",
                       "O'Brien \"Bob\"", "Łukasz Żółw",     "Петя"};

// The .mb file beside a .db file.
std::string blobFileOf(const char* file) {
    std::string name = file;
    return name.substr(0, name.size() - 3) + ".mb";
}

// Memo r: from none through the record's own bytes, small ones sharing a block and long ones
// of a block or several, of the table's names in its code page.
std::string memoText(int r, int codePage) {
    static const int sizes[] = {0, 7, 30, 200, 3000, 9000, 47};
    const std::size_t size = std::size_t(sizes[r % 7]);
    const std::string word = convert(names[(r + 1) % 6], "UTF-8", cp(codePage)) + " " + std::to_string(r) + "; ";
    std::string text;
    while (text.size() < size)
        text += word;
    return text.substr(0, size);
}

int make(const char* file, int version, int codePage, int blockKb, int records, bool deleteSome, bool memo) {
    pxdoc_t* doc = PX_new();
    // pxlib takes the field list over and frees it with its own allocator.
    auto* fields = static_cast<pxfield_t*>(doc->malloc(doc, 12 * sizeof(pxfield_t), "fields"));
    std::memset(fields, 0, 12 * sizeof(pxfield_t));
    const struct {
        const char* name;
        char type;
        int len;
    } columns[] = {{"NAME", pxfAlpha, 24}, {"BORN", pxfDate, 4},     {"SMALL", pxfShort, 2},
                {"BIG", pxfLong, 4},    {"PRICE", pxfNumber, 8},  {"COST", pxfCurrency, 8},
                {"OK", pxfLogical, 1},  {"AT", pxfTime, 4},       {"STAMP", pxfTimestamp, 8},
                {"AMOUNT", pxfBCD, 17}, {"SERIAL", pxfAutoInc, 4}};
    const bool modern = version >= 40;
    const int count = modern ? 11 : 9; // time, timestamp, BCD and autoincrement came with version 4 and 5
    int used = 0;
    for (int i = 0; i < 11; ++i) {
        if (!modern && (columns[i].type == pxfTime || columns[i].type == pxfTimestamp || columns[i].type == pxfBCD ||
                        columns[i].type == pxfAutoInc))
            continue;
        fields[used].px_fname = PX_strdup(doc, columns[i].name);
        fields[used].px_ftype = columns[i].type;
        fields[used].px_flen = columns[i].len;
        fields[used].px_fdc = columns[i].type == pxfBCD ? 2 : 0;
        ++used;
    }
    (void)count;
    if (memo) {
        fields[used].px_fname = PX_strdup(doc, "NOTE");
        fields[used].px_ftype = pxfMemoBLOb;
        fields[used].px_flen = 20; // 10 bytes of the memo itself, then its pointer
        ++used;
    }
    if (PX_create_file(doc, fields, used, file, pxfFileTypNonIndexDB) < 0) {
        std::fprintf(stderr, "cannot create %s\n", file);
        return 1;
    }
    if (memo && PX_set_blob_file(doc, blobFileOf(file).c_str()) < 0) {
        std::fprintf(stderr, "cannot create the memo file of %s\n", file);
        return 1;
    }
    doc->px_head->px_fileversion = version;
    doc->px_head->px_maxtablesize = blockKb;
    PX_set_value(doc, "codepage", float(codePage));
    PX_set_tablename(doc, "fixture");

    const int recordSize = PX_get_recordsize(doc);
    std::vector<char> data(static_cast<std::size_t>(recordSize));
    for (int r = 0; r < records; ++r) {
        std::fill(data.begin(), data.end(), 0);
        int at = 0;
        const bool blank = r % 7 == 6; // every seventh record is blank but for its name
        for (int i = 0; i < used; ++i) {
            pxfield_t& f = fields[i];
            char* d = data.data() + at;
            switch (f.px_ftype) {
            case pxfAlpha: {
                std::string text = convert(names[r % 6], "UTF-8", cp(codePage));
                text += " " + std::to_string(r);
                PX_put_data_alpha(doc, d, f.px_flen, text.data());
                break;
            }
            case pxfDate:
                if (!blank)
                    PX_put_data_long(
                        doc, d, 4, int(PX_GregorianToSdn(1900 + r % 150, 1 + r % 12, 1 + r % 28) - 1721425));
                break;
            case pxfShort:
                if (!blank)
                    PX_put_data_short(doc, d, 2, short(r % 2 ? -r * 7 : r * 7));
                break;
            case pxfLong:
                if (!blank)
                    PX_put_data_long(doc, d, 4, r % 2 ? -100000 * r - 1 : 100000 * r);
                break;
            case pxfNumber:
                if (!blank)
                    PX_put_data_double(doc, d, 8, (r % 3 ? 1 : -1) * (r * 1.25 + 0.1));
                break;
            case pxfCurrency:
                if (!blank)
                    PX_put_data_double(doc, d, 8, r * 100.5);
                break;
            case pxfLogical:
                if (!blank)
                    PX_put_data_byte(doc, d, 1, char(r % 2));
                break;
            case pxfTime:
                if (!blank)
                    PX_put_data_long(doc, d, 4, (r * 3723 % 86400) * 1000 + r % 1000);
                break;
            case pxfTimestamp:
                if (!blank)
                    PX_put_data_double(
                        doc, d, 8,
                        (double(PX_GregorianToSdn(2000 + r % 30, 1 + r % 12, 1 + r % 28) - 1721425) *
                             86400.0 +
                         (r * 61 % 86400)) *
                            1000.0);
                break;
            case pxfBCD:
                if (!blank) {
                    char text[40];
                    std::snprintf(text, sizeof text, "%s%d.%02d", r % 4 == 1 ? "-" : "", r * 13, r % 100);
                    PX_put_data_bcd(doc, d, 2, text);
                }
                break;
            case pxfAutoInc:
                PX_put_data_long(doc, d, 4, r + 1);
                break;
            case pxfMemoBLOb: {
                std::string text = memoText(r, codePage);
                if (!text.empty())
                    PX_put_data_blob(doc, d, f.px_flen, text.data(), int(text.size()));
                break;
            }
            }
            at += f.px_flen;
        }
        if (PX_put_record(doc, data.data()) < 0) {
            std::fprintf(stderr, "cannot write record %d\n", r);
            return 1;
        }
    }
    if (deleteSome) {
        // Deleting from the back keeps the numbers of the records still to delete.
        for (int r = records - 1; r >= 0; --r) {
            if (r % 5 == 2)
                PX_delete_record(doc, r);
        }
    }
    PX_close(doc);
    PX_delete(doc);
    if (version < 40) {
        // pxlib writes a version 3 layout but marks every table as version 5: mark it as what it is.
        FILE* f = std::fopen(file, "r+b");
        std::fseek(f, 0x39, SEEK_SET);
        std::fputc(version == 30 ? 3 : 4, f);
        std::fclose(f);
    }
    return 0;
}

int dump(const char* file) {
    pxdoc_t* doc = PX_new();
    if (PX_open_file(doc, file) < 0) {
        std::fprintf(stderr, "pxlib cannot open %s\n", file);
        return 1;
    }
    const int n = PX_get_num_fields(doc);
    pxfield_t* fields = PX_get_fields(doc);
    FILE* blobs = std::fopen(blobFileOf(file).c_str(), "rb");
    if (blobs) {
        std::fclose(blobs);
        PX_set_blob_file(doc, blobFileOf(file).c_str());
    }
    int codePage = doc->px_head->px_doscodepage;
    if (codePage == 0)
        codePage = 437;
    std::vector<std::string> header;
    for (int i = 0; i < n; ++i)
        std::printf("%s%s", i ? "|" : "", fields[i].px_fname);
    std::printf("\n");
    const int records = PX_get_num_records(doc);
    std::vector<char> data(static_cast<std::size_t>(PX_get_recordsize(doc)));
    for (int r = 0; r < records; ++r) {
        if (PX_get_record(doc, r, data.data()) == nullptr) {
            std::fprintf(stderr, "pxlib cannot read record %d\n", r);
            return 1;
        }
        int at = 0;
        for (int i = 0; i < n; ++i) {
            pxfield_t& f = fields[i];
            char* d = data.data() + at;
            std::string cell = "null";
            char buf[64];
            // A field of zero bytes is blank. pxlib's own test for that reads a long of 8 bytes
            // on 64-bit machines and so misses it: the helper looks at the bytes itself.
            bool blank = true;
            for (int k = 0; k < f.px_flen; ++k)
                blank = blank && d[k] == 0;
            switch (blank ? 0 : f.px_ftype) {
            case pxfAlpha: {
                char* value = nullptr;
                if (PX_get_data_alpha(doc, d, f.px_flen, &value) > 0 && value) {
                    cell = convert(value, cp(codePage), "UTF-8");
                    doc->free(doc, value);
                }
                break;
            }
            case pxfDate: {
                long v = 0;
                if (PX_get_data_long(doc, d, 4, &v) > 0) {
                    int y, m, dd;
                    PX_SdnToGregorian(v + 1721425, &y, &m, &dd);
                    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", y, m, dd);
                    cell = buf;
                }
                break;
            }
            case pxfShort: {
                short v = 0;
                if (PX_get_data_short(doc, d, 2, &v) > 0)
                    cell = std::to_string(v);
                break;
            }
            case pxfLong:
            case pxfAutoInc: {
                long v = 0;
                if (PX_get_data_long(doc, d, 4, &v) > 0)
                    cell = std::to_string(v);
                break;
            }
            case pxfNumber:
            case pxfCurrency: {
                double v = 0;
                if (PX_get_data_double(doc, d, 8, &v) > 0) {
                    std::snprintf(buf, sizeof buf, "%.17g", v);
                    cell = buf;
                }
                break;
            }
            case pxfLogical: {
                char v = 0;
                if (PX_get_data_byte(doc, d, 1, &v) > 0)
                    cell = v ? "true" : "false";
                break;
            }
            case pxfTime: {
                long v = 0;
                if (PX_get_data_long(doc, d, 4, &v) > 0) {
                    std::snprintf(buf, sizeof buf, "%02ld:%02ld:%02ld.%03ld", v / 3600000, v / 60000 % 60,
                                  v / 1000 % 60, v % 1000);
                    cell = buf;
                }
                break;
            }
            case pxfTimestamp: {
                double v = 0;
                if (PX_get_data_double(doc, d, 8, &v) > 0) {
                    const long long ms = (long long)v;
                    int y, m, dd;
                    PX_SdnToGregorian(long(ms / 86400000) + 1721425, &y, &m, &dd);
                    const long long t = ms % 86400000;
                    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02lld:%02lld:%02lld.%03lld", y, m, dd,
                                  t / 3600000, t / 60000 % 60, t / 1000 % 60, t % 1000);
                    cell = buf;
                }
                break;
            }
            case pxfBCD: {
                char* value = nullptr;
                if (PX_get_data_bcd(doc, reinterpret_cast<unsigned char*>(d), f.px_fdc, &value) > 0 &&
                    value) {
                    cell = std::string("d:") + value;
                    doc->free(doc, value);
                }
                break;
            }
            case pxfMemoBLOb:
            case pxfFmtMemoBLOb: {
                char* value = nullptr;
                int mod = 0;
                int size = 0;
                if (PX_get_data_blob(doc, d, f.px_flen, &mod, &size, &value) > 0 && value) {
                    cell = convert(std::string(value, std::size_t(size)), cp(codePage), "UTF-8");
                    doc->free(doc, value);
                }
                break;
            }
            }
            std::printf("%s%s", i ? "|" : "", cell.c_str());
            at += f.px_flen;
        }
        std::printf("\n");
    }
    PX_close(doc);
    PX_delete(doc);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    PX_boot();
    int rc = 2;
    bool deleteSome = false;
    bool memo = false;
    for (int i = 7; i < argc; ++i) {
        deleteSome = deleteSome || std::strcmp(argv[i], "delete") == 0;
        memo = memo || std::strcmp(argv[i], "memo") == 0;
    }
    if (argc >= 7 && std::strcmp(argv[1], "make") == 0)
        rc = make(argv[2], std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]), std::atoi(argv[6]),
                  deleteSome, memo);
    else if (argc == 3 && std::strcmp(argv[1], "dump") == 0)
        rc = dump(argv[2]);
    else
        std::fprintf(stderr,
                     "usage: lw_pxfixture make FILE VERSION CODEPAGE BLOCKKB RECORDS [delete] [memo] | dump FILE\n");
    PX_shutdown();
    return rc;
}
