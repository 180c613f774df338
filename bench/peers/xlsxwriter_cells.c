/* The peer of the spreadsheet exporter's benchmark: libxlsxwriter in its constant-memory
 * mode writes the same cells (a caption row, then COUNT rows of 2 integers, 2 reals,
 * 2 texts, a date and a date-time).
 *
 *   build-bench/bench/bench_xlsxwriter_cells 1000000 /tmp/peer.xlsx
 */
#include <xlsxwriter.h>

#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <time.h>

int main(int argc, char** argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: %s COUNT FILE\n", argv[0]);
        return 2;
    }
    const long count = atol(argv[1]);
    struct timespec start, end;
    clock_gettime(CLOCK_MONOTONIC, &start);
    lxw_workbook_options options = {.constant_memory = LXW_TRUE, .tmpdir = NULL};
    lxw_workbook* workbook = workbook_new_opt(argv[2], &options);
    lxw_worksheet* sheet = workbook_add_worksheet(workbook, "Tabrix 4.61");
    lxw_format* integer = workbook_add_format(workbook);
    format_set_num_format(integer, "0");
    lxw_format* text = workbook_add_format(workbook);
    format_set_num_format(text, "@");
    lxw_format* date = workbook_add_format(workbook);
    format_set_num_format_index(date, 14);
    lxw_format* dateTime = workbook_add_format(workbook);
    format_set_num_format_index(dateTime, 22);
    const char* captions[] = {"i1", "i2", "f1", "f2", "t1", "t2", "d1", "d2"};
    for (int c = 0; c < 8; ++c) worksheet_write_string(sheet, 0, (lxw_col_t)c, captions[c], NULL);
    char buffer[64];
    for (long r = 0; r < count; ++r) {
        const lxw_row_t row = (lxw_row_t)(r + 1);
        worksheet_write_number(sheet, row, 0, (double)r, integer);
        worksheet_write_number(sheet, row, 1, (double)r, integer);
        snprintf(buffer, sizeof buffer, "%g", r * 0.25);
        worksheet_write_string(sheet, row, 2, buffer, text);
        worksheet_write_string(sheet, row, 3, buffer, text);
        snprintf(buffer, sizeof buffer, "text %ld", r);
        worksheet_write_string(sheet, row, 4, buffer, text);
        worksheet_write_string(sheet, row, 5, buffer, text);
        worksheet_write_number(sheet, row, 6, 40000.0 + (double)(r % 3000), date);
        worksheet_write_number(sheet, row, 7, 40000.5 + (double)(r % 3000), dateTime);
    }
    const lxw_error error = workbook_close(workbook);
    clock_gettime(CLOCK_MONOTONIC, &end);
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    printf("libxlsxwriter: %ld rows x 8, %.2f s, peak %ld KB\n", count,
           (double)(end.tv_sec - start.tv_sec) + (double)(end.tv_nsec - start.tv_nsec) / 1e9, usage.ru_maxrss);
    return error == LXW_NO_ERROR ? 0 : 1;
}
