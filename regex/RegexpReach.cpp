#include "regex/RegexpReach.h"

#include <new>
#include <vector>

#include "regex/RegexpNode.h"

namespace {

using Op = RegexpOp;

class Builder {
 public:
  Builder(const char* program, int size)
      : program(program), size(size), idOf(static_cast<size_t>(size) + 1, -1) {}

  // The states reachable from node (a OneOrMore past its first count when
  // star), with kAccept when the program's end is; false when the program
  // cannot be read or has too many states.
  bool Closure(const char* node, bool star, uint64_t* set);
  bool Successors(int id, uint64_t* set);
  size_t States() const { return spots.size(); }
  const RegexpCharTest& Spot(size_t id) const { return spots[id]; }

 private:
  bool Explore(const char* node, bool star, std::vector<std::pair<const char*, bool>>* work,
               uint64_t* set);
  bool Add(int offset, RegexpCharTest spot, uint64_t* set);
  bool Inside(const char* node) const {
    return node != nullptr && node > program && node < program + size;
  }

  const char* const program;
  const int size;
  std::vector<int> idOf;  // by program offset: the state's id, -1 for none
  std::vector<RegexpCharTest> spots;
  std::vector<uint32_t> seen;  // by offset (twice: star), the walk that entered it
  uint32_t walk = 0;
};

bool Builder::Add(int offset, RegexpCharTest spot, uint64_t* set) {
  if (idOf[static_cast<size_t>(offset)] < 0) {
    if (spots.size() == 63) return false;
    idOf[static_cast<size_t>(offset)] = static_cast<int>(spots.size());
    spots.push_back(spot);
  }
  *set |= uint64_t{1} << idOf[static_cast<size_t>(offset)];
  return true;
}

bool Builder::Closure(const char* node, bool star, uint64_t* set) {
  if (seen.empty()) seen.assign(2 * (static_cast<size_t>(size) + 1), 0);
  ++walk;
  std::vector<std::pair<const char*, bool>> work{{node, star}};
  while (!work.empty()) {
    auto [at, repeated] = work.back();
    work.pop_back();
    if (!Explore(at, repeated, &work, set)) return false;
  }
  return true;
}

bool Builder::Explore(const char* node, bool star, std::vector<std::pair<const char*, bool>>* work,
                      uint64_t* set) {
  if (!Inside(node)) return false;
  const int offset = static_cast<int>(node - program);
  uint32_t& mark = seen[2 * static_cast<size_t>(offset) + (star ? 1 : 0)];
  if (mark == walk) return true;
  mark = walk;
  const int op = NodeOp(node);
  const char* after = NextNode(node);
  auto push = [work](const char* to) { work->push_back({to, false}); };
  switch (op) {
    case Op::Accept: *set |= uint64_t{1} << 63; return true;
    case Op::AnyChar:
    case Op::InSet:
    case Op::NotInSet: return Add(offset, {RegexpCharTest::kOneChar, node, nullptr}, set);
    case Op::Literal:
      if (*NodeOperand(node) == '\0') return false;
      return Add(offset + 3, {RegexpCharTest::kLiteralByte, node, NodeOperand(node)}, set);
    case Op::ZeroOrMore:
    case Op::OneOrMore: {
      const char* operand = NodeOperand(node);
      if (!IsOneCharOp(NodeOp(operand))) return false;
      if (op == Op::ZeroOrMore || star) push(after);
      return Add(offset + 3, {RegexpCharTest::kOperand, node, nullptr}, set);
    }
    case Op::Alt:
      if (after != nullptr && NodeOp(after) == Op::Alt) push(after);
      push(NodeOperand(node));
      return true;
    case Op::Loop:
    case Op::Empty:
    case Op::LineStart:
    case Op::LineEnd:
    case Op::WordStart:
    case Op::WordEnd: push(after); return true;
    default: break;
  }
  bool group = (op > Op::GroupOpen && op < Op::GroupOpen + kRegexpSlots) ||
               (op > Op::GroupClose && op < Op::GroupClose + kRegexpSlots);
  if (!group) return false;
  push(after);
  return true;
}

bool Builder::Successors(int id, uint64_t* set) {
  const RegexpCharTest& spot = spots[static_cast<size_t>(id)];
  switch (spot.kind) {
    case RegexpCharTest::kLiteralByte:
      if (spot.byte[1] != '\0') {
        return Add(static_cast<int>(spot.byte + 1 - program),
                   {RegexpCharTest::kLiteralByte, spot.node, spot.byte + 1}, set);
      }
      return Closure(NextNode(spot.node), false, set);
    case RegexpCharTest::kOperand:
      return Closure(spot.node, NodeOp(spot.node) == Op::OneOrMore, set);
    default: return Closure(NextNode(spot.node), false, set);
  }
}

}  // namespace

std::unique_ptr<RegexpReach> RegexpReach::Build(const char* program, int programSize) {
  if (program == nullptr || programSize < 2 ||
      static_cast<unsigned char>(program[0]) != kRegexpMagic) {
    return nullptr;
  }
  Builder builder(program, programSize);
  uint64_t initial = 0;
  if (!builder.Closure(program + 1, false, &initial) || (initial & kAccept) != 0) return nullptr;
  // Every state found is given its successors, which may find more.
  std::vector<uint64_t> successors;
  for (size_t id = 0; id < builder.States(); ++id) {
    uint64_t set = 0;
    if (!builder.Successors(static_cast<int>(id), &set)) return nullptr;
    successors.push_back(set);
  }
  std::unique_ptr<RegexpReach> reach(new (std::nothrow) RegexpReach());
  if (reach == nullptr) return nullptr;
  reach->initial = initial;
  for (size_t id = 0; id < successors.size(); ++id) {
    for (int c = 1; c < 256; ++c) {
      if (builder.Spot(id).Takes(static_cast<char>(c))) {
        reach->takes[c] |= uint64_t{1} << id;
      }
    }
    for (int bits = 0; bits < 256; ++bits) {
      if (bits >> (id % 8) & 1) reach->after[id / 8][bits] |= successors[id];
    }
  }
  reach->copy.assign(program, static_cast<size_t>(programSize));
  return reach;
}

bool RegexpReach::Intact(const char* program, int programSize) const {
  return copy.size() == static_cast<size_t>(programSize) &&
         copy.compare(0, copy.size(), program, copy.size()) == 0;
}

uint64_t RegexpReach::Successors(uint64_t taken) const {
  uint64_t next = 0;
  for (int k = 0; taken != 0; ++k, taken >>= 8) next |= after[k][taken & 0xff];
  return next;
}

bool RegexpReach::MayMatchFrom(const char* from, uint64_t* steps) const {
  uint64_t states = initial;
  const char* at = from;
  for (;; ++at) {
    if ((states & kAccept) != 0) break;
    const unsigned char c = static_cast<unsigned char>(*at);
    if (c == 0) {
      *steps += static_cast<uint64_t>(at - from);
      return false;
    }
    // A match may begin at every position: the initial states join in.
    states = Successors(states & takes[c]) | initial;
  }
  *steps += static_cast<uint64_t>(at - from);
  return true;
}
