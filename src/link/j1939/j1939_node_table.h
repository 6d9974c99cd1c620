#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "link/j1939/j1939_types.h"

enum class J1939NodeState : std::uint8_t {
  Seen = 0,                     // heard from, identity not asked for yet
  IdentificationRequested = 1,  // its software identification was requested
  Identified = 2,               // its software identification arrived
};

struct J1939Node {
  std::uint8_t address = 0;
  J1939NodeState state = J1939NodeState::Seen;
  bool hasName = false;  // set once its address claim was heard
  J1939Name name{};
  std::int64_t lastHeardMs = 0;
};

// The nodes of one channel, at most kCapacity of them. When a new address arrives with the table
// full, the node heard from longest ago makes room. Not thread-safe: owned by one stack.
class CJ1939NodeTable {
 public:
  static constexpr std::size_t kCapacity = 20;

  // The entry for `address`, or null.
  J1939Node* Find(std::uint8_t address);
  const J1939Node* Find(std::uint8_t address) const;
  // The entry for `address`, created in state Seen when missing; `created` tells which.
  J1939Node& Touch(std::uint8_t address, std::int64_t nowMs, bool& created);
  // Records an address claim: the NAME now owns `address`; an entry of the same NAME at another
  // address is dropped (the node moved).
  J1939Node& Claim(std::uint8_t address, const J1939Name& name, std::int64_t nowMs);
  // Forgets the node with this NAME (it announced it cannot claim an address).
  void RemoveName(const J1939Name& name);
  void Clear() { count = 0; }

  std::size_t Size() const { return count; }
  const J1939Node& At(std::size_t i) const { return nodes[i]; }

 private:
  void RemoveAt(std::size_t i);

  std::array<J1939Node, kCapacity> nodes{};
  std::size_t count = 0;
};
