// Test helper: prints every cell libfreexl reads from an .xls workbook, as lines
// "sheet<TAB>name" and "row<TAB>col<TAB>type<TAB>value", so tests can compare with a second reader.
#include <freexl.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: lw_freexl_dump file.xls\n");
        return 2;
    }
    const void* handle = nullptr;
    int ret = freexl_open(argv[1], &handle);
    if (ret != FREEXL_OK) {
        std::printf("error\t%d\n", ret);
        return 1;
    }
    unsigned int sheets = 0;
    freexl_get_info(handle, FREEXL_BIFF_SHEET_COUNT, &sheets);
    for (unsigned short s = 0; s < sheets; ++s) {
        const char* name = nullptr;
        freexl_get_worksheet_name(handle, s, &name);
        std::printf("sheet\t%s\n", name ? name : "");
        if (freexl_select_active_worksheet(handle, s) != FREEXL_OK)
            continue;
        unsigned int rows = 0;
        unsigned short cols = 0;
        freexl_worksheet_dimensions(handle, &rows, &cols);
        for (unsigned int r = 0; r < rows; ++r) {
            for (unsigned short c = 0; c < cols; ++c) {
                FreeXL_CellValue cell;
                if (freexl_get_cell_value(handle, r, c, &cell) != FREEXL_OK)
                    continue;
                switch (cell.type) {
                case FREEXL_CELL_INT:
                    std::printf("%u\t%u\tint\t%d\n", r, c, cell.value.int_value);
                    break;
                case FREEXL_CELL_DOUBLE:
                    std::printf("%u\t%u\tdouble\t%.15g\n", r, c, cell.value.double_value);
                    break;
                case FREEXL_CELL_TEXT:
                case FREEXL_CELL_SST_TEXT:
                    std::printf("%u\t%u\ttext\t%s\n", r, c, cell.value.text_value);
                    break;
                case FREEXL_CELL_DATE:
                case FREEXL_CELL_DATETIME:
                case FREEXL_CELL_TIME:
                    std::printf("%u\t%u\tdate\t%s\n", r, c, cell.value.text_value);
                    break;
                default:
                    break;
                }
            }
        }
    }
    freexl_close(handle);
    return 0;
}
