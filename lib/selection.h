// Who wants which rows and columns of the input, worked out once before the
// pass, and where the pass stands: the cost per field does not grow with the
// number of functions.
#ifndef NUMTALLY_LIB_SELECTION_H
#define NUMTALLY_LIB_SELECTION_H

#include <cstdint>

// What the records of a run want of a line, made by the run from its list
// (the pass reads no list): per record its row or its column, a two-column
// record's second column, and whether it is fed pairs at the line's end.
// Columns chosen by name are 0 until the header line names them.
inline constexpr int TALLY_WANTS_MAX = 64;
struct tally_want_t {
    uint32_t row = 0;
    uint32_t col = 0;
    uint32_t col2 = 0;      // of welch-t --split, its key column
    bool pairs = false;
    bool split = false;     // welch-t --split: col2 is a key column
};
struct tally_wants_t {
    tally_want_t at[TALLY_WANTS_MAX];
    int count = 0;
};

// A row or column and the list's records that want it (indexes, in list
// order), and for a column the key slots it fills (positions in the list of
// key columns, in that list's order).
struct tally_group_t {
    uint64_t number;      // the row or column; UINT64_MAX ends a table
    const int *first;
    const int *last;
    const int *key_first;
    const int *key_last;
    bool paired = false;  // a column of some two-column record (pair_cols)
};

inline constexpr int TALLY_KEYS_MAX = 64; // key columns of a grouped run

// Columns a line can have wanted: one per record, a second one per
// two-column record, and the key columns.
inline constexpr int TALLY_WANTED_COLS_MAX = 2 * TALLY_WANTS_MAX + TALLY_KEYS_MAX;

struct tally_selection_t {
    // The key columns: those given (a grouped run's), then one per key
    // column of welch-t --split, whose slot split_slot gives per record
    // (-1: none).  nkeys slots in all.
    uint32_t key_cols[TALLY_KEYS_MAX];
    int nkeys;
    int split_slot[TALLY_WANTS_MAX];
    int row_records[TALLY_WANTS_MAX];
    int col_records[TALLY_WANTS_MAX];
    int key_slots[TALLY_KEYS_MAX];
    // Both columns of every two-column record (tally_feeds_pairs): wanted,
    // so that the pass stages their values, but fed by the sink at the
    // line's end, pair by pair, never through a group's records.
    uint32_t pair_cols[2 * TALLY_WANTS_MAX];
    int npair_cols;
    // Groups by ascending number, each table ended by a group that no
    // number reaches.
    tally_group_t rows[TALLY_WANTS_MAX + 1];
    tally_group_t cols[TALLY_WANTED_COLS_MAX + 1];
};

// Fills sel from the records in use and the key columns keys[0..nkeys)
// (column numbers from 1, nkeys at most TALLY_KEYS_MAX), to which the key
// columns of welch-t --split are added (tally_split_columns: with those,
// no more than TALLY_KEYS_MAX).  Two-column records stand in no group;
// their columns are in pair_cols (of a split record, its value column).
void tally_select(const tally_wants_t &wants, const uint32_t *keys, int nkeys,
                  tally_selection_t *sel);

// The key columns welch-t --split adds to a run's: one per such record.
int tally_split_columns(const tally_wants_t &wants);

// Where the pass stands: the current row and column, the records that want
// the current row, and the next column of the line that something wants.
class tally_cursor_t {
public:
    explicit tally_cursor_t(const tally_selection_t &sel,
                            uint64_t first_row = 1)
        : row_(first_row), row_group_(sel.rows), cols_(sel.cols),
          col_group_(sel.cols)
    {
        start_row();
    }

    uint64_t row() const { return row_; }
    uint64_t col() const { return col_; }

    // The records that want the current row (row_wanted() must hold).
    const tally_group_t &row_records() const { return *row_here_; }
    bool row_wanted() const { return row_here_ != nullptr; }

    // The next wanted column of the line, UINT64_MAX when there is none.
    uint64_t next_wanted_col() const { return col_group_->number; }
    bool col_wanted() const { return col_group_->number == col_; }
    // What wants the current column (col_wanted() must hold); the cursor
    // then looks for the next wanted column.
    const tally_group_t &take_col() { return *col_group_++; }

    void next_col(uint64_t by = 1) { col_ += by; }
    // The wanted columns not reached yet in this line, ended by UINT64_MAX.
    const tally_group_t *cols_left() const { return col_group_; }

    // Rows: whether any row is wanted at all (without, the cursor keeps
    // only the row's number).
    template <bool Rows = true>
    void next_line()
    {
        ++row_;
        col_ = 1;
        col_group_ = cols_;
        if constexpr (Rows)
            start_row();
    }

private:
    void start_row()
    {
        while (row_group_->number < row_)
            ++row_group_;
        row_here_ = row_group_->number == row_ ? row_group_ : nullptr;
    }

    uint64_t row_ = 1;
    uint64_t col_ = 1;
    const tally_group_t *row_group_;          // first group at or after row
    const tally_group_t *row_here_ = nullptr; // the group of this row, if any
    const tally_group_t *const cols_;
    const tally_group_t *col_group_;          // first group at or after col
};

#endif
