#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

// Non-owning subscribers of one kind, called in the order they subscribed. A subscriber may
// unsubscribe itself or another while a call runs through the list: it is skipped from then on,
// and the list closes the gap once no call is under way. Subscribing twice keeps one entry.
// Single-threaded.
template <class T>
class CSubscriberList {
 public:
  void Add(T* subscriber) {
    if (subscriber != nullptr && std::find(items.begin(), items.end(), subscriber) == items.end())
      items.push_back(subscriber);
  }

  void Remove(T* subscriber) {
    std::replace(items.begin(), items.end(), subscriber, static_cast<T*>(nullptr));
    Compact();
  }

  template <class Call>
  void ForEach(Call&& call) {
    ++depth;
    // By index: a subscriber added during the call is called too, and the vector may grow.
    for (std::size_t i = 0; i < items.size(); ++i)
      if (T* subscriber = items[i]) call(*subscriber);
    --depth;
    Compact();
  }

  bool Empty() const {
    return std::none_of(items.begin(), items.end(), [](T* p) { return p != nullptr; });
  }

 private:
  void Compact() {
    if (depth == 0) items.erase(std::remove(items.begin(), items.end(), nullptr), items.end());
  }

  std::vector<T*> items;
  int depth = 0;
};
