#include "simconnect/config.h"

#include <charconv>
#include <fstream>

#include "core/files.h"
#include "platform/platform.h"

namespace vntx::simconnect {
namespace {

// The key=value lines of one section of an INI file; false when the file or
// the section is not there. Section and key names ignore case.
bool readSection(const std::filesystem::path& file, const std::string& section,
                 std::vector<std::pair<std::string, std::string>>& out) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return false;
    std::string line;
    bool inSection = false, found = false;
    while (std::getline(in, line)) {
        std::string t = trim(line);
        if (t.empty() || t[0] == ';' || t[0] == '#') continue;
        if (t.front() == '[') {
            auto close = t.find(']');
            inSection = close != std::string::npos && iequals(trim(t.substr(1, close - 1)), section);
            found = found || inSection;
            continue;
        }
        if (!inSection) continue;
        auto eq = t.find('=');
        if (eq == std::string::npos) continue;
        out.emplace_back(toLower(trim(t.substr(0, eq))), trim(t.substr(eq + 1)));
    }
    return found;
}

std::optional<long long> parseInteger(const std::string& s) {
    long long v = 0;
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || p == s.data()) return std::nullopt;
    return v;
}

}  // namespace

std::vector<std::filesystem::path> configurationFiles() {
    std::vector<std::filesystem::path> files;
    for (auto folder : {platform::KnownFolder::PublicDocuments, platform::KnownFolder::Documents}) {
        auto dir = platform::knownFolder(folder);
        if (!dir.empty()) files.push_back(dir / "SimConnect.cfg");
    }
    std::error_code ec;
    files.push_back(std::filesystem::current_path(ec) / "SimConnect.cfg");
    return files;
}

std::optional<Config> readConfiguration(std::uint32_t index, const std::vector<std::filesystem::path>& files,
                                        const std::string& registryPortIPv4, const std::string& registryPortIPv6) {
    const std::string section = index == 0 ? "SimConnect" : "SimConnect." + std::to_string(index);
    Config c;
    c.registryPortIPv4 = registryPortIPv4;
    c.registryPortIPv6 = registryPortIPv6;
    bool found = false;
    for (const auto& file : files) {
        std::vector<std::pair<std::string, std::string>> entries;
        if (!readSection(file, section, entries)) continue;
        found = true;
        for (const auto& [key, value] : entries) {
            if (key == "protocol") {
                if (iequals(value, "Auto") || iequals(value, "Pipe")) c.protocol = Protocol::Pipe;
                else if (iequals(value, "IPv4")) c.protocol = Protocol::IPv4;
                else if (iequals(value, "IPv6")) c.protocol = Protocol::IPv6;
            } else if (key == "address") {
                c.address = value;
            } else if (key == "port") {
                c.port = value;
            } else if (key == "maxreceivesize") {
                auto v = parseInteger(value);
                if (v && *v > static_cast<long long>(c.maxReceiveSize) && *v <= 0x7FFFFFFF)
                    c.maxReceiveSize = static_cast<std::uint32_t>(*v);
            } else if (key == "disablenagle") {
                auto v = parseInteger(value);
                if (v) c.disableNagle = *v != 0;
            }
        }
    }
    if (!found && index != 0) return std::nullopt;
    if (c.port.empty()) {
        if (c.protocol == Protocol::IPv4) c.port = registryPortIPv4;
        if (c.protocol == Protocol::IPv6) c.port = registryPortIPv6;
    }
    return c;
}

std::optional<Config> findConfiguration(std::uint32_t index) {
    auto v4 = platform::registryReadString(platform::RegistryHive::CurrentUser, kRegistryKey, kRegistryPortIPv4);
    auto v6 = platform::registryReadString(platform::RegistryHive::CurrentUser, kRegistryKey, kRegistryPortIPv6);
    return readConfiguration(index, configurationFiles(), v4.value_or(""), v6.value_or(""));
}

std::string Attempt::pipePath() const {
    return "\\\\" + (address.empty() ? std::string(".") : address) + "\\pipe\\" +
           (port.empty() ? std::string(kDefaultPipeName) : port);
}

std::vector<Attempt> planAttempts(const Config& c) {
    std::vector<Attempt> plan;
    const Attempt defaultPipe{Protocol::Pipe, ".", kDefaultPipeName, true};
    switch (c.protocol) {
    case Protocol::Pipe: {
        plan.push_back({Protocol::Pipe, c.address.empty() ? "." : c.address, c.port, false});
        if ((c.address.empty() || c.address == ".") && !c.registryPortIPv6.empty())
            plan.push_back({Protocol::IPv6, "::1", c.registryPortIPv6, false});
        if (!c.registryPortIPv4.empty()) plan.push_back({Protocol::IPv4, "127.0.0.1", c.registryPortIPv4, false});
        plan.push_back(defaultPipe);
        break;
    }
    case Protocol::IPv6: {
        bool local = c.address.empty() || c.address == "::1";
        plan.push_back({Protocol::IPv6, local ? "::1" : c.address, c.port, !local});
        if (local) {
            if (!c.registryPortIPv4.empty())
                plan.push_back({Protocol::IPv4, "127.0.0.1", c.registryPortIPv4, false});
            plan.push_back(defaultPipe);
        }
        break;
    }
    case Protocol::IPv4: {
        bool local = c.address.empty() || c.address == "127.0.0.1";
        plan.push_back({Protocol::IPv4, local ? "127.0.0.1" : c.address, c.port, !local});
        if (local) plan.push_back(defaultPipe);
        break;
    }
    }
    return plan;
}

}  // namespace vntx::simconnect
