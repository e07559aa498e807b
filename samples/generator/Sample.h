#pragma once
// The sample installation: the two schema versions, a deterministic data set of any size,
// and sample databases built from them with isql-fb. Knows nothing of the access layer.
#include <string>

namespace kestrix::sample {

// Events and alarms of the sample data lie on both sides of this date; it is the start
// date to pick for a demonstration run with events.
inline constexpr const char* kDemoStartDate = "2026-01-01";

// The samples folder compiled into the program (KESTRIX_SOURCE_DIR "/samples").
std::string DefaultSamplesDir();

// The schema script of the older (source) or newer (destination) version, with the
// reference rows of a fresh database, Windows-1251. samplesDir empty: the default.
std::string SchemaScript(bool newer, const std::string& samplesDir = {});

// Inserts of an installation of the given size (1 = small; counts grow about linearly),
// Windows-1251, for a database made by SchemaScript(newer). Empty for size <= 0.
std::string SourceDataScript(int size, bool newer = false);

// Creates the database file with the fixed credentials, page size 8192 and character set
// WIN1251 in dialect 1, runs the schema and, when size > 0, the data in it. Raises
// std::runtime_error with isql's output when isql fails (an existing file included).
void CreateSampleDatabase(const std::string& path, bool newer, int size,
                          const std::string& samplesDir = {});

} // namespace kestrix::sample
