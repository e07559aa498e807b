#include "transfer/WrittenDigest.h"

#include <algorithm>
#include <cstring>

namespace kestrix::transfer {
namespace {

std::uint64_t Mix(std::uint64_t x) {
    x += 0x9e3779b97f4a7c15ULL;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

} // namespace

std::uint64_t DigestValue(std::uint64_t digest, bool null, const char* bytes, std::size_t size) {
    // Eight bytes at a time, each value led by its size (a NULL by a size no text has).
    std::uint64_t h = Mix(digest ^ (null ? ~0ULL : size));
    std::size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, bytes + i, 8);
        h = Mix(h ^ word);
    }
    std::uint64_t tail = 0;
    std::memcpy(&tail, bytes + i, size - i);
    return Mix(h ^ tail);
}

std::uint64_t DigestRow(std::uint64_t values, long long key) {
    return Mix(values ^ Mix(static_cast<std::uint64_t>(key)));
}

void WrittenDigest::Add(long long key, std::uint64_t digest) {
    if (!keys.empty() && keys.back().second + 1 == key) keys.back().second = key;
    else if (keys.empty() || keys.back().first > key || keys.back().second < key) keys.emplace_back(key, key);
    ChunkDigest& chunk = chunks[ChunkOf(key)];
    ++chunk.rows;
    chunk.sum += digest;
}

void WrittenDigest::Merge(const WrittenDigest& other) {
    usable = usable && other.usable && mapSizes == other.mapSizes;
    keys.insert(keys.end(), other.keys.begin(), other.keys.end());
    for (const auto& [id, chunk] : other.chunks) {
        ChunkDigest& mine = chunks[id];
        mine.rows += chunk.rows;
        mine.sum += chunk.sum;
    }
    Close();
}

void WrittenDigest::Close() {
    std::sort(keys.begin(), keys.end());
    std::vector<std::pair<long long, long long>> joined;
    for (const auto& range : keys) {
        if (!joined.empty() && range.first <= joined.back().second + 1)
            joined.back().second = std::max(joined.back().second, range.second);
        else
            joined.push_back(range);
    }
    keys = std::move(joined);
}

} // namespace kestrix::transfer
