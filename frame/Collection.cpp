// SPDX-License-Identifier: Apache-2.0
#include "frame/Collection.h"

#include <algorithm>

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

namespace {

// FNV-1a over the lower-cased bytes, its bits then mixed so that the low
// ones, which pick the slot, depend on all of them.
size_t CaseBlindHash(std::string_view key) {
  uint64_t hash = 14695981039346656037ULL;
  for (char c : key) {
    hash ^= static_cast<unsigned char>(LowerAscii(c));
    hash *= 1099511628211ULL;
  }
  hash ^= hash >> 31;
  hash *= 0xbf58476d1ce4e5b9ULL;
  hash ^= hash >> 32;
  return static_cast<size_t>(hash);
}

}  // namespace

size_t Collection::FindKey(std::string_view key, size_t hash) const {
  if (index_.empty()) return std::string_view::npos;
  size_t mask = index_.size() - 1;
  for (size_t slot = hash & mask; index_[slot] != 0; slot = (slot + 1) & mask) {
    const KeyEntry& entry = keys_[index_[slot] - 1];
    if (entry.hash == hash && EqualsIgnoringCase(entry.key, key)) {
      return index_[slot] - 1;
    }
  }
  return std::string_view::npos;
}

void Collection::GrowIndex() {
  std::vector<uint32_t> index(std::max<size_t>(16, index_.size() * 2), 0);
  size_t mask = index.size() - 1;
  for (size_t i = 0; i < keys_.size(); ++i) {
    size_t slot = keys_[i].hash & mask;
    while (index[slot] != 0) slot = (slot + 1) & mask;
    index[slot] = static_cast<uint32_t>(i + 1);
  }
  index_ = std::move(index);
}

void Collection::Add(Variant item, std::optional<std::string> key) {
  if (key) {
    size_t hash = CaseBlindHash(*key);
    if (FindKey(*key, hash) != std::string_view::npos) {
      throw StandardFailure(kDuplicateKey);
    }
    keys_.push_back({std::move(*key), hash, items_.size()});
    if (keys_.size() * 2 > index_.size()) {
      GrowIndex();
    } else {
      size_t mask = index_.size() - 1;
      size_t slot = hash & mask;
      while (index_[slot] != 0) slot = (slot + 1) & mask;
      index_[slot] = static_cast<uint32_t>(keys_.size());
    }
  }
  items_.push_back(std::move(item));
}

const Variant* Collection::Find(std::string_view key) const {
  size_t entry = FindKey(key, CaseBlindHash(key));
  return entry == std::string_view::npos ? nullptr
                                         : &items_[keys_[entry].position];
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
