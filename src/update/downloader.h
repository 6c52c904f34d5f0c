// The file downloader: one file over HTTPS from the maker's download server
// into a file on disk. Synchronous; every failure is logged and answered with
// false, never thrown.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace vntx {

// The download server, "https://host/" (always ending in "/"). Taken from the
// environment variable VNTX_DOWNLOAD_BASE when set, else the built-in address.
std::string downloadServer();
void setDownloadServer(std::string server);  // empty: back to the environment / built-in one

// The server's "downloads/" folder and the addresses below it.
std::string downloadBase();                             // server + "downloads/"
std::string parkFileUrl(std::string_view location);     // downloads/P3D/<location>
std::string releaseUrl(std::string_view fileName);      // downloads/release/<file>
std::string docsUrl(std::string_view fileName);         // downloads/docs/<file>
std::string dataFileUrl(std::string_view fileName);     // downloads/<major>/<file>

// A PEM file of certificates to trust for the server instead of the system's
// own (for a server with a certificate of its own, such as a local one). From
// VNTX_DOWNLOAD_CA when set; empty: the system's certificates.
std::string downloadCaFile();
void setDownloadCaFile(std::string pemPath);

// How long a transfer may stall. A connection (TLS handshake included) must be
// up within connectSeconds; a transfer slower than lowSpeedBytes per second
// for lowSpeedSeconds is abandoned.
struct DownloadLimits {
    long connectSeconds = 20;
    long lowSpeedBytes = 32;
    long lowSpeedSeconds = 30;
};
DownloadLimits downloadLimits();
void setDownloadLimits(const DownloadLimits& limits);

// Asked about once a second while a transfer runs; true aborts it. The
// default is the program's stop request (the close button included).
using DownloadAbortCheck = std::function<bool()>;
void setDownloadAbortCheck(DownloadAbortCheck check);  // nullptr: back to the default

// Asked about a whole body (the temporary file it arrived in) before it
// replaces the output; false keeps the old output and fails the download.
// The check logs its own reason.
using DownloadCheck = std::function<bool(const std::filesystem::path& received)>;

// Fetches url into output, in binary or text mode. The body goes to a
// temporary file beside output that replaces output only when the whole body
// arrived (and passed the check, when one is given); on any failure output is
// left as it was. True on success.
bool download(const std::string& url, const std::filesystem::path& output, bool binary,
              const DownloadCheck& check = {});

// A data file of this program version: downloads/<major>/<fileName>, binary.
bool downloadDataFile(const std::string& fileName, const std::filesystem::path& output,
                      const DownloadCheck& check = {});

}  // namespace vntx
