// The logger's entries and what its 20 rows show, without any window.
//
// The 100 entries belong to one logger window; the top-row entry number
// `vsbval` and the logging row `offset` are class-wide: every logger window
// shares them and they outlive a closed window.
//
// Thread-safety: every operation may be called from any thread. One
// class-wide lock guards vsbval, offset, the entries and the row texts of
// every model, so a scroll (which resets offset) and a setin/setout from the
// edit-controller thread (which read and advance it) never interleave.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "logger/Edl.h"

namespace morvia {

class LoggerModel {
public:
    static constexpr int NumRows = 20;
    static constexpr int MaxTop = EdlEntryCount - NumRows;  // 80: highest top-row entry

    // The four text fields of a row, left to right.
    enum Column { EditNumber = 0, ClipName = 1, SourceIn = 2, SourceOut = 3 };

    // What one row field should show. `version` grows with every change, so
    // a window can apply only what changed and keep the operator's typing
    // in the other fields.
    struct Cell {
        std::string text;
        std::uint64_t version = 0;
    };
    using View = std::array<std::array<Cell, 4>, NumRows>;

    // Where a mark went: the entry, and the row from the top (rows 20 and
    // beyond are stored but not shown).
    struct Mark {
        int entry = 0;
        int row = 0;
    };

    // 100 initial entries; rows show entries 0..19.
    LoggerModel();

    static int getvsbval();
    static int getoffset();
    // Puts vsbval and offset back to 0 (tests).
    static void resetShared();

    // `tc` as the source in of entry vsbval + offset, shown in row offset
    // when that row exists. Nothing when the entry would be 100 or more.
    std::optional<Mark> setin(const std::string& tc);
    // `tc` as the source out of that entry; then offset moves down one row.
    std::optional<Mark> setout(const std::string& tc);
    // The take-in / take-out button of `row`: entry vsbval + row. Returns the
    // entry, or -1 for a row outside 0..19.
    int takeIn(int row, const std::string& tc);
    int takeOut(int row, const std::string& tc);
    // The scroll bar moved to v (0..80): rows show entries v.., vsbval = v,
    // offset = 0.
    void scroll(int v);
    // Rows show entries k..k+19 (k kept within 0..80).
    void ReState(int k);
    // Enter in a field of row 0 stores its text in entry vsbval. Returns the
    // entry.
    int editRow0(Column c, const std::string& text);
    // Source in and out of entry vsbval (the top row).
    std::pair<std::string, std::string> topClip() const;

    EdlEntries snapshot() const;
    void load(const std::vector<EdlEvent>& events);
    View view() const;

private:
    struct Shared {
        std::mutex lock;
        int vsbval = 0;
        int offset = 0;
    };
    static Shared& shared();

    // The caller holds shared().lock.
    void setCell(int row, Column c, const std::string& text);
    void restateLocked(int k);
    int take(int row, const std::string& tc, bool in);

    EdlEntries e_;
    View view_;
    std::uint64_t version_ = 0;
};

}  // namespace morvia
