// The deflate encoder behind zlib_compress: the data becomes a list of literal bytes and
// copies (LZ77 over hash chains, with one step of lazy matching), and the list is coded as
// one block twice, with the fixed Huffman codes and with codes built from its own symbol
// counts, keeping the shorter.
#include "deflate.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <queue>
#include <utility>

namespace kelvor {
namespace {

using Bytes = std::vector<unsigned char>;

constexpr std::size_t kWindowSize = 32768;  // the farthest a deflate copy may reach back
constexpr std::size_t kMinMatch = 3, kMaxMatch = 258;
constexpr int kMaxChain = 256;  // candidates tried per position: bounds the time on repetitive data
constexpr int kHashBits = 15;

// A literal byte (length 0) or a copy of `length` bytes from `distance` bytes back.
struct Token {
    std::size_t length;
    std::size_t distance;
    unsigned char literal;
};

struct Match {
    std::size_t length = 0, distance = 0;
};

// Earlier positions by the three bytes that start there: `head_` holds the latest position of
// each hash, `previous_` the one before it with the same hash, so a chain runs back in time.
class MatchFinder {
public:
    explicit MatchFinder(const Bytes& data)
        : data_(data), head_(std::size_t{1} << kHashBits, kNone), previous_(data.size(), kNone) {}

    // The longest copy for the bytes at `at` from the positions inserted so far, the nearest of
    // equally long ones; length 0 when there is none of kMinMatch bytes.
    Match longest_at(std::size_t at) const {
        Match best;
        if (at + kMinMatch > data_.size()) return best;
        const std::size_t limit = std::min(kMaxMatch, data_.size() - at);
        std::size_t candidate = head_[hash_at(at)];
        for (int tried = 0; candidate != kNone && at - candidate <= kWindowSize && tried < kMaxChain; ++tried) {
            std::size_t length = 0;
            while (length < limit && data_[candidate + length] == data_[at + length]) ++length;
            if (length > best.length) best = {length, at - candidate};
            if (length == limit) break;
            candidate = previous_[candidate];
        }
        return best.length >= kMinMatch ? best : Match{};
    }

    // Makes `at` a candidate for the positions after it.
    void insert(std::size_t at) {
        if (at + kMinMatch > data_.size()) return;
        const std::size_t hash = hash_at(at);
        previous_[at] = head_[hash];
        head_[hash] = at;
    }

private:
    static constexpr std::size_t kNone = ~std::size_t{0};

    std::size_t hash_at(std::size_t at) const {
        const std::uint32_t three = std::uint32_t{data_[at]} << 16 | std::uint32_t{data_[at + 1]} << 8 | data_[at + 2];
        return (three * 2654435761u) >> (32 - kHashBits);  // Knuth's multiplicative hash, modulo 2^32
    }

    const Bytes& data_;
    std::vector<std::size_t> head_, previous_;
};

// Lazy matching: a match is taken only if the match at the next byte is no longer; otherwise
// the byte goes out as a literal and the next match becomes the one to weigh.
std::vector<Token> lz77_tokens(const Bytes& data) {
    std::vector<Token> tokens;
    MatchFinder finder(data);
    Match current = finder.longest_at(0);
    for (std::size_t at = 0; at < data.size();) {
        finder.insert(at);
        const Match next = finder.longest_at(at + 1);
        if (current.length != 0 && next.length <= current.length) {
            tokens.push_back({current.length, current.distance, 0});
            for (std::size_t i = 1; i < current.length; ++i) finder.insert(at + i);
            at += current.length;
            current = finder.longest_at(at);
        } else {
            tokens.push_back({0, 0, data[at]});
            ++at;
            current = next;
        }
    }
    return tokens;
}

// Deflate packs its bits from the low bit of each byte up.
class BitWriter {
public:
    void put(std::uint32_t value, int count) {
        pending_ |= std::uint64_t{value} << pending_bits_;
        pending_bits_ += count;
        for (; pending_bits_ >= 8; pending_bits_ -= 8, pending_ >>= 8) {
            bytes_.push_back(static_cast<unsigned char>(pending_));
        }
    }

    Bytes finish() {
        if (pending_bits_ > 0) bytes_.push_back(static_cast<unsigned char>(pending_));
        pending_ = 0;
        pending_bits_ = 0;
        return std::move(bytes_);
    }

private:
    Bytes bytes_;
    std::uint64_t pending_ = 0;
    int pending_bits_ = 0;
};

// The length codes 257 to 285 and the distance codes 0 to 29 (RFC 1951, section 3.2.5): the
// first value each one stands for and the number of extra bits that follow it.
constexpr std::size_t kLengthBase[] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                       31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr int kLengthExtraBits[] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                    2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::size_t kDistanceBase[] = {1,    2,    3,    4,    5,    7,    9,     13,    17,    25,
                                         33,   49,   65,   97,   129,  193,  257,   385,   513,   769,
                                         1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr int kDistanceExtraBits[] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                      6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr std::size_t kLiteralCodes = 286, kDistanceCodes = 30, kEndOfBlock = 256;

// The last code whose range starts at or below `value`. Length 258 thus gets code 285, not
// code 284 with all five extra bits set, as RFC 1951 requires.
template <std::size_t N>
std::size_t code_for(const std::size_t (&bases)[N], std::size_t value) {
    std::size_t code = 0;
    while (code + 1 < N && bases[code + 1] <= value) ++code;
    return code;
}

struct HuffmanCode {
    std::vector<int> lengths;          // 0 for a symbol without a code
    std::vector<std::uint32_t> codes;  // bit-reversed, ready for BitWriter::put
};

// The canonical code for these lengths (RFC 1951, section 3.2.2). Huffman codes are sent from
// their first bit, the opposite of every other field, so each code is stored reversed.
HuffmanCode canonical_code(const std::vector<int>& lengths) {
    int count_of_length[16] = {};
    for (const int length : lengths) count_of_length[length] += length != 0;
    std::uint32_t next_code[16] = {};
    for (int length = 1, code = 0; length < 16; ++length) {
        code = (code + count_of_length[length - 1]) << 1;
        next_code[length] = static_cast<std::uint32_t>(code);
    }
    HuffmanCode huffman{lengths, std::vector<std::uint32_t>(lengths.size(), 0)};
    for (std::size_t symbol = 0; symbol < lengths.size(); ++symbol) {
        const int length = lengths[symbol];
        if (length == 0) continue;
        const std::uint32_t code = next_code[length]++;
        for (int bit = 0; bit < length; ++bit) huffman.codes[symbol] |= (code >> bit & 1) << (length - 1 - bit);
    }
    return huffman;
}

// The depth of each symbol in a Huffman tree built over `counts`, which has at least two
// non-zero entries. Nodes are ordered by weight and then by when they were made, so equal
// weights never leave the shape to the priority queue's implementation.
std::vector<int> huffman_tree_depths(const std::vector<std::uint32_t>& counts) {
    using Node = std::pair<std::uint64_t, std::size_t>;  // weight, index in `parent`
    std::priority_queue<Node, std::vector<Node>, std::greater<Node>> queue;
    std::vector<std::size_t> parent, symbol_of_leaf;
    for (std::size_t symbol = 0; symbol < counts.size(); ++symbol) {
        if (counts[symbol] == 0) continue;
        queue.push({counts[symbol], parent.size()});
        parent.push_back(0);
        symbol_of_leaf.push_back(symbol);
    }
    while (queue.size() > 1) {
        const Node first = queue.top();
        queue.pop();
        const Node second = queue.top();
        queue.pop();
        parent[first.second] = parent[second.second] = parent.size();
        queue.push({first.first + second.first, parent.size()});
        parent.push_back(0);
    }
    // Every parent comes after its children, so the depths fill in from the root down.
    std::vector<int> depth(parent.size(), 0);
    for (std::size_t node = parent.size() - 1; node-- > 0;) depth[node] = depth[parent[node]] + 1;
    std::vector<int> lengths(counts.size(), 0);
    for (std::size_t leaf = 0; leaf < symbol_of_leaf.size(); ++leaf) lengths[symbol_of_leaf[leaf]] = depth[leaf];
    return lengths;
}

// Code lengths fitted to the symbol counts, none longer than `max_length`. At least two
// symbols get a code, so that the code is complete, as inflaters expect, even when the block
// uses only one symbol or none.
std::vector<int> fitted_code_lengths(std::vector<std::uint32_t> counts, int max_length) {
    auto used = counts.size() - static_cast<std::size_t>(std::count(counts.begin(), counts.end(), 0u));
    for (std::size_t symbol = 0; used < 2; ++symbol) {
        if (counts[symbol] == 0) {
            counts[symbol] = 1;
            ++used;
        }
    }
    for (;;) {
        std::vector<int> lengths = huffman_tree_depths(counts);
        if (*std::max_element(lengths.begin(), lengths.end()) <= max_length) return lengths;
        // Too deep: halve the counts (keeping each one used) and build again. When all reach
        // 1 the tree is balanced, well within every limit deflate sets.
        for (auto& count : counts) count = (count + 1) / 2;
    }
}

struct BlockCodes {
    HuffmanCode literals;   // literal bytes, the end of the block and the copy lengths
    HuffmanCode distances;
};

void put_symbol(BitWriter& out, const HuffmanCode& code, std::size_t symbol) {
    out.put(code.codes[symbol], code.lengths[symbol]);
}

void put_tokens(BitWriter& out, const std::vector<Token>& tokens, const BlockCodes& codes) {
    for (const Token& token : tokens) {
        if (token.length == 0) {
            put_symbol(out, codes.literals, token.literal);
            continue;
        }
        const std::size_t length_code = code_for(kLengthBase, token.length);
        put_symbol(out, codes.literals, 257 + length_code);
        out.put(static_cast<std::uint32_t>(token.length - kLengthBase[length_code]), kLengthExtraBits[length_code]);
        const std::size_t distance_code = code_for(kDistanceBase, token.distance);
        put_symbol(out, codes.distances, distance_code);
        out.put(static_cast<std::uint32_t>(token.distance - kDistanceBase[distance_code]),
                kDistanceExtraBits[distance_code]);
    }
    put_symbol(out, codes.literals, kEndOfBlock);
}

// The codes of RFC 1951, section 3.2.6; the two literal/length codes and two distance codes
// that can never occur in data still take their place in the code.
BlockCodes fixed_codes() {
    std::vector<int> literals(288, 8);
    std::fill(literals.begin() + 144, literals.begin() + 256, 9);
    std::fill(literals.begin() + 256, literals.begin() + 280, 7);
    return {canonical_code(literals), canonical_code(std::vector<int>(32, 5))};
}

Bytes fixed_block(const std::vector<Token>& tokens) {
    BitWriter out;
    out.put(1, 1);  // BFINAL
    out.put(1, 2);  // BTYPE 01: fixed Huffman codes
    put_tokens(out, tokens, fixed_codes());
    return out.finish();
}

// One symbol of the code-length alphabet, with its extra bits: 0 to 15 are lengths, 16 repeats
// the previous length 3 to 6 times, 17 and 18 are runs of 3 to 10 and 11 to 138 zeros.
struct LengthItem {
    std::size_t symbol;
    std::uint32_t extra;
    int extra_bits;
};

std::vector<LengthItem> run_length_items(const std::vector<int>& lengths) {
    std::vector<LengthItem> items;
    int previous = -1;
    for (std::size_t at = 0; at < lengths.size();) {
        const int length = lengths[at];
        std::size_t run = 1;
        while (at + run < lengths.size() && lengths[at + run] == length) ++run;
        if (length == 0 && run >= 3) {
            run = std::min<std::size_t>(run, 138);
            items.push_back(run >= 11 ? LengthItem{18, static_cast<std::uint32_t>(run - 11), 7}
                                      : LengthItem{17, static_cast<std::uint32_t>(run - 3), 3});
            at += run;
        } else if (length == previous && run >= 3) {
            run = std::min<std::size_t>(run, 6);
            items.push_back({16, static_cast<std::uint32_t>(run - 3), 2});
            at += run;
        } else {
            items.push_back({static_cast<std::size_t>(length), 0, 0});
            ++at;
        }
        previous = length;
    }
    return items;
}

// The order in which a dynamic block sends the lengths of the code-length code, the rarely
// used lengths last so that they can be left off.
constexpr std::size_t kCodeLengthOrder[] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// Trailing unused codes are not sent, down to the minimum that the header can express.
std::size_t sent_count(const std::vector<int>& lengths, std::size_t minimum) {
    std::size_t count = lengths.size();
    while (count > minimum && lengths[count - 1] == 0) --count;
    return count;
}

Bytes dynamic_block(const std::vector<Token>& tokens) {
    std::vector<std::uint32_t> literal_counts(kLiteralCodes, 0), distance_counts(kDistanceCodes, 0);
    for (const Token& token : tokens) {
        if (token.length == 0) {
            ++literal_counts[token.literal];
        } else {
            ++literal_counts[257 + code_for(kLengthBase, token.length)];
            ++distance_counts[code_for(kDistanceBase, token.distance)];
        }
    }
    ++literal_counts[kEndOfBlock];
    const BlockCodes codes{canonical_code(fitted_code_lengths(literal_counts, 15)),
                           canonical_code(fitted_code_lengths(distance_counts, 15))};

    // Both sets of lengths go out as one sequence, so a run may cross from one to the other.
    const std::size_t literal_count = sent_count(codes.literals.lengths, 257);
    const std::size_t distance_count = sent_count(codes.distances.lengths, 1);
    std::vector<int> lengths(codes.literals.lengths.begin(), codes.literals.lengths.begin() + literal_count);
    lengths.insert(lengths.end(), codes.distances.lengths.begin(), codes.distances.lengths.begin() + distance_count);
    const std::vector<LengthItem> items = run_length_items(lengths);
    std::vector<std::uint32_t> item_counts(19, 0);
    for (const LengthItem& item : items) ++item_counts[item.symbol];
    const HuffmanCode length_code = canonical_code(fitted_code_lengths(item_counts, 7));
    std::vector<int> lengths_in_order;
    for (const std::size_t symbol : kCodeLengthOrder) lengths_in_order.push_back(length_code.lengths[symbol]);
    const std::size_t length_code_count = sent_count(lengths_in_order, 4);

    BitWriter out;
    out.put(1, 1);  // BFINAL
    out.put(2, 2);  // BTYPE 10: codes sent in the block
    out.put(static_cast<std::uint32_t>(literal_count - 257), 5);
    out.put(static_cast<std::uint32_t>(distance_count - 1), 5);
    out.put(static_cast<std::uint32_t>(length_code_count - 4), 4);
    for (std::size_t i = 0; i < length_code_count; ++i) out.put(static_cast<std::uint32_t>(lengths_in_order[i]), 3);
    for (const LengthItem& item : items) {
        put_symbol(out, length_code, item.symbol);
        out.put(item.extra, item.extra_bits);
    }
    put_tokens(out, tokens, codes);
    return out.finish();
}

std::uint32_t adler32(const Bytes& bytes) {
    std::uint32_t low = 1, high = 0;
    for (const unsigned char byte : bytes) {
        low = (low + byte) % 65521;
        high = (high + low) % 65521;
    }
    return high << 16 | low;
}

}  // namespace

std::vector<unsigned char> zlib_compress(const std::vector<unsigned char>& data) {
    const std::vector<Token> tokens = lz77_tokens(data);
    Bytes fixed = fixed_block(tokens), dynamic = dynamic_block(tokens);
    const Bytes& block = dynamic.size() < fixed.size() ? dynamic : fixed;
    Bytes stream;
    stream.reserve(2 + block.size() + 4);
    // Deflate with a 32 KiB window, marked as maximum compression; the check bits make the
    // two bytes a multiple of 31.
    stream.push_back(0x78);
    stream.push_back(0xDA);
    stream.insert(stream.end(), block.begin(), block.end());
    const std::uint32_t check = adler32(data);
    for (int shift = 24; shift >= 0; shift -= 8) stream.push_back(static_cast<unsigned char>(check >> shift));
    return stream;
}

}  // namespace kelvor
