/* The benchmarks' reference for the report generator: the same query with the SQLite C API and the
   same cells written with libxlsxwriter in constant-memory mode (a title, a header row, one row per
   record, a total), as small as a program that does only that can be. */
#include <sqlite3.h>
#include <stdio.h>
#include <string.h>
#include <xlsxwriter.h>

int main(int argc, char** argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: ref_report DATABASE TABLE OUTPUT.xlsx\n");
        return 2;
    }
    sqlite3* db = NULL;
    if (sqlite3_open_v2(argv[1], &db, SQLITE_OPEN_READONLY, NULL) != SQLITE_OK) {
        fprintf(stderr, "%s\n", sqlite3_errmsg(db));
        return 1;
    }
    char sql[512];
    snprintf(sql, sizeof sql, "SELECT * FROM \"%s\"", argv[2]);
    sqlite3_stmt* st = NULL;
    if (sqlite3_prepare_v2(db, sql, -1, &st, NULL) != SQLITE_OK) {
        fprintf(stderr, "%s\n", sqlite3_errmsg(db));
        return 1;
    }
    lxw_workbook_options options = {.constant_memory = LXW_TRUE, .tmpdir = NULL};
    lxw_workbook* book = workbook_new_opt(argv[3], &options);
    lxw_worksheet* sheet = workbook_add_worksheet(book, NULL);
    lxw_format* bold = workbook_add_format(book);
    format_set_bold(bold);
    lxw_format* date = workbook_add_format(book);
    format_set_num_format(date, "yyyy-mm-dd");
    const int columns = sqlite3_column_count(st);
    worksheet_write_string(sheet, 0, 0, "Report", bold);
    for (int c = 0; c < columns; ++c)
        worksheet_write_string(sheet, 2, (lxw_col_t)c, sqlite3_column_name(st, c), bold);
    lxw_row_t row = 3;
    while (sqlite3_step(st) == SQLITE_ROW) {
        for (int c = 0; c < columns; ++c) {
            switch (sqlite3_column_type(st, c)) {
            case SQLITE_INTEGER:
            case SQLITE_FLOAT:
                worksheet_write_number(sheet, row, (lxw_col_t)c, sqlite3_column_double(st, c), NULL);
                break;
            case SQLITE_NULL:
                break;
            default: {
                const char* text = (const char*)sqlite3_column_text(st, c);
                const char* type = sqlite3_column_decltype(st, c);
                int y, m, d;
                if (type && strcmp(type, "DATE") == 0 && sscanf(text, "%d-%d-%d", &y, &m, &d) == 3) {
                    lxw_datetime dt = {y, m, d, 0, 0, 0};
                    worksheet_write_datetime(sheet, row, (lxw_col_t)c, &dt, date);
                } else {
                    worksheet_write_string(sheet, row, (lxw_col_t)c, text, NULL);
                }
            }
            }
        }
        ++row;
    }
    char total[64];
    snprintf(total, sizeof total, "=SUM(E4:E%u)", (unsigned)row);
    worksheet_write_formula(sheet, row, 4, total, NULL);
    sqlite3_finalize(st);
    sqlite3_close(db);
    return workbook_close(book) == LXW_NO_ERROR ? 0 : 1;
}
