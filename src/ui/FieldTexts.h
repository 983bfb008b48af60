// The main window's field texts as every thread sees them: what the
// controller and the operator last gave each field, which fields wait for
// their widget to be updated, and who watches the texts go by. No Qt: the
// widgets are updated on the Qt thread from what this model holds.
//
// Thread-safety: every member may be called from any thread. The lock is a
// leaf; the watcher is called after it is released, on the caller's thread.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "player/Display.h"

namespace morvia {

class FieldTexts {
public:
    using Watcher = std::function<void(Field, const std::string&)>;

    // Every field empty but the five timecode fields, which start at these.
    FieldTexts(const std::string& timecode, const std::string& inPoint, const std::string& outPoint);

    // A display operation gives field `f` its text. True when the widget
    // needs an update posted: none is on its way yet.
    bool show(Field f, const std::string& text);
    // The operator typed `text` into field `f`: the widget shows it already.
    void typed(Field f, const std::string& text);
    // The text for the widget's update; the field no longer waits for one.
    std::string takeForWidget(Field f);
    std::string get(Field f) const;
    // Calls fn with every text given to a field from now on (null: nobody).
    void watch(Watcher fn);

private:
    static constexpr std::size_t kFields = 9;
    mutable std::mutex lock_;
    std::array<std::string, kFields> texts_;
    std::array<bool, kFields> waiting_{};  // a widget update is on its way
    std::shared_ptr<const Watcher> watcher_;
};

}  // namespace morvia
