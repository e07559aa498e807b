#pragma once
// Texts whose embedded device identifiers are rewritten through the identifier maps:
// reader-rights lists and macro texts.
#include <memory>
#include <string>
#include <vector>

#include "run/IdMaps.h"
#include "run/TextFile.h"

namespace kestrix::transfer {

class MacroTextConverter {
public:
    explicit MacroTextConverter(const IdMaps& maps) : maps_(&maps) {}

    std::vector<std::string> Lines;
    std::string MacroName;
    // Reader-rights lines whose reader the maps did not hold (now "-1").
    int UnmappedCount = 0;

    // Reader-rights line: the number after the first "]" through READERS. A tail that is
    // no number raises a conversion error.
    void RemapReaderLine(int i);
    void RemapReaderLines();
    // Macro line in the current (up to 20 characters) or the older format. A field that
    // must be a number and is not, or too few fields, raises a conversion error.
    void RemapMacroLine(int i);
    void RemapMacroLines();

private:
    const IdMaps* maps_;
};

class MacroTextConverters {
public:
    void Add(std::unique_ptr<MacroTextConverter> item) { if (item) items_.push_back(std::move(item)); }
    MacroTextConverter& Items(int i) { return *items_.at(static_cast<std::size_t>(i)); }
    int Count() const { return static_cast<int>(items_.size()); }

private:
    std::vector<std::unique_ptr<MacroTextConverter>> items_;
};

// Joins lines, each followed by CR LF.
std::string JoinTextLines(const std::vector<std::string>& lines);

} // namespace kestrix::transfer
