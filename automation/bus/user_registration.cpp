#include "automation/bus/user_registration.h"

#include "automation/bus/local_client.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace automation::bus {

std::string UserRegistrationPath(const std::u16string& progId) {
    std::filesystem::path base;
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config == '/')
        base = config;
    else if (const char* home = std::getenv("HOME"); home && *home)
        base = std::filesystem::path(home) / ".config";
    else
        base = "/tmp";
    return (base / "krepiks" / "classes" / toUtf8(progId)).string();
}

std::string UserRegisteredServer(const std::u16string& progId) {
    std::ifstream in(UserRegistrationPath(progId));
    std::string path;
    std::getline(in, path);
    return path;
}

bool SetUserRegisteredServer(const std::u16string& progId, const std::string& executablePath,
                             std::string* error) {
    const std::filesystem::path file = UserRegistrationPath(progId);
    std::error_code failed;
    if (executablePath.empty()) {
        std::filesystem::remove(file, failed);
    } else {
        std::filesystem::create_directories(file.parent_path(), failed);
        if (!failed) {
            // Written aside and renamed, so a creation never reads half a path.
            const std::filesystem::path partial = file.string() + ".new";
            std::ofstream(partial) << executablePath << '\n';
            std::filesystem::rename(partial, file, failed);
        }
    }
    if (failed && error)
        *error = file.string() + ": " + failed.message();
    return !failed;
}

CLSID RegisterUserLocalServer(const std::u16string& progId, const std::string& defaultPath,
                              bool defaultIsBusService) {
    const std::string chosen = UserRegisteredServer(progId);
    if (chosen.empty())
        return defaultIsBusService ? RegisterBusStartedServer(progId, defaultPath)
                                   : RegisterLocalServer(progId, defaultPath);
    // Checked at each creation, so the report can name the file that holds the bad path.
    return RegisterLocalServer(progId, chosen, {"-Embedding"}, UserRegistrationPath(progId));
}

} // namespace automation::bus
