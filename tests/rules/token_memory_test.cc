// A join memory under a mix of filing, removal and probes, checked against a
// plain list of what it holds: a probe meets the entries of its key oldest
// first, a whole walk meets every entry once, and a token filed by identity
// is taken out exactly once, however the tables grew meanwhile. Memories
// walked whole and memories only probed grow their key tables differently,
// and keys shared by few or many entries shape them differently again.

#include <algorithm>
#include <cstdint>
#include <map>
#include <random>
#include <span>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "rules/token_memory.h"
#include "testing/fact_fakes.h"
#include "zephro/facts/fact.h"

namespace zephro {
namespace {

Ref<TIEToken> Root() { return MakeRef<TIEToken>(TTokenAction::taAdd, Ref<IFact>()); }

struct MixCase {
  std::string name;
  bool probed;
  int keys;        // distinct key hashes
  int operations;  // filings, removals and probes, at random
};

struct Filed {
  int hash;
  Ref<TIEToken> token;
};

// The tokens met by a probe for `hash` (stopping after `limit`), by a walk
// that fetches the partners' facts ahead or by one that does not.
template <bool kFetchFact = true>
std::vector<TIEToken*> Probe(TIETokenTree& memory, int hash, std::size_t limit = SIZE_MAX) {
  std::vector<TIEToken*> met;
  memory.ForKey<kFetchFact>(hash, [&](TIETokenTree::Entry& e, std::uint32_t) {
    met.push_back(e.token.get());
    return met.size() < limit;
  });
  return met;
}

std::vector<TIEToken*> Expected(const std::vector<Filed>& live, int hash,
                                std::size_t limit = SIZE_MAX) {
  std::vector<TIEToken*> expected;
  for (const Filed& f : live) {
    if (f.hash == hash && expected.size() < limit) {
      expected.push_back(f.token.get());
    }
  }
  return expected;
}

TEST(TokenMemoryTest, ProbesAndWalksAgreeWithWhatWasFiled) {
  const std::vector<MixCase> cases = {
      {"walked, few keys", false, 3, 6000},
      {"probed, few keys", true, 3, 6000},
      {"probed, some keys", true, 60, 12000},
      {"probed, a key each", true, 1 << 20, 12000},
      {"walked, a key each", false, 1 << 20, 6000},
  };
  for (const MixCase& c : cases) {
    std::mt19937 random(7);
    auto draw = [&](std::size_t n) { return static_cast<std::size_t>(random() % n); };
    TIETokenTree memory(1, c.probed);
    std::vector<Filed> live;  // in the order filed
    for (int op = 0; op < c.operations; ++op) {
      const std::size_t pick = draw(20);
      const int hash = static_cast<int>(draw(static_cast<std::size_t>(c.keys)));
      if (pick < 11 || live.empty()) {
        live.push_back({hash, Root()});
        ASSERT_NE(memory.Add(live.back().token, hash), TIETokenTree::kNoEntry) << c.name;
      } else if (pick < 16) {
        const std::size_t i = draw(live.size());
        ASSERT_TRUE(memory.Remove(*live[i].token, nullptr)) << c.name << ", op " << op;
        live.erase(live.begin() + static_cast<std::ptrdiff_t>(i));
      } else {
        // A key that is filed (any one, when each entry has its own).
        const int key = pick % 2 == 0 ? live[draw(live.size())].hash : hash;
        ASSERT_EQ(Probe(memory, key), Expected(live, key)) << c.name << ", op " << op;
        // Stopping at the first, second or third partner (a large memory
        // walks its first entry apart from the rest).
        for (std::size_t limit = 1; limit <= 3; ++limit) {
          ASSERT_EQ(Probe(memory, key, limit), Expected(live, key, limit))
              << c.name << ", op " << op << ", limit " << limit;
        }
        ASSERT_EQ(Probe<false>(memory, key), Expected(live, key)) << c.name << ", op " << op;
      }
    }
    EXPECT_EQ(memory.Count(), static_cast<int>(live.size())) << c.name;
    // A whole walk meets every entry once, each key's entries oldest first.
    std::map<int, std::vector<TIEToken*>> walked;
    memory.ForEach([&](TIETokenTree::Entry& e, std::uint32_t) {
      walked[e.hash].push_back(e.token.get());
      return true;
    });
    std::map<int, std::vector<TIEToken*>> filed;
    for (const Filed& f : live) {
      filed[f.hash].push_back(f.token.get());
    }
    EXPECT_EQ(walked, filed) << c.name;
    for (const auto& [key, tokens] : filed) {
      EXPECT_EQ(Probe(memory, key), tokens) << c.name << ", key " << key;
    }
  }
}

// Partial matches stored by a second memory are filed there by identity
// (their home is in the first): each is found and taken out exactly once,
// in any order, while the identity table grows and shrinks around them.
TEST(TokenMemoryTest, TokensFiledByIdentityAreTakenOutOnce) {
  const int counts[] = {5, 300, 5000};
  for (int n : counts) {
    TIETokenTree first(1, true);
    TIETokenTree second(1, true);
    std::vector<Ref<TIEToken>> tokens;
    std::vector<Ref<IFact>> facts;
    for (int i = 0; i < n; ++i) {
      Ref<IFact> fact = MakeRef<TFact>();
      fact->SetID(i + 1);
      facts.push_back(fact);
      tokens.push_back(MakeRef<TIEToken>(Root(), fact));
      ASSERT_NE(first.Add(tokens.back(), i % 4), TIETokenTree::kNoEntry);
      ASSERT_NE(second.Add(tokens.back(), i % 9), TIETokenTree::kNoEntry);
    }
    std::mt19937 random(static_cast<unsigned>(n));
    std::shuffle(tokens.begin(), tokens.end(), random);
    for (std::size_t i = 0; i < tokens.size(); ++i) {
      Ref<TIEToken> held;
      ASSERT_TRUE(second.Remove(*tokens[i], nullptr, &held)) << n << " tokens, removal " << i;
      EXPECT_EQ(held.get(), tokens[i].get());
      EXPECT_FALSE(second.Remove(*tokens[i], nullptr)) << n << " tokens, removal " << i;
      if (i % 3 == 0) {
        // A new one comes meanwhile, into a freed place.
        Ref<IFact> fact = MakeRef<TFact>();
        fact->SetID(n + static_cast<int>(i) + 1);
        facts.push_back(fact);
        Ref<TIEToken> late = MakeRef<TIEToken>(Root(), fact);
        ASSERT_NE(first.Add(late, 0), TIETokenTree::kNoEntry);
        ASSERT_NE(second.Add(late, 0), TIETokenTree::kNoEntry);
        ASSERT_TRUE(second.Remove(*late, nullptr));
      }
    }
    EXPECT_EQ(second.Count(), 0) << n;
    EXPECT_EQ(first.Count(), n + (n + 2) / 3) << n;
  }
}

// A whole walk of a large memory fetches ahead of where it is: it must still
// meet the entries in the order the memory prints them (bucket by bucket,
// each bucket's oldest first), every one once, and stop where it is told,
// also after removals left places that new entries took.
TEST(TokenMemoryTest, LargeWalksMeetEntriesInTheMemorysOrder) {
  const int sizes[] = {TIETokenTree::kLookAheadFrom + 1, 3 * TIETokenTree::kLookAheadFrom};
  for (int size : sizes) {
    TIETokenTree memory(1);
    std::vector<Ref<TIEToken>> tokens;
    int next_id = 1;
    auto file = [&](int hash) {
      Ref<IFact> fact = MakeRef<TFact>();
      fact->SetID(next_id++);
      tokens.push_back(MakeRef<TIEToken>(TTokenAction::taAdd, fact));
      ASSERT_NE(memory.Add(tokens.back(), hash), TIETokenTree::kNoEntry);
    };
    for (int i = 0; i < size; ++i) {
      file(i % 97);  // chains of several entries
    }
    for (std::size_t i = 0; i < tokens.size(); i += 4) {
      ASSERT_TRUE(memory.Remove(*tokens[i], nullptr));
    }
    for (int i = 0; i < size / 4; ++i) {
      file(i * 7);
    }
    ASSERT_GE(memory.Count(), TIETokenTree::kLookAheadFrom);
    // The printed order: "f-ID" per entry, a line per bucket.
    std::vector<std::string> printed;
    const std::string text = memory.GetToFactsString();
    for (std::size_t at = text.find("f-"); at != std::string::npos;) {
      const std::size_t next = text.find("f-", at + 2);
      const std::size_t end = std::min(next, text.find('\n', at));
      printed.push_back(text.substr(at, end - at));
      at = next;
    }
    std::vector<std::string> walked;
    memory.ForEach([&](TIETokenTree::Entry& e, std::uint32_t) {
      walked.push_back("f-" + std::to_string(e.token->Fact()->GetID()));
      return true;
    });
    EXPECT_EQ(static_cast<int>(walked.size()), memory.Count()) << size;
    EXPECT_EQ(walked, printed) << size;
    for (std::size_t stop : {std::size_t{1}, std::size_t{5}, walked.size() - 1}) {
      std::vector<std::string> part;
      memory.ForEach([&](TIETokenTree::Entry& e, std::uint32_t) {
        part.push_back("f-" + std::to_string(e.token->Fact()->GetID()));
        return part.size() < stop;
      });
      EXPECT_EQ(part, std::vector<std::string>(walked.begin(),
                                               walked.begin() + static_cast<std::ptrdiff_t>(stop)))
          << size << ", stop after " << stop;
    }
  }
}


// A memory walked whole meets its entries bucket by bucket, a key hash's
// bucket being its magnitude modulo the memory's bucket count, and each
// bucket's entries in the order they came: with fact ids as the keys, that
// is id order below the bucket count, and ids past it fall in with the
// first ones. The order holds while entries come and go, in memories large
// enough to walk ahead.
TEST(TokenMemoryTest, WholeWalksFollowTheBucketsOfTheKeys) {
  struct Case {
    int buckets;
    int entries;
  };
  const Case cases[] = {{1, 40}, {7, 60}, {101, 300}, {101, TIETokenTree::kLookAheadFrom * 2}};
  for (const Case& c : cases) {
    TIETokenTree memory(c.buckets);
    std::mt19937 random(static_cast<unsigned>(c.buckets * 1000 + c.entries));
    std::vector<Filed> live;  // in the order filed
    std::vector<Ref<IFact>> facts;
    int next_id = 1;
    auto file = [&](int hash) {
      Ref<IFact> fact = MakeRef<TFact>();
      fact->SetID(next_id++);
      facts.push_back(fact);
      live.push_back({hash, MakeRef<TIEToken>(TTokenAction::taAdd, fact)});
      ASSERT_NE(memory.Add(live.back().token, hash), TIETokenTree::kNoEntry);
    };
    for (int i = 0; i < c.entries; ++i) {
      // Mostly rising ids, some keys repeated, a few negative hashes.
      const int hash = i % 5 == 4 ? -(i * 3) : (i % 3 == 2 ? i / 2 : i);
      file(hash);
      if (i % 4 == 3) {
        const std::size_t gone = random() % live.size();
        ASSERT_TRUE(memory.Remove(*live[gone].token, nullptr));
        live.erase(live.begin() + static_cast<std::ptrdiff_t>(gone));
      }
    }
    std::vector<TIEToken*> expected;
    for (int bucket = 0; bucket < c.buckets; ++bucket) {
      for (const Filed& f : live) {
        const std::int64_t magnitude = f.hash < 0 ? -std::int64_t{f.hash} : f.hash;
        if (magnitude % c.buckets == bucket) {
          expected.push_back(f.token.get());
        }
      }
    }
    std::vector<TIEToken*> walked;
    memory.ForEach([&](TIETokenTree::Entry& e, std::uint32_t) {
      walked.push_back(e.token.get());
      return true;
    });
    EXPECT_EQ(walked, expected) << c.buckets << " buckets, " << c.entries << " entries";
  }
}

// The ways of splitting one fact are tokens of their own: a memory keeps
// each once, finds each again by an equal token made anew, and takes out
// only that one.
TEST(TokenMemoryTest, SplitsOfOneFactAreDistinctTokens) {
  for (const bool probed : {false, true}) {
    TIETokenTree memory(101, probed);
    Ref<IFact> fact = MakeRef<TFact>();
    fact->SetID(3);
    const Ref<TIEToken> whole = MakeRef<TIEToken>(TTokenAction::taAdd, fact);
    auto split = [&](std::uint32_t way, TTokenAction action) {
      Ref<IFact> copy = fact->Clone();
      copy->SetID(3);
      auto token = MakeRef<TIEToken>(action, copy);
      token->MarkSplitOf(*whole, way);
      return token;
    };
    constexpr std::uint32_t kWays = 5;
    for (std::uint32_t way = 0; way < kWays; ++way) {
      ASSERT_NE(memory.Add(split(way, TTokenAction::taAdd), 3), TIETokenTree::kNoEntry)
          << "way " << way;
      EXPECT_EQ(memory.Add(split(way, TTokenAction::taAdd), 3), TIETokenTree::kNoEntry)
          << "way " << way << " again";
    }
    EXPECT_EQ(memory.Count(), static_cast<int>(kWays));
    EXPECT_TRUE(memory.Remove(*split(2, TTokenAction::taRemove), nullptr));
    EXPECT_FALSE(memory.Remove(*split(2, TTokenAction::taRemove), nullptr));
    EXPECT_EQ(memory.Count(), static_cast<int>(kWays) - 1);
  }
}

// The pool keeps each list of key parts once: a list asked for again is the
// list kept the first time. Lists are numbered in the order they first came,
// every part with its list's number (the joins' key memo picks its slot by
// it, so that keys of different lists never share a slot in small networks).
TEST(TokenMemoryTest, TheKeyPoolKeepsEachListOnceNumberedInOrder) {
  struct Part {
    std::int32_t fact_index;
    const char* slot;
    std::int32_t sub_index;
  };
  const std::vector<std::vector<Part>> asked = {
      {{0, "a", -1}},
      {{0, "a", -1}, {1, "b", -1}},
      {{0, "a", -1}},                // again
      {{0, "a", 2}},                 // another element of the slot
      {{1, "a", -1}},                // another fact
      {{0, "a", -1}, {1, "b", -1}},  // again
  };
  const std::vector<std::uint32_t> numbers = {0, 1, 0, 2, 3, 1};
  TMemoryKeyPool pool;
  std::map<std::uint32_t, const TMemoryKeyPart*> first_list;
  for (std::size_t i = 0; i < asked.size(); ++i) {
    SCOPED_TRACE(i);
    std::vector<TMemoryKeyPart> parts;
    for (const Part& p : asked[i]) {
      parts.push_back(TMemoryKeyPart{.fact_index = p.fact_index,
                                     .key_number = 99,
                                     .slot = TSlotPosition(p.slot),
                                     .sub_index = p.sub_index,
                                     .cache = {}});
    }
    const std::span<const TMemoryKeyPart> kept = pool.Intern(parts);
    ASSERT_EQ(kept.size(), parts.size());
    for (const TMemoryKeyPart& part : kept) {
      EXPECT_EQ(part.key_number, numbers[i]);
    }
    auto [at, made] = first_list.try_emplace(numbers[i], kept.data());
    EXPECT_EQ(at->second, kept.data());  // the list kept the first time
  }
  EXPECT_EQ(pool.Count(), 4u);
}

// A key's fingerprint decides the key tests when it can, and only then
// rightly: equal keys never come out unequal, unequal ones never equal.
// Keys of one and two parts over integers at and beyond the packed range,
// atoms and strings sharing a text block or not, and other kinds.
TEST(TokenMemoryTest, FingerprintsDecideKeysOnlyRightly) {
  constexpr std::int32_t kEdge = std::int32_t{1} << 30;
  const auto own_atom = [](const char* s) {
    return Ref<IIEValue>(MakeRef<TIEValue>(TText(s), TIEType::dtAtom));  // a block of its own
  };
  const struct {
    const char* name;
    std::vector<Ref<IIEValue>> a;
    std::vector<Ref<IIEValue>> b;
    bool equal;
    bool decided;  // by the fingerprints alone
  } cases[] = {
      {"equal integers", {TIEValue::Integer(5)}, {TIEValue::Integer(5)}, true, true},
      {"unequal integers", {TIEValue::Integer(5)}, {TIEValue::Integer(6)}, false, true},
      {"the highest packed", {TIEValue::Integer(kEdge - 1)}, {TIEValue::Integer(kEdge - 1)}, true,
       true},
      {"the lowest packed", {TIEValue::Integer(-kEdge)}, {TIEValue::Integer(-kEdge)}, true, true},
      {"beyond the range", {TIEValue::Integer(kEdge)}, {TIEValue::Integer(-kEdge)}, false, false},
      {"equal atoms, one block", {TIEValue::Atom("red")}, {TIEValue::Atom("red")}, true, true},
      {"equal atoms, two blocks", {own_atom("red")}, {own_atom("red")}, true, false},
      {"unequal atoms", {TIEValue::Atom("red")}, {TIEValue::Atom("blue")}, false, false},
      {"an atom and a string of its text", {TIEValue::Atom("red")}, {TIEValue::String("red")},
       false, false},
      {"an integer and an atom", {TIEValue::Integer(7)}, {TIEValue::Atom("seven")}, false, false},
      {"floats", {TIEValue::Float(1.5)}, {TIEValue::Float(1.5)}, true, false},
      {"two parts, equal", {TIEValue::Integer(-3), TIEValue::Atom("red")},
       {TIEValue::Integer(-3), TIEValue::Atom("red")}, true, true},
      {"two parts, the integers unequal", {TIEValue::Integer(3), TIEValue::Integer(4)},
       {TIEValue::Integer(3), TIEValue::Integer(5)}, false, true},
      {"two parts, the texts unequal", {TIEValue::Integer(3), TIEValue::Atom("red")},
       {TIEValue::Integer(3), TIEValue::Atom("blue")}, false, false},
      {"two parts, a string for an atom", {TIEValue::Atom("red"), TIEValue::Atom("red")},
       {TIEValue::Atom("red"), TIEValue::String("red")}, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> slots;
    for (std::size_t i = 0; i < c.a.size(); ++i) {
      slots.push_back("s" + std::to_string(i));
    }
    auto t = MakeTemplate("t", slots);
    std::vector<TMemoryKeyPart> parts;
    for (const std::string& slot : slots) {
      parts.push_back(TMemoryKeyPart{.fact_index = -1,
                                     .key_number = 0,
                                     .slot = TSlotPosition(slot),
                                     .sub_index = -1,
                                     .cache = {}});
    }
    const TMemoryKey key{parts};
    auto print = [&](const std::vector<Ref<IIEValue>>& values) {
      auto fact = MakeRef<TFact>(t);
      for (std::size_t i = 0; i < values.size(); ++i) {
        fact->SetValue(slots[i], values[i]);
      }
      bool found = false;
      std::uint64_t fingerprint = 0;
      key.HashOfFact(*fact, found, &fingerprint);
      EXPECT_TRUE(found);
      return fingerprint;
    };
    const std::uint64_t a = print(c.a);
    const std::uint64_t b = print(c.b);
    bool decided = false;
    const bool same = a != TMemoryKey::kInexact && b != TMemoryKey::kInexact &&
                      TMemoryKey::SameKey(a, b, decided);
    if (a == TMemoryKey::kInexact || b == TMemoryKey::kInexact) {
      decided = false;
    }
    EXPECT_EQ(decided, c.decided);
    if (decided) {
      EXPECT_EQ(same, c.equal);
    }
  }
}

}  // namespace
}  // namespace zephro
