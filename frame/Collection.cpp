#include "frame/Collection.h"

#include "frame/Text.h"

namespace corvane {

ClassInfo Collection::Members() {
  return ClassBuilder<Collection>("Collection")
      .Get("Count", [](Collection& c) { return c.Count(); })
      .Get("Item",
           [](Collection& c, const Variant& index) { return c.Item(index); })
      .Method("Add", [](Collection& c, const Variant& item,
                        std::optional<std::string> key) { c.Add(item, key); })
      .Build();
}

size_t Collection::KeyHash::operator()(std::string_view key) const {
  // FNV-1a over the lower-cased bytes.
  uint64_t hash = 14695981039346656037ULL;
  for (char c : key) {
    hash ^= static_cast<unsigned char>(LowerAscii(c));
    hash *= 1099511628211ULL;
  }
  return static_cast<size_t>(hash);
}

bool Collection::KeyEqual::operator()(std::string_view a,
                                      std::string_view b) const {
  return EqualsIgnoringCase(a, b);
}

void Collection::Add(Variant item, std::optional<std::string> key) {
  if (key) {
    auto [where, added] =
        positions_by_key_.emplace(std::move(*key), items_.size());
    if (!added) throw StandardFailure(kDuplicateKey);
  }
  items_.push_back(std::move(item));
}

const Variant* Collection::Find(std::string_view key) const {
  auto found = positions_by_key_.find(key);
  return found == positions_by_key_.end() ? nullptr : &items_[found->second];
}

Variant Collection::Item(const Variant& index) const {
  if (index.Is<std::string>()) {
    const Variant* item = Find(std::get<std::string>(index.value()));
    if (item == nullptr) throw StandardFailure(kInvalidCall);
    return *item;
  }
  int32_t position = index.ToInt32();
  if (position < 1 || position > Count()) {
    throw StandardFailure(kSubscriptOutOfRange);
  }
  return items_[static_cast<size_t>(position - 1)];
}

}  // namespace corvane
