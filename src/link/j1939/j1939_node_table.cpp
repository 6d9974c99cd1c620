#include "link/j1939/j1939_node_table.h"

J1939Node* CJ1939NodeTable::Find(std::uint8_t address) {
  for (std::size_t i = 0; i < count; ++i)
    if (nodes[i].address == address) return &nodes[i];
  return nullptr;
}

const J1939Node* CJ1939NodeTable::Find(std::uint8_t address) const {
  for (std::size_t i = 0; i < count; ++i)
    if (nodes[i].address == address) return &nodes[i];
  return nullptr;
}

J1939Node& CJ1939NodeTable::Touch(std::uint8_t address, std::int64_t nowMs, bool& created) {
  created = false;
  if (J1939Node* node = Find(address)) {
    node->lastHeardMs = nowMs;
    return *node;
  }
  created = true;
  std::size_t slot = count;
  if (count == kCapacity) {
    slot = 0;
    for (std::size_t i = 1; i < count; ++i)
      if (nodes[i].lastHeardMs < nodes[slot].lastHeardMs) slot = i;
  } else {
    ++count;
  }
  nodes[slot] = J1939Node{};
  nodes[slot].address = address;
  nodes[slot].lastHeardMs = nowMs;
  return nodes[slot];
}

J1939Node& CJ1939NodeTable::Claim(std::uint8_t address, const J1939Name& name, std::int64_t nowMs) {
  for (std::size_t i = 0; i < count; ++i) {
    if (nodes[i].hasName && nodes[i].name == name && nodes[i].address != address) {
      RemoveAt(i);
      break;
    }
  }
  bool created = false;
  J1939Node& node = Touch(address, nowMs, created);
  if (node.hasName && node.name != name) node.state = J1939NodeState::Seen;  // another node took it over
  node.hasName = true;
  node.name = name;
  return node;
}

void CJ1939NodeTable::RemoveName(const J1939Name& name) {
  for (std::size_t i = 0; i < count; ++i) {
    if (nodes[i].hasName && nodes[i].name == name) {
      RemoveAt(i);
      return;
    }
  }
}

void CJ1939NodeTable::RemoveAt(std::size_t i) {
  for (std::size_t j = i + 1; j < count; ++j) nodes[j - 1] = nodes[j];
  --count;
}
