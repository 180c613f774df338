/* The peer of tabrix-export's benchmark: a C program that reads the benchmark's SQLite
 * table t (id, code INTEGER; name, city, note TEXT; price, rate REAL; day DATE as ISO
 * text) and writes the same typed cells as tabrix-export does with libxlsxwriter in its
 * constant-memory mode: whole numbers under "0", reals under the general format, texts
 * under "@", dates as date serials under "yyyy-mm-dd", on a sheet named "t" with the
 * caption row frozen.
 *
 *   build-bench/bench/bench_xlsxwriter_sqlite source.db /tmp/peer.xlsx
 */
#include <sqlite3.h>
#include <xlsxwriter.h>

#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: %s DATABASE FILE\n", argv[0]);
        return 2;
    }
    sqlite3* db = NULL;
    sqlite3_stmt* rows = NULL;
    if (sqlite3_open_v2(argv[1], &db, SQLITE_OPEN_READONLY, NULL) != SQLITE_OK
        || sqlite3_prepare_v2(db, "SELECT * FROM t", -1, &rows, NULL) != SQLITE_OK) {
        fprintf(stderr, "%s\n", sqlite3_errmsg(db));
        return 1;
    }
    lxw_workbook_options options = {.constant_memory = LXW_TRUE, .tmpdir = NULL};
    lxw_workbook* workbook = workbook_new_opt(argv[2], &options);
    lxw_worksheet* sheet = workbook_add_worksheet(workbook, "t");
    lxw_format* whole = workbook_add_format(workbook);
    format_set_num_format(whole, "0");
    lxw_format* text = workbook_add_format(workbook);
    format_set_num_format(text, "@");
    lxw_format* day = workbook_add_format(workbook);
    format_set_num_format(day, "yyyy-mm-dd");
    lxw_format* formats[8] = {whole, whole, text, text, text, NULL, NULL, day};
    const int columns = sqlite3_column_count(rows);
    for (int c = 0; c < columns && c < 8; ++c)
        worksheet_write_string(sheet, 0, (lxw_col_t)c, sqlite3_column_name(rows, c), NULL);
    worksheet_freeze_panes(sheet, 1, 0);
    lxw_row_t row = 1;
    while (sqlite3_step(rows) == SQLITE_ROW) {
        for (int c = 0; c < columns && c < 8; ++c) {
            const lxw_col_t col = (lxw_col_t)c;
            if (sqlite3_column_type(rows, c) == SQLITE_NULL)
                continue;
            if (c == 7) {
                lxw_datetime when = {0};
                if (sscanf((const char*)sqlite3_column_text(rows, c), "%d-%d-%d", &when.year, &when.month, &when.day) == 3)
                    worksheet_write_datetime(sheet, row, col, &when, day);
            } else if (formats[c] == text) {
                worksheet_write_string(sheet, row, col, (const char*)sqlite3_column_text(rows, c), text);
            } else {
                worksheet_write_number(sheet, row, col, sqlite3_column_double(rows, c), formats[c]);
            }
        }
        ++row;
    }
    sqlite3_finalize(rows);
    sqlite3_close(db);
    return workbook_close(workbook) == LXW_NO_ERROR ? 0 : 1;
}
