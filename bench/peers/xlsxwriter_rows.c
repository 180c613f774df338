/* The peer of the word exporter's row benchmark: libxlsxwriter in its constant-memory
 * mode writes the same cells (COUNT rows of 5 text cells under a caption row) to .xlsx.
 *
 *   build-bench/bench/bench_xlsxwriter_rows 1000000 /tmp/rows.xlsx
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
    lxw_worksheet* sheet = workbook_add_worksheet(workbook, NULL);
    char text[64];
    for (int c = 0; c < 5; ++c) {
        snprintf(text, sizeof text, "Column %d", c + 1);
        worksheet_write_string(sheet, 0, (lxw_col_t)c, text, NULL);
    }
    for (long r = 0; r < count; ++r)
        for (int c = 0; c < 5; ++c) {
            snprintf(text, sizeof text, "Column %d of row %ld", c + 1, r);
            worksheet_write_string(sheet, (lxw_row_t)(r + 1), (lxw_col_t)c, text, NULL);
        }
    if (workbook_close(workbook) != LXW_NO_ERROR) {
        fprintf(stderr, "workbook_close failed\n");
        return 1;
    }
    clock_gettime(CLOCK_MONOTONIC, &end);
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    printf("xlsxwriter rows %ld -> %s: %.2f s, peak RSS %ld KiB\n", count, argv[2],
           (double)(end.tv_sec - start.tv_sec) + (double)(end.tv_nsec - start.tv_nsec) / 1e9, usage.ru_maxrss);
    return 0;
}
