#include "logger/LoggerModel.h"

#include <algorithm>

#include "startup/Utils.h"

namespace morvia {

LoggerModel::Shared& LoggerModel::shared() {
    static Shared s;  // function-local: no start-up order issue, never destroyed early
    return s;
}

LoggerModel::LoggerModel() : e_(EdlEntries::initial()) {
    std::lock_guard g(shared().lock);
    restateLocked(0);
}

int LoggerModel::getvsbval() {
    std::lock_guard g(shared().lock);
    return shared().vsbval;
}

int LoggerModel::getoffset() {
    std::lock_guard g(shared().lock);
    return shared().offset;
}

void LoggerModel::resetShared() {
    std::lock_guard g(shared().lock);
    shared().vsbval = 0;
    shared().offset = 0;
}

void LoggerModel::setCell(int row, Column c, const std::string& text) {
    Cell& cell = view_[static_cast<std::size_t>(row)][c];
    cell.text = text;
    cell.version = ++version_;
}

void LoggerModel::restateLocked(int k) {
    k = std::clamp(k, 0, MaxTop);
    for (int r = 0; r < NumRows; ++r) {
        const auto i = static_cast<std::size_t>(k + r);
        setCell(r, EditNumber, e_.EdNumArray[i]);
        setCell(r, ClipName, e_.ClipNameArray[i]);
        setCell(r, SourceIn, e_.SrcInArray[i]);
        setCell(r, SourceOut, e_.SrcOutArray[i]);
    }
}

std::optional<LoggerModel::Mark> LoggerModel::setin(const std::string& tc) {
    Mark mark;
    {
        std::lock_guard g(shared().lock);
        const int i = shared().vsbval + shared().offset;
        if (i >= EdlEntryCount) return std::nullopt;
        mark = Mark{i, shared().offset};
        e_.SrcInArray[static_cast<std::size_t>(i)] = tc;
        if (mark.row < NumRows) setCell(mark.row, SourceIn, tc);
    }
    Utils::OutLine(std::to_string(mark.entry));
    return mark;
}

std::optional<LoggerModel::Mark> LoggerModel::setout(const std::string& tc) {
    std::lock_guard g(shared().lock);
    const int i = shared().vsbval + shared().offset;
    if (i >= EdlEntryCount) return std::nullopt;
    const Mark mark{i, shared().offset};
    e_.SrcOutArray[static_cast<std::size_t>(i)] = tc;
    if (mark.row < NumRows) setCell(mark.row, SourceOut, tc);
    ++shared().offset;
    return mark;
}

int LoggerModel::take(int row, const std::string& tc, bool in) {
    if (row < 0 || row >= NumRows) return -1;
    std::lock_guard g(shared().lock);
    const int i = shared().vsbval + row;
    if (i >= EdlEntryCount) return -1;
    (in ? e_.SrcInArray : e_.SrcOutArray)[static_cast<std::size_t>(i)] = tc;
    setCell(row, in ? SourceIn : SourceOut, tc);
    return i;
}

int LoggerModel::takeIn(int row, const std::string& tc) { return take(row, tc, true); }
int LoggerModel::takeOut(int row, const std::string& tc) { return take(row, tc, false); }

void LoggerModel::scroll(int v) {
    v = std::clamp(v, 0, MaxTop);
    std::lock_guard g(shared().lock);
    restateLocked(v);
    shared().vsbval = v;
    shared().offset = 0;
}

void LoggerModel::ReState(int k) {
    std::lock_guard g(shared().lock);
    restateLocked(k);
}

int LoggerModel::editRow0(Column c, const std::string& text) {
    std::lock_guard g(shared().lock);
    const auto i = static_cast<std::size_t>(shared().vsbval);
    switch (c) {
        case ClipName: e_.ClipNameArray[i] = text; break;
        case SourceIn: e_.SrcInArray[i] = text; break;
        case SourceOut: e_.SrcOutArray[i] = text; break;
        case EditNumber: return -1;  // the edit number is never editable
    }
    // The field already shows what the operator typed: no repaint, so text
    // typed after Enter is not overwritten by it.
    view_[0][c].text = text;
    return static_cast<int>(i);
}

std::pair<std::string, std::string> LoggerModel::topClip() const {
    std::lock_guard g(shared().lock);
    const auto i = static_cast<std::size_t>(shared().vsbval);
    return {e_.SrcInArray[i], e_.SrcOutArray[i]};
}

EdlEntries LoggerModel::snapshot() const {
    std::lock_guard g(shared().lock);
    return e_;
}

void LoggerModel::load(const std::vector<EdlEvent>& events) {
    std::lock_guard g(shared().lock);
    for (const auto& ev : events) {
        if (ev.entry < 0 || ev.entry >= EdlEntryCount) continue;
        const auto i = static_cast<std::size_t>(ev.entry);
        e_.ClipNameArray[i] = ev.clip;
        e_.SrcInArray[i] = ev.in;
        e_.SrcOutArray[i] = ev.out;
    }
}

LoggerModel::View LoggerModel::view() const {
    std::lock_guard g(shared().lock);
    return view_;
}

}  // namespace morvia
