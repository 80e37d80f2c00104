#include "render/paths.h"

#include <algorithm>
#include <cctype>
#include <fcntl.h>
#include <map>
#include <set>
#include <string_view>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

namespace render {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kPartial = ".partial-";
constexpr size_t kUniqueLength = 6; // mkstemp's XXXXXX

// What makes two paths one file: its device and inode when it exists, else where it would be made.
std::string fileIdentity(const fs::path& path) {
    const fs::path target = followLink(path);
    struct stat status {};
    if (::stat(target.c_str(), &status) == 0)
        return "inode " + std::to_string(status.st_dev) + ":" + std::to_string(status.st_ino);
    std::error_code error;
    const fs::path absolute = fs::absolute(target, error);
    const fs::path canonical = fs::weakly_canonical(absolute, error);
    return "path " + (error ? absolute.lexically_normal() : canonical).string();
}

} // namespace

void checkPathClashes(const std::vector<PathUse>& uses) {
    std::unordered_map<std::string, size_t> first;
    first.reserve(uses.size());
    for (size_t i = 0; i < uses.size(); ++i) {
        const auto [found, fresh] = first.emplace(fileIdentity(uses[i].path), i);
        if (fresh) continue;
        const PathUse& earlier = uses[found->second];
        if (!earlier.writes && !uses[i].writes) continue;
        const PathUse& writer = uses[i].writes ? uses[i] : earlier;
        const PathUse& other = &writer == &uses[i] ? earlier : uses[i];
        throw PathClash(writer.path.string() + " (" + writer.role + ") is the same file as " +
                        other.path.string() + " (" + other.role + "); nothing was written");
    }
}

bool sameFile(const fs::path& a, const fs::path& b) {
    return fileIdentity(a) == fileIdentity(b);
}

fs::path followLink(const fs::path& path) {
    constexpr int kMostLinks = 40; // as the kernel allows
    fs::path current = path;
    std::error_code error;
    for (int i = 0; i < kMostLinks && fs::is_symlink(current, error); ++i) {
        const auto target = fs::read_symlink(current, error);
        if (error) break;
        current = target.is_absolute() ? target : current.parent_path() / target;
    }
    return current;
}

std::string partialPattern(const fs::path& target) {
    return target.filename().string() + std::string(kPartial) + std::string(kUniqueLength, 'X');
}

bool partialName(const fs::path& path) {
    return path.filename().string().find(kPartial) != std::string::npos;
}

size_t removeStalePartials(const std::vector<fs::path>& outputs) {
    std::map<fs::path, std::set<std::string>> byFolder;
    for (const auto& output : outputs) {
        const fs::path target = followLink(output);
        byFolder[target.parent_path().empty() ? fs::path(".") : target.parent_path()].insert(
            target.filename().string());
    }
    size_t removed = 0;
    for (const auto& [folder, names] : byFolder) {
        std::error_code error;
        for (fs::directory_iterator it(folder, error); !error && it != fs::directory_iterator();
             it.increment(error)) {
            const std::string name = it->path().filename().string();
            const size_t suffix = kPartial.size() + kUniqueLength;
            if (name.size() <= suffix || name.compare(name.size() - suffix, kPartial.size(), kPartial) != 0 ||
                !std::all_of(name.end() - kUniqueLength, name.end(),
                             [](unsigned char c) { return std::isalnum(c) != 0; }) ||
                !names.count(name.substr(0, name.size() - suffix)))
                continue;
            const int descriptor = ::open(it->path().c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
            if (descriptor < 0) continue;
            // A render that is still writing holds the lock; one that was killed holds nothing.
            if (::flock(descriptor, LOCK_EX | LOCK_NB) == 0 && ::unlink(it->path().c_str()) == 0) ++removed;
            ::close(descriptor);
        }
    }
    return removed;
}

} // namespace render
