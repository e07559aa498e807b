#pragma once
// What a copy wrote, kept for its read-back: per chunk of destination keys, how many rows and
// a digest of their keys and values as the read-back compares them. When the destination's
// rows of those keys give the same, the read-back need not read the source again.
#include <cstdint>
#include <map>
#include <utility>
#include <vector>

namespace kestrix::transfer {

struct ChunkDigest {
    long long rows = 0;
    std::uint64_t sum = 0;   // of the rows' digests: the same for the same rows in any order
    bool operator==(const ChunkDigest&) const = default;
};

struct WrittenDigest {
    bool usable = false;   // every written row was digested; else the read-back reads both sides
    std::vector<std::pair<long long, long long>> keys;   // destination keys written, as ranges
    std::map<long long, ChunkDigest> chunks;              // by destination key / kChunkKeys
    std::vector<std::pair<std::size_t, std::size_t>> mapSizes;   // the maps the rows went through

    static constexpr int kChunkShift = 10;   // 1,024 keys a chunk
    static long long ChunkOf(long long key) { return key >> kChunkShift; }

    void Add(long long key, std::uint64_t digest);
    // Another part of the same table's copy.
    void Merge(const WrittenDigest& other);
    // The key ranges sorted and joined.
    void Close();
};

// One value's bytes into a row's running digest; a NULL differs from every text.
std::uint64_t DigestValue(std::uint64_t digest, bool null, const char* bytes, std::size_t size);
// A row's digest from its values' one and its destination key.
std::uint64_t DigestRow(std::uint64_t values, long long key);

} // namespace kestrix::transfer
