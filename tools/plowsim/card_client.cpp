#include "card_client.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

#include "link/protocol/kavo_ids.h"

namespace {

constexpr std::uint32_t kBlock = 120;

enum Op : std::uint8_t {
  kList = 0x10,
  kOpen = 0x11,
  kClose = 0x12,
  kWrite = 0x13,
  kRead = 0x14,
  kSeek = 0x15,
  kTell = 0x16,
  kRemove = 0x17,
  kCardInfo = 0x1A,
  kWriteAt = 0x1B,
};

void Put16(std::vector<std::uint8_t>& v, std::size_t at, std::uint32_t x) {
  if (v.size() < at + 2) v.resize(at + 2);
  v[at] = static_cast<std::uint8_t>(x >> 8);
  v[at + 1] = static_cast<std::uint8_t>(x);
}

void Put32(std::vector<std::uint8_t>& v, std::size_t at, std::uint32_t x) {
  Put16(v, at, x >> 16);
  Put16(v, at + 2, x & 0xFFFF);
}

void PutText(std::vector<std::uint8_t>& v, std::size_t at, const std::string& text) {
  v.resize(at);
  v.insert(v.end(), text.begin(), text.end());
  v.push_back(0);
}

bool Number(const std::string& text, long& value) {
  char* end = nullptr;
  errno = 0;
  value = std::strtol(text.c_str(), &end, 10);
  return !text.empty() && *end == '\0' && errno == 0;
}

// Words each command takes: at least, at most.
struct Arity {
  const char* name;
  std::size_t min, max;
};
constexpr Arity kArity[] = {{"cardinfo", 0, 0}, {"list", 1, 64}, {"open", 2, 3}, {"write", 1, 2},
                            {"writeat", 2, 3},  {"read", 1, 1},  {"seek", 3, 3}, {"tell", 1, 1},
                            {"close", 0, 2},    {"remove", 1, 2}};

}  // namespace

CCardClient::CCardClient(SendFn sendFn, std::FILE* output) : send(std::move(sendFn)), out(output) {}

bool CCardClient::Load(const std::string& path, std::string& error) {
  std::ifstream in(path);
  if (!in) {
    error = "cannot read " + path;
    return false;
  }
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    if (const auto hash = line.find('#'); hash != std::string::npos) line.resize(hash);
    Step step;
    step.line = number;
    std::istringstream words(line);
    for (std::string w; words >> w;) step.words.push_back(w);
    if (!step.words.empty() && step.words[0] == "badsum") {
      step.damaged = true;
      step.words.erase(step.words.begin());
      const bool single = step.words.empty() || step.words[0] != "write" ||
                          (step.words.size() > 1 && std::strtol(step.words[1].c_str(), nullptr, 10) <= 120);
      if (step.words.empty() || step.words[0] == "writeat" || !single) {
        error = path + ":" + std::to_string(number) + ": badsum takes one request: " + line;
        return false;
      }
    }
    if (step.words.empty()) continue;
    const auto arity = std::find_if(std::begin(kArity), std::end(kArity),
                                    [&](const Arity& a) { return step.words[0] == a.name; });
    const std::size_t args = step.words.size() - 1;
    if (arity == std::end(kArity) || args < arity->min || args > arity->max) {
      error = path + ":" + std::to_string(number) + ": not understood: " + line;
      return false;
    }
    for (std::size_t i = 1; i < step.words.size(); ++i) {
      long v = 0;
      const bool text = step.words[0] == "list" || (step.words[0] == "remove" && i == 1) ||
                        (step.words[0] == "open" && i <= 2);
      if (!text && !Number(step.words[i], v)) {
        error = path + ":" + std::to_string(number) + ": not a number: " + step.words[i];
        return false;
      }
    }
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) line.pop_back();
    step.text = line.substr(line.find_first_not_of(' '));
    steps.push_back(std::move(step));
  }
  return true;
}

void CCardClient::Start(std::int64_t nowMs) {
  if (started) return;
  started = true;
  current = 0;
  Begin(nowMs);
}

std::uint8_t CCardClient::PatternByte(std::uint32_t n) const {
  return static_cast<std::uint8_t>((n * 7u + 13u) ^ (n >> 8));
}

std::string CCardClient::Key(const std::string& name) {
  std::string key = name;
  for (char& c : key)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  if (key.rfind("a:", 0) == 0) key.erase(0, 2);
  key.erase(0, key.find_first_not_of("\\/"));
  return key;
}

void CCardClient::SendRequest(std::uint8_t requestOp, const std::vector<std::uint8_t>& fields) {
  KavoPacket p;
  p.id = kavo::kIdSuperReport;
  p.data[0] = kavo::kSubPanel;
  p.data[1] = requestOp;
  const std::size_t n = std::min<std::size_t>(fields.size(), kKavoMaxData - 4);
  std::copy_n(fields.begin(), n, p.data + 2);
  p.length = static_cast<std::uint16_t>(2 + n);
  if (!damaged) {
    send(p, 1);
    return;
  }
  // A trailer one off the sum: what a flipped bit on the line leaves.
  const std::uint16_t wrong = static_cast<std::uint16_t>(KavoPayloadSum(p.data, p.length) + 1);
  p.data[p.length++] = static_cast<std::uint8_t>(wrong >> 8);
  p.data[p.length++] = static_cast<std::uint8_t>(wrong);
  send(p, 0);
}

void CCardClient::Begin(std::int64_t nowMs) {
  if (current >= steps.size()) {
    finished = true;
    std::fprintf(out, "%s: %zu steps, %d failed\n", failures == 0 ? "CARD PASS" : "CARD FAIL", steps.size(),
                 failures);
    std::fflush(out);
    return;
  }
  const Step& step = steps[current];
  const std::vector<std::string>& w = step.words;
  auto num = [&](std::size_t i, long fallback) {
    return i < w.size() ? std::strtol(w[i].c_str(), nullptr, 10) : fallback;
  };
  waiting = true;
  deadlineMs = nowMs + kStepTimeoutMs;
  answers = 0;
  expectAnswers = 1;
  expectError = 0;
  damaged = step.damaged;
  failure.clear();
  std::vector<std::uint8_t> f;  // fields from data offset 2
  const std::string& cmd = w[0];
  if (cmd == "cardinfo") {
    op = kCardInfo;
    PutText(f, 3, "A:");
  } else if (cmd == "list") {
    op = kList;
    expectNames.assign(w.begin() + 2, w.end());
    seenNames.clear();
    expectAnswers = -1;  // until entry 65535
    PutText(f, 2, w[1]);
  } else if (cmd == "open") {
    op = kOpen;
    expectError = static_cast<int>(num(3, 0));
    f.push_back(static_cast<std::uint8_t>(w[1][0]));
    PutText(f, 5, w[2]);
    if (!damaged) openName = Key(w[2]);
  } else if (cmd == "close") {
    op = kClose;
    expectError = static_cast<int>(num(1, 0));
    Put32(f, 0, static_cast<std::uint32_t>(num(2, handle)));
  } else if (cmd == "write" || cmd == "writeat") {
    const bool at = cmd == "writeat";
    op = at ? kWriteAt : kWrite;
    const std::uint32_t count = static_cast<std::uint32_t>(num(at ? 2 : 1, 0));
    expectError = static_cast<int>(num(at ? 3 : 2, 0));
    const std::uint32_t total = std::max<std::uint32_t>(1, (count + kBlock - 1) / kBlock);
    std::uint32_t start = position;
    if (at) start = static_cast<std::uint32_t>(num(1, 0));
    std::vector<std::uint8_t> untouched;
    std::vector<std::uint8_t>& image = damaged ? untouched : files[openName];
    for (std::uint32_t b = 1; b <= total; ++b) {
      const std::uint32_t n = b < total ? kBlock : count - kBlock * (total - 1);
      std::vector<std::uint8_t> block;
      Put32(block, 0, static_cast<std::uint32_t>(handle));
      Put16(block, 4, total);
      Put16(block, 6, b);
      block.resize(9, 0);
      block[8] = static_cast<std::uint8_t>(n);
      const std::size_t bytesAt = at ? 19 : 12;
      if (at) {
        Put32(block, 9, static_cast<std::uint32_t>(num(1, 0)));
        block.resize(14, 0);
        block[13] = 1;  // save the position and come back to it
        Put16(block, 14, 0);
      }
      block.resize(bytesAt, 0);
      for (std::uint32_t i = 0; i < n; ++i) block.push_back(PatternByte(written + i));
      if (expectError == 0 && !damaged) {
        const std::uint32_t offset = start + kBlock * (b - 1);
        if (image.size() < offset + n) image.resize(offset + n);
        std::copy(block.end() - n, block.end(), image.begin() + offset);
      }
      if (!damaged) written += n;
      SendRequest(op, block);
    }
    if (damaged) expectError = 5;
    if (expectError == 0 && !at) position = start + count;
    return;
  } else if (cmd == "read") {
    op = kRead;
    readCount = static_cast<std::uint32_t>(num(1, 0));
    readFrom = position;
    expectAnswers = static_cast<int>(std::max<std::uint32_t>(1, (readCount + kBlock - 1) / kBlock));
    Put32(f, 0, static_cast<std::uint32_t>(handle));
    Put16(f, 4, readCount);
  } else if (cmd == "seek") {
    op = kSeek;
    Put32(f, 0, static_cast<std::uint32_t>(handle));
    Put32(f, 4, static_cast<std::uint32_t>(num(1, 0)));
    Put16(f, 8, static_cast<std::uint32_t>(num(2, 0)));
    expectPosition = static_cast<std::uint32_t>(num(3, 0));
  } else if (cmd == "tell") {
    op = kTell;
    Put32(f, 0, static_cast<std::uint32_t>(handle));
    expectPosition = static_cast<std::uint32_t>(num(1, 0));
  } else if (cmd == "remove") {
    op = kRemove;
    expectError = static_cast<int>(num(2, 0));
    PutText(f, 4, w[1]);
    if (expectError == 0 && !damaged) files.erase(Key(w[1]));
  }
  if (damaged) {
    expectError = 5;
    expectAnswers = 1;
  }
  SendRequest(op, f);
}

bool CCardClient::OnPacket(const KavoPacket& packet, std::int64_t nowMs) {
  if (packet.id != kavo::kIdSuperRequest || packet.length < 4 || packet.data[0] != kavo::kSubPanel ||
      packet.data[1] < 0x10 || packet.data[1] >= 0x1C)
    return false;
  if (!waiting) return true;
  if (!packet.checksumOk) {
    failure = "answer with a bad checksum";
  } else if (packet.data[1] != op) {
    failure = "answer to operation " + std::to_string(packet.data[1]);
  } else {
    Check(packet);
  }
  ++answers;
  const bool done = !failure.empty() || (expectAnswers > 0 && answers >= expectAnswers) ||
                    (expectAnswers < 0 && packet.length >= 6 && ReadBe16(packet.data + 2) == 65535);
  if (!done) return true;
  if (failure.empty() && op == kList) {
    std::set<std::string> want(expectNames.begin(), expectNames.end());
    std::set<std::string> seen(seenNames.begin(), seenNames.end());
    if (want != seen || seen.size() != seenNames.size()) failure = "listed other names";
  }
  waiting = false;
  if (failure.empty())
    Pass();
  else
    Fail(failure);
  Next(nowMs);
  return true;
}

// Checks one answer of the running step against what it expects (fields end before the trailer).
void CCardClient::Check(const KavoPacket& p) {
  const std::size_t end = p.length - 2u;
  auto need = [&](std::size_t n) {
    if (end >= n) return true;
    failure = "answer too short";
    return false;
  };
  auto error = [&](std::size_t at) { return static_cast<int>(ReadBe16(p.data + at)); };
  auto wantError = [&](int got) {
    if (got != expectError)
      failure = "error " + std::to_string(got) + ", expected " + std::to_string(expectError);
  };
  if (damaged) {
    // Only the error counts, where each answer carries it (the list's end entry and the card
    // information in their zero fields); the model stays as it was.
    std::size_t at = 6;
    if (op == kList) at = 4;
    if (op == kSeek || op == kTell) at = 10;
    if (op == kRemove) at = 2;
    if (op == kCardInfo) at = 12;
    if (need(at + 2)) wantError(error(at));
    if (op == kOpen && failure.empty() && static_cast<std::int32_t>(ReadBe32(p.data + 2)) != -1)
      failure = "a handle for a damaged open";
    return;
  }
  switch (op) {
    case kCardInfo:
      if (need(12) && (ReadBe32(p.data + 2) != 0x02000000u || ReadBe32(p.data + 6) != 0x01800000u ||
                       ReadBe16(p.data + 10) != 0x4000))
        failure = "wrong card constants";
      break;
    case kList: {
      if (!need(7)) break;
      std::string name;
      for (std::size_t i = 6; i < end && p.data[i] != 0; ++i) name += static_cast<char>(p.data[i]);
      const std::uint16_t number = ReadBe16(p.data + 2);
      if (number == 65535) {
        if (name != "LAST.FIL") failure = "last entry named " + name;
      } else if (number != seenNames.size()) {
        failure = "entry number " + std::to_string(number) + " out of order";
      } else {
        seenNames.push_back(name);
      }
      break;
    }
    case kOpen: {
      if (!need(12)) break;
      const auto got = static_cast<std::int32_t>(ReadBe32(p.data + 2));
      wantError(error(6));
      if (expectError == 0 && failure.empty()) {
        if (got < 0 || got > 99) failure = "handle " + std::to_string(got);
        handle = got;
        position = 0;
        const char mode = steps[current].words[1][0];
        if (mode == 'w') files[openName].clear();
        if (mode == 'a') position = static_cast<std::uint32_t>(files[openName].size());
      } else if (expectError != 0 && got != -1) {
        failure = "handle " + std::to_string(got) + " on a failed open";
      }
      break;
    }
    case kClose:
    case kWrite:
    case kWriteAt:
      if (need(8)) wantError(error(6));
      if (op == kClose && expectError == 0 && failure.empty()) handle = -1;
      break;
    case kRead: {
      if (!need(16)) break;
      wantError(error(6));
      const std::uint16_t blocks = ReadBe16(p.data + 8);
      const std::uint16_t block = ReadBe16(p.data + 10);
      const std::uint8_t size = p.data[12];
      const std::uint32_t want = block < expectAnswers ? kBlock : readCount - kBlock * (expectAnswers - 1u);
      if (blocks != expectAnswers || block != answers + 1 || size != want) {
        failure =
            "block " + std::to_string(block) + "/" + std::to_string(blocks) + " of " + std::to_string(size);
        break;
      }
      if (!need(16u + size)) break;
      const std::vector<std::uint8_t>& image = files[openName];
      const std::uint32_t from = readFrom + kBlock * (block - 1u);
      // Past the end of the file a block keeps its size; those bytes must be zeros, never stale.
      for (std::uint32_t i = 0; i < size; ++i)
        if (p.data[16 + i] != (from + i < image.size() ? image[from + i] : 0)) {
          failure = "byte " + std::to_string(from + i) + " differs";
          break;
        }
      if (block == blocks)
        position = std::min<std::uint32_t>(readFrom + readCount, static_cast<std::uint32_t>(image.size()));
      break;
    }
    case kSeek:
    case kTell:
      if (!need(12)) break;
      wantError(error(10));
      if (failure.empty() && ReadBe32(p.data + 6) != expectPosition)
        failure = "position " + std::to_string(ReadBe32(p.data + 6));
      position = ReadBe32(p.data + 6);
      break;
    case kRemove:
      if (need(4)) wantError(error(2));
      break;
    default:
      break;
  }
}

void CCardClient::Tick(std::int64_t nowMs) {
  if (!waiting || nowMs < deadlineMs) return;
  waiting = false;
  Fail("no answer");
  Next(nowMs);
}

std::int64_t CCardClient::NextDueMs() const {
  return waiting ? deadlineMs : INT64_MAX;
}

void CCardClient::Pass() {
  std::fprintf(out, "PASS %d: %s\n", steps[current].line, steps[current].text.c_str());
  std::fflush(out);
}

void CCardClient::Fail(const std::string& why) {
  ++failures;
  std::fprintf(out, "FAIL %d: %s: %s\n", steps[current].line, steps[current].text.c_str(), why.c_str());
  std::fflush(out);
}

void CCardClient::Next(std::int64_t nowMs) {
  ++current;
  Begin(nowMs);
}
