// An in-memory phone behind the MobileDevice table, for the fuzz targets: one attached, paired
// phone with two AFC partitions (the companion app's container and the media partition) whose
// directory listings, file contents and file information come from the fuzzer. Names may be of
// any length and hold any bytes but zero, which no file system would allow.
// CoreFoundation calls go to the simulated phone's CoreFoundation, linked directly.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace fuzzphone {

struct FakeFile {
    std::string data;
    // The "st_size" value the file information gives; none = the true size. A hostile phone may
    // give a size that is wrong, negative, huge or not a number at all.
    std::optional<std::string> reportedSize;
    // Extra bytes a hostile read claims to have delivered beyond what it really copied.
    uint32_t readOverclaim = 0;
};

struct FakePartition {
    std::map<std::string, std::vector<std::string>> dirs;  // directory path ending in "/" -> names
    std::map<std::string, FakeFile> files;                  // full path -> file
    std::map<std::string, std::string> written;             // paths opened for writing -> bytes
    std::vector<std::string> removed;                       // every removal, in order
    std::vector<std::string> created;                       // every directory creation
    size_t longestPath = 0;                                 // of every path the program passed
};

struct FakePhone {
    FakePartition container;
    FakePartition media;
    bool reachable = true;  // false: no service starts
};

// Fills the entry-point tables, makes the session mutex (in a private folder, so other test runs
// on the machine never hold it) and makes the phone current. Call once, from the fuzzer's start.
void Install();

// Empties the phone and checks that the last run left no AFC connection, directory, file or
// file-information handle open; aborts when one is.
FakePhone& Fresh();
void CheckNoOpenHandles();

// Live CoreFoundation objects of the stand-in (constant strings and booleans aside).
int64_t LiveCfObjects();

// Aborts with the message when the condition is false (a finding for the fuzzer).
void Require(bool condition, const char* what);

}  // namespace fuzzphone
