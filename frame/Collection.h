// SPDX-License-Identifier: Apache-2.0
// The ordered collection that components hand to pages: items from 1, a
// count, lookup by position or by a key unique without regard to case, and
// enumeration in insertion order. Pages and components share it by
// reference (std::shared_ptr).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "frame/Dispatch.h"
#include "platform/Export.h"

namespace corvane {

class CORVANE_API Collection : public DispatchClass<Collection> {
 public:
  static ClassInfo Members();
  static std::shared_ptr<Collection> New() {
    return std::make_shared<Collection>();
  }

  // Appends an item, under a key when one is given; 457 when the key is
  // already present (nothing is added then).
  void Add(Variant item, std::optional<std::string> key = std::nullopt);
  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  // By position (from 1) or by key; 9 for a position out of range, 5 for a
  // key that is absent.
  Variant Item(const Variant& index) const;
  // The item under `key`; nullptr when absent.
  const Variant* Find(std::string_view key) const;
  const std::vector<Variant>& Items() const { return items_; }
  std::vector<Variant> Enumerate() override { return items_; }

 private:
  // The position of the key's entry in keys_; npos when absent.
  size_t FindKey(std::string_view key, size_t hash) const;
  void GrowIndex();

  // A key, kept as given, with its case-blind hash and its item's position.
  struct KeyEntry {
    std::string key;
    size_t hash;
    size_t position;
  };

  std::vector<Variant> items_;
  std::vector<KeyEntry> keys_;
  // Open addressing over keys_: entry position + 1, 0 for a free slot; a
  // power of two long and at most half full. Keys are hashed and compared
  // in place, without lower-cased copies and without a node per key.
  std::vector<uint32_t> index_;
};

}  // namespace corvane
