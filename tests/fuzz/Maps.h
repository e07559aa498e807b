#pragma once
// A fixed set of identifier maps for the texts that are rewritten through them: plain pairs,
// a repeated old key, a new key that is no number, one with a leading blank, a pair whose
// new entry is missing, and the ends of the integer range.
#include "run/IdMaps.h"

namespace kestrix::fuzz {

inline const IdMaps& FixedMaps() {
    static const IdMaps maps = [] {
        IdMaps m;
        const struct { int k; const char* old; const char* now; } pairs[] = {
            {kReaders, "1", "101"}, {kReaders, "2", "102"}, {kReaders, "7", "1O7"},
            {kReaders, "-3", "-2147483648"}, {kReaders, "2", "555"}, {kReaders, "999999", "2147483647"},
            {kOutputs, "1", "201"}, {kOutputs, "12", "202"}, {kInputs, "1", "301"}, {kInputs, "100", " 42"},
        };
        for (const auto& p : pairs) {
            m.AppendOld(p.k, p.old);
            m.AppendNew(p.k, p.now);
        }
        m.AppendOld(kInputs, "40");   // no new entry
        return m;
    }();
    return maps;
}

} // namespace kestrix::fuzz
