#include "regex/LiteralSet.h"

#include <cstring>

#include "regex/RegexpNode.h"

namespace {

using Op = RegexpOp;

void AddByte(uint64_t* set, unsigned char c) { set[c >> 6] |= uint64_t{1} << (c & 63); }

int Members(const uint64_t* set) {
  int n = 0;
  for (int i = 0; i < 4; ++i) n += __builtin_popcountll(set[i]);
  return n;
}

// The set of a one-character node (InSet, NotInSet, AnyChar), the NUL in none.
void NodeSet(const char* node, uint64_t* set) {
  std::memset(set, 0, 4 * sizeof *set);
  const char* members = NodeOperand(node);
  if (NodeOp(node) == Op::InSet) {
    for (; *members != '\0'; ++members) AddByte(set, static_cast<unsigned char>(*members));
    return;
  }
  for (int c = 1; c < 256; ++c) AddByte(set, static_cast<unsigned char>(c));
  if (NodeOp(node) == Op::NotInSet)
    for (; *members != '\0'; ++members) {
      unsigned char c = static_cast<unsigned char>(*members);
      set[c >> 6] &= ~(uint64_t{1} << (c & 63));
    }
}

// Nodes that take no character: groups, Empty, and the assertions, which
// only rule positions out.
bool TakesNothing(int op) {
  return op == Op::Empty || op == Op::LineStart || op == Op::WordStart || op == Op::WordEnd ||
         (op > Op::GroupOpen && op < Op::GroupClose + kRegexpSlots);
}

bool IsOneChar(int op) { return op == Op::InSet || op == Op::NotInSet || op == Op::AnyChar; }

// One walk over the paths. path holds the sets of the current path; a fork
// writes only past the length it was reached with, so the sets before it
// stay those of every branch.
class Walker {
 public:
  // A probe only asks whether every path takes a character: most patterns
  // that have no strings fail it within a few nodes, before any set is
  // copied.
  // out null: a probe, which records nothing.
  Walker(const char* program, int size, LiteralSet* out, int depth)
      : program(program), size(size), out(out), probe(out == nullptr), depth(depth) {}
  bool Run() {
    Walk(program + 1, 0);
    if (out != nullptr) out->extent = extent;
    return ok;
  }

 private:
  static constexpr int kBudget = 4096;  // nodes a walk may enter

  void Emit(int length) {
    if (length == 0 || (!probe && out->count == LiteralSet::kMax)) {
      ok = false;
      return;
    }
    if (probe) return;
    std::memcpy(out->sets[out->count], path, sizeof path[0] * static_cast<size_t>(length));
    out->length[out->count++] = length;
  }
  // Notes the node's bytes as read; false when it does not lie in the program.
  bool Read(const char* node) {
    if (node == nullptr || node < program + 1 || node + 3 > program + size) return false;
    int end = static_cast<int>(node - program) + 3;
    int op = NodeOp(node);
    if (op == Op::Literal || op == Op::InSet || op == Op::NotInSet)
      end += static_cast<int>(std::strlen(node + 3)) + 1;
    if (end > extent) extent = end;
    return true;
  }
  void Walk(const char* node, int length) {
    for (; ok; node = NextNode(node)) {
      if (probe && length > 0) return;
      if (--budget < 0 || !Read(node)) {
        ok = false;
        return;
      }
      int op = NodeOp(node);
      if (op == Op::Literal) {
        const char* text = NodeOperand(node);
        for (; *text != '\0' && length < depth; ++text) {
          std::memset(path[length], 0, sizeof path[length]);
          AddByte(path[length++], static_cast<unsigned char>(*text));
        }
        if (*text != '\0') return Emit(length);
      } else if (IsOneChar(op) || op == Op::OneOrMore) {
        // A run of one or more takes at least its first character.
        const char* one = op == Op::OneOrMore ? NodeOperand(node) : node;
        if (length == depth || !Read(one)) return Emit(length);
        if (NodeOp(one) == Op::Literal) {
          std::memset(path[length], 0, sizeof path[length]);
          AddByte(path[length++], static_cast<unsigned char>(*NodeOperand(one)));
        } else if (IsOneChar(NodeOp(one))) {
          NodeSet(one, path[length++]);
        } else {
          ok = false;
          return;
        }
        if (op == Op::OneOrMore) return Emit(length);
      } else if (op == Op::Alt) {
        for (const char* alt = node; ok && alt != nullptr && NodeOp(alt) == Op::Alt;
             alt = NextNode(alt)) {
          if (!Read(alt)) {
            ok = false;
            return;
          }
          Walk(NodeOperand(alt), length);
        }
        return;
      } else if (!TakesNothing(op)) {
        return Emit(length);
      }
    }
  }

  const char* program;
  int size;
  LiteralSet* out;
  uint64_t path[LiteralSet::kDepth][4];  // set by Walk before it is read
  bool probe;
  int depth;       // sets a string holds at most
  int extent = 0;  // the program's bytes [0, extent) were read
  int budget = kBudget;
  bool ok = true;
};

}  // namespace

bool LiteralSet::Find(const char* program, int size, int depth) {
  count = 0;
  extent = 0;
  return EveryPathTakesOne(program, size) &&
         Walker(program, size, this, depth < kDepth ? depth : kDepth).Run() && count > 0;
}

bool LiteralSet::EveryPathTakesOne(const char* program, int size) {
  return size > 1 && Walker(program, size, nullptr, kDepth).Run();
}

int LiteralSet::Windows(uint64_t (*out)[MultiLiteralScan::kWidthMax][4], int* width, int* back,
                        double* admitted) const {
  int shortest = kDepth;
  for (int j = 0; j < count; ++j) shortest = length[j] < shortest ? length[j] : shortest;
  *width = shortest < MultiLiteralScan::kWidthMax ? shortest : MultiLiteralScan::kWidthMax;
  // The bytes a window admits, summed over the strings: a rough share of
  // the positions where it fits.
  double best = 0;
  *back = 0;
  for (int at = 0; at + *width <= shortest; ++at) {
    double share = 0;
    for (int j = 0; j < count; ++j) {
      double product = 1;
      for (int i = 0; i < *width; ++i) product *= Members(sets[j][at + i]) / 256.0;
      share += product;
    }
    if (at == 0 || share < best) {
      best = share;
      *back = at;
    }
  }
  *admitted = best;
  int windows = 0;
  for (int j = 0; j < count; ++j) {
    const uint64_t(*window)[4] = sets[j] + *back;
    bool seen = false;
    for (int k = 0; k < windows && !seen; ++k)
      seen = std::memcmp(out[k], window, sizeof out[k][0] * *width) == 0;
    if (seen) continue;
    std::memset(out[windows], 0, sizeof out[windows]);
    std::memcpy(out[windows++], window, sizeof out[0][0] * *width);
  }
  return windows;
}
