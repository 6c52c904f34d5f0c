// Where the simulator is found: the SimConnect.cfg lookup and the order of
// the connection attempts.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace vntx::simconnect {

enum class Protocol : std::uint32_t { Pipe = 1, IPv4 = 2, IPv6 = 23 };

inline constexpr const char* kRegistryKey = "SOFTWARE\\Lockheed Martin\\Prepar3D v5";
inline constexpr const char* kRegistryPortIPv4 = "SimConnect_Port_IPv4";
inline constexpr const char* kRegistryPortIPv6 = "SimConnect_Port_IPv6";
inline constexpr const char* kDefaultPipeName = "Lockheed Martin Prepar3D v5\\SimConnect";

struct Config {
    Protocol protocol = Protocol::Pipe;
    std::string address;
    std::string port;  // the pipe name for a pipe
    std::uint32_t maxReceiveSize = 41088;
    bool disableNagle = false;
    // The simulator's own ports from the registry (empty when not there).
    std::string registryPortIPv4;
    std::string registryPortIPv6;
};

// The three places of SimConnect.cfg, in reading order: Public Documents,
// the user's Documents, the current folder.
std::vector<std::filesystem::path> configurationFiles();

// Reads configuration `index` ("SimConnect" for 0, "SimConnect.N" otherwise)
// from the files in order, each overriding what an earlier one set. Ports of
// the registry fill in a missing IPv4/IPv6 port. nullopt when a non-zero
// index has no section in any file.
std::optional<Config> readConfiguration(std::uint32_t index, const std::vector<std::filesystem::path>& files,
                                        const std::string& registryPortIPv4, const std::string& registryPortIPv6);
// The same with the real files and registry.
std::optional<Config> findConfiguration(std::uint32_t index);

// One connection attempt.
struct Attempt {
    Protocol kind = Protocol::Pipe;
    std::string address;  // server for a pipe, host for TCP
    std::string port;     // pipe name or TCP port
    bool lastOnFailure = false;  // a failure ends the search
    std::string pipePath() const;  // "\\address\pipe\name"
};

// The attempts of a configuration in their order.
std::vector<Attempt> planAttempts(const Config& config);

}  // namespace vntx::simconnect
