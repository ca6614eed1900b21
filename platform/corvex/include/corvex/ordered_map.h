#pragma once

#include <cstddef>
#include <functional>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace corvex {

// Thrown when a tag (or any key) is asked for but absent. The message names it.
class MissingKey : public std::out_of_range {
 public:
  explicit MissingKey(const std::string& key) : std::out_of_range("no tag \"" + key + "\""), key_(key) {}
  const std::string& key() const noexcept { return key_; }

 private:
  std::string key_;
};

// A string-keyed map that remembers insertion order. Iteration, publishing
// and printing follow that order; assigning to an existing key keeps its
// place.
template <typename T>
class OrderedMap {
 public:
  using value_type = std::pair<std::string, T>;
  using iterator = typename std::vector<value_type>::iterator;
  using const_iterator = typename std::vector<value_type>::const_iterator;

  OrderedMap() = default;
  OrderedMap(std::initializer_list<value_type> items) {
    for (const auto& [key, value] : items) set(key, value);
  }

  // Inserts at the end, or overwrites in place when the key exists.
  void set(std::string_view key, T value) {
    if (auto it = index_.find(key); it != index_.end()) {
      items_[it->second].second = std::move(value);
      return;
    }
    index_.emplace(std::string(key), items_.size());
    items_.emplace_back(std::string(key), std::move(value));
  }

  // Inserts a default value when absent.
  T& operator[](std::string_view key) {
    if (auto it = index_.find(key); it != index_.end()) return items_[it->second].second;
    set(key, T{});
    return items_.back().second;
  }

  const T& at(std::string_view key) const {
    if (auto it = index_.find(key); it != index_.end()) return items_[it->second].second;
    throw MissingKey(std::string(key));
  }
  T& at(std::string_view key) {
    if (auto it = index_.find(key); it != index_.end()) return items_[it->second].second;
    throw MissingKey(std::string(key));
  }

  const T* find(std::string_view key) const {
    auto it = index_.find(key);
    return it == index_.end() ? nullptr : &items_[it->second].second;
  }
  T* find(std::string_view key) {
    auto it = index_.find(key);
    return it == index_.end() ? nullptr : &items_[it->second].second;
  }

  bool contains(std::string_view key) const { return index_.count(key) != 0; }

  // A key's place in insertion order, which stays its place: for loops that
  // reach the same keys every period without looking them up each time.
  std::size_t index_of(std::string_view key) const {
    if (auto it = index_.find(key); it != index_.end()) return it->second;
    throw MissingKey(std::string(key));
  }
  const T& value_at(std::size_t index) const { return items_.at(index).second; }
  T& value_at(std::size_t index) { return items_.at(index).second; }

  // Merges other into this map: later entries overwrite equal keys in place,
  // new keys are appended in other's order.
  void merge(const OrderedMap& other) {
    for (const auto& [key, value] : other) set(key, value);
  }

  std::vector<std::string> keys() const {
    std::vector<std::string> out;
    out.reserve(items_.size());
    for (const auto& item : items_) out.push_back(item.first);
    return out;
  }

  std::size_t size() const noexcept { return items_.size(); }
  bool empty() const noexcept { return items_.empty(); }

  iterator begin() noexcept { return items_.begin(); }
  iterator end() noexcept { return items_.end(); }
  const_iterator begin() const noexcept { return items_.begin(); }
  const_iterator end() const noexcept { return items_.end(); }

  friend bool operator==(const OrderedMap& a, const OrderedMap& b) { return a.items_ == b.items_; }

 private:
  // Transparent hashing lets lookups by string_view skip building a string.
  struct KeyHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view key) const noexcept { return std::hash<std::string_view>{}(key); }
  };

  std::vector<value_type> items_;
  std::unordered_map<std::string, std::size_t, KeyHash, std::equal_to<>> index_;
};

}  // namespace corvex
