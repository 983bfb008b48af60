#include "ui/FieldTexts.h"

#include <cstddef>

namespace morvia {
namespace {

std::size_t index(Field f) { return static_cast<std::size_t>(f); }

}  // namespace

FieldTexts::FieldTexts(const std::string& timecode, const std::string& inPoint, const std::string& outPoint) {
    texts_[index(Field::tcfield)] = timecode;
    texts_[index(Field::cuefield)] = inPoint;
    texts_[index(Field::endfield)] = outPoint;
    texts_[index(Field::osfield)] = timecode;
    texts_[index(Field::prfield)] = timecode;
}

bool FieldTexts::show(Field f, const std::string& text) {
    bool post = false;
    std::shared_ptr<const Watcher> watcher;
    {
        std::lock_guard g(lock_);
        texts_[index(f)] = text;
        post = !waiting_[index(f)];  // otherwise an update of this field is already on its way
        waiting_[index(f)] = true;
        watcher = watcher_;
    }
    if (watcher) (*watcher)(f, text);
    return post;
}

void FieldTexts::typed(Field f, const std::string& text) {
    std::shared_ptr<const Watcher> watcher;
    {
        std::lock_guard g(lock_);
        texts_[index(f)] = text;
        watcher = watcher_;
    }
    if (watcher) (*watcher)(f, text);
}

std::string FieldTexts::takeForWidget(Field f) {
    std::lock_guard g(lock_);
    waiting_[index(f)] = false;
    return texts_[index(f)];
}

std::string FieldTexts::get(Field f) const {
    std::lock_guard g(lock_);
    return texts_[index(f)];
}

void FieldTexts::watch(Watcher fn) {
    std::lock_guard g(lock_);
    watcher_ = fn ? std::make_shared<const Watcher>(std::move(fn)) : nullptr;
}

}  // namespace morvia
