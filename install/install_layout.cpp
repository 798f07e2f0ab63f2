#include "install/install_layout.h"

#include "install_paths.h"

#include <cstdlib>
#include <filesystem>

namespace krepiks::install {
namespace {

namespace fs = std::filesystem;

std::string WithSlash(std::string folder) {
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder;
}

// The prefix the installed folders hang from, resolved as /proc/self/exe is, so that the two
// compare; the configured one unless KREPIKS_PREFIX moves it.
std::string Prefix() {
    const char* moved = std::getenv("KREPIKS_PREFIX");
    if (!moved || !*moved)
        return configured::Prefix;
    std::error_code error;
    const fs::path resolved = fs::weakly_canonical(fs::absolute(moved, error), error);
    return error ? std::string(moved) : resolved.string();
}

std::string Under(const std::string& prefix, const char* folder) {
    if (folder[0] == '/') // configured as an absolute folder, outside the prefix
        return WithSlash(folder);
    return WithSlash(WithSlash(prefix) + folder);
}

} // namespace

std::string ProgramDirectory() {
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    if (error || self.empty())
        return {};
    return WithSlash(self.parent_path().string());
}

bool RunsInstalled() {
    const std::string self = ProgramDirectory();
    const std::string prefix = Prefix();
    return !self.empty() && (self == Under(prefix, configured::BinDir) ||
                             self == Under(prefix, configured::HelperDir));
}

std::string ProgramPath(std::string_view name) {
    const std::string folder =
        RunsInstalled() ? Under(Prefix(), configured::BinDir) : ProgramDirectory();
    return folder + std::string(name);
}

std::string HelperPath(std::string_view name) {
    const std::string folder =
        RunsInstalled() ? Under(Prefix(), configured::HelperDir) : ProgramDirectory();
    return folder + std::string(name);
}

std::string DataPath(std::string_view name) {
    // The build folder holds a copy of the shipped files in the same place relative to its
    // programs as an installed tree would.
    const std::string folder = RunsInstalled() ? Under(Prefix(), configured::DataDir)
                                               : ProgramDirectory() + "share/krepiks/";
    return folder + std::string(name);
}

std::string ConfiguredProgramPath(std::string_view name) {
    return Under(configured::Prefix, configured::BinDir) + std::string(name);
}

} // namespace krepiks::install
