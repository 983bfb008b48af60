#include "logger/LoggerCore.h"

#include <filesystem>

#include "logger/Edl.h"
#include "sessionlog/SessionLog.h"
#include "startup/Quenta.h"
#include "startup/Utils.h"

namespace morvia {

LoggerCore::LoggerCore(Display& display, std::function<void()> review, FileDialogFn dialog)
    : display_(display), review_(std::move(review)), dialog_(std::move(dialog)) {}

std::string LoggerCore::currentTC() const { return display_.gettext(Field::tcfield); }

void LoggerCore::changed() {
    std::lock_guard g(listenerLock_);
    if (listener_) listener_();
}

void LoggerCore::setViewListener(std::function<void()> listener) {
    std::lock_guard g(listenerLock_);
    listener_ = std::move(listener);
}

void LoggerCore::setFileDialog(FileDialogFn dialog) {
    std::lock_guard g(dialogLock_);
    dialog_ = std::move(dialog);
}

void LoggerCore::setExportDialog(ExportDialogFn dialog) {
    std::lock_guard g(dialogLock_);
    exportDialog_ = std::move(dialog);
}

void LoggerCore::setin() {
    if (model_.setin(currentTC())) changed();
}

void LoggerCore::setout() {
    if (model_.setout(currentTC())) changed();
}

void LoggerCore::takeIn(int row) {
    if (model_.takeIn(row, currentTC()) >= 0) changed();
}

void LoggerCore::takeOut(int row) {
    if (model_.takeOut(row, currentTC()) >= 0) changed();
}

void LoggerCore::scrolled(int v) {
    model_.scroll(v);
    changed();
}

void LoggerCore::nameEntered(const std::string& text) {
    model_.editRow0(LoggerModel::ClipName, text);
    Utils::OutLine(edl::printable(text));
    changed();
}

void LoggerCore::inTimeEntered(const std::string& text) {
    model_.editRow0(LoggerModel::SourceIn, text);
    changed();
}

void LoggerCore::outTimeEntered(const std::string& text) {
    model_.editRow0(LoggerModel::SourceOut, text);
    changed();
}

void LoggerCore::ReviewClip() {
    const auto [in, out] = model_.topClip();
    display_.settcfield(in, Field::cuefield);
    display_.settcfield(out, Field::endfield);
    if (review_) review_();
}

std::string LoggerCore::GetFileName(const std::string& title) {
    FileDialogFn dialog;
    {
        std::lock_guard g(dialogLock_);
        dialog = dialog_;
    }
    return dialog ? dialog(title, LoadOrSave.load()) : std::string();
}

void LoggerCore::LoadEDL(const std::string& fileName) {
    const std::vector<EdlEvent> events = morvia::LoadEDL(fileName);
    model_.load(events);
    saveEvent("edl_load", fileName, events.size(), events.empty() ? "nothing read" : "loaded");
}

void LoggerCore::SaveEDL(const std::string& fileName) {
    const EdlEntries entries = model_.snapshot();
    const bool saved = morvia::SaveEDL(fileName, Quenta::name, entries);
    saveEvent("edl_save", fileName, edlexport::listedEvents(entries).size(), saved ? "saved" : "failed");
}

void LoggerCore::saveEvent(const char* event, const std::string& path, std::size_t count, const char* outcome) {
    if (!sessionlog::enabled()) return;
    sessionlog::Event e(event);
    e.outcome = outcome;
    sessionlog::record(std::move(e.text("path", path).number("events", static_cast<long long>(count))));
}

void LoggerCore::ExportEDL(const std::string& fileName, edlexport::Format format) {
    edlexport::Options o;
    o.format = format;
    o.title = std::filesystem::path(fileName).stem().string();
    const edlexport::Result r = edlexport::exportEvents(edlexport::listedEvents(model_.snapshot()), o);
    for (const auto& w : r.warnings) Utils::OutLine(w);
    morvia::SaveText(fileName, r.text);
}

void LoggerCore::ReState(int k) {
    model_.ReState(k);
    changed();
}

void LoggerCore::loadPressed() {
    LoadOrSave.store(0);
    const std::string name = GetFileName("Load Standard EDL");
    if (!name.empty()) LoadEDL(name);
    ReState(0);
}

void LoggerCore::exportPressed(edlexport::Format format) {
    LoadOrSave.store(1);
    const std::string title = "Export for Editing Software: " + std::string(edlexport::displayName(format));
    const std::string ext(edlexport::suffix(format));
    ExportDialogFn dialog;
    {
        std::lock_guard g(dialogLock_);
        dialog = exportDialog_;
    }
    std::string name = dialog ? dialog(title, "EDL" + ext) : GetFileName(title);
    if (name.empty()) return;
    if (std::filesystem::path(name).extension().empty()) name += ext;
    ExportEDL(name, format);
}

void LoggerCore::savePressed() {
    LoadOrSave.store(1);
    const std::string name = GetFileName("Save Standard EDL");
    if (!name.empty()) SaveEDL(name);
}

}  // namespace morvia
