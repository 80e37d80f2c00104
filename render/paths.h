// The files a run reads and writes, checked against each other before anything is written, and the
// temporary files that runs killed part way left beside the outputs.
#pragma once

#include <cstddef>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace render {

// A file named for two uses, at least one of them a write; what() names both.
class PathClash : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct PathUse {
    std::filesystem::path path;
    std::string role; // "--json", "the input", "the output of in/a.wav"
    bool writes = false;
};

// Throws PathClash when a file to write is also read or written under another role: the same name, another
// spelling of it, a symbolic or hard link to it.
void checkPathClashes(const std::vector<PathUse>& uses);

// Whether two paths name one file, whether or not it exists yet.
bool sameFile(const std::filesystem::path& a, const std::filesystem::path& b);

// The file a write to `path` reaches: through symbolic links, as a shell redirection would.
std::filesystem::path followLink(const std::filesystem::path& path);

// "OUT.partial-XXXXXX", the temporary file a render writes OUT through.
std::string partialPattern(const std::filesystem::path& target);
bool partialName(const std::filesystem::path& path);

// Removes the temporary files of these outputs that runs killed before they finished left behind; one that
// a running render holds (it keeps its temporary file locked) stays. Answers how many went.
size_t removeStalePartials(const std::vector<std::filesystem::path>& outputs);

} // namespace render
