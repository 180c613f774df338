#pragma once
// The rows of a word-processor table, in bounded memory.
//
// Rows arrive one after another and are seldom touched again once later rows exist, so a
// table keeps only a window of rows in memory; older rows are written, in a compact binary
// form, to a spool file that is unlinked as soon as it is made (a killed process leaves
// nothing behind). A spilled row that is asked for again is read back and becomes resident
// until it is pushed out in turn, then written anew. Small tables never touch the spool.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/automation/word/word_paragraph.h"

class WordTableRows {
public:
    explicit WordTableRows(int columns);
    ~WordTableRows();
    WordTableRows(const WordTableRows&) = delete;
    WordTableRows& operator=(const WordTableRows&) = delete;

    int Columns() const { return FColumns; }
    int Count() const { return static_cast<int>(FSpilled.size()); }
    // Appends `rows` empty rows.
    void Add(int rows);
    // The cell; its row is read back from the spool first when it was spilled. The
    // reference stays valid until the next call that adds or fetches a row.
    WordParagraph& Cell(int row, int col);

    // Calls visit(row, cells) for every row in order, with `cells` the row's Columns()
    // paragraphs; spilled rows are read back one at a time without becoming resident.
    template <class Visit>
    void ForEach(Visit&& visit) const;

    // Cells held in memory before older rows are spilled.
    static constexpr std::size_t ResidentCells = 1 << 16;

private:
    using Row = std::vector<WordParagraph>;
    Row& Fetch(int row);
    void Evict(int keep);
    void Spill(int row, const Row& cells);
    void ReadBack(int row, Row& cells) const;
    void FlushWrites();

    int FColumns;
    std::map<int, Row> FResident;   // rows in memory, by number
    std::vector<int64_t> FSpilled;  // per row: its place in the spool, or -1 (resident or empty)
    int FSpool = -1;                // file descriptor of the unlinked spool
    int64_t FSpoolEnd = 0;
    std::string FWriteBuffer;         // spilled rows not yet written to the spool
    int64_t FWrittenEnd = 0;          // spool bytes written so far
    mutable std::string FReadBuffer;  // a window of the spool, for reading rows back
    mutable int64_t FReadStart = 0;
};

template <class Visit>
void WordTableRows::ForEach(Visit&& visit) const
{
    Row scratch;
    for (int r = 0; r < Count(); ++r) {
        auto it = FResident.find(r);
        if (it != FResident.end()) {
            visit(r, it->second);
        } else {
            ReadBack(r, scratch);
            visit(r, static_cast<const Row&>(scratch));
        }
    }
}
