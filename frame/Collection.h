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
#include <unordered_map>
#include <vector>

#include "frame/Dispatch.h"

namespace corvane {

class Collection : public DispatchClass<Collection> {
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
  // Keys hashed and compared without regard to case, in place: no
  // lower-cased copy is built to store or to look one up.
  struct KeyHash {
    using is_transparent = void;
    size_t operator()(std::string_view key) const;
  };
  struct KeyEqual {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const;
  };

  std::vector<Variant> items_;
  std::unordered_map<std::string, size_t, KeyHash, KeyEqual> positions_by_key_;
};

}  // namespace corvane
