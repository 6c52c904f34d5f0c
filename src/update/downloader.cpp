#include "update/downloader.h"

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <system_error>

#include <curl/curl.h>
#include <fmt/format.h>

#include "core/log.h"
#include "core/state.h"
#include "core/version.h"

#ifndef VNTX_DOWNLOAD_SERVER
#define VNTX_DOWNLOAD_SERVER "https://downloads.ventrix-p3d.invalid/"
#endif

namespace fs = std::filesystem;

namespace vntx {

namespace {

struct Settings {
    std::mutex mutex;
    std::string server;  // empty: environment or built-in
    bool caSet = false;
    std::string caFile;
    DownloadLimits limits;
    DownloadAbortCheck abortCheck;
};

Settings& settings() {
    static Settings s;
    return s;
}

std::string environment(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

std::string withSlash(std::string s) {
    if (!s.empty() && s.back() != '/') s += '/';
    return s;
}

bool defaultAbortCheck() { return stopRequested() || userClosed(); }

// libcurl's global state, set up once before the first handle.
void initCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct EasyDeleter {
    void operator()(CURL* c) const { curl_easy_cleanup(c); }
};

struct Transfer {
    std::ofstream out;
    DownloadAbortCheck abortCheck;
};

size_t writeBody(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const size_t n = size * count;
    t->out.write(data, static_cast<std::streamsize>(n));
    return t->out ? n : 0;  // a short count ends the transfer with a write error
}

int transferProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto* t = static_cast<Transfer*>(user);
    return t->abortCheck && t->abortCheck() ? 1 : 0;
}

fs::path temporaryBeside(const fs::path& output) {
    static std::atomic<unsigned> counter{0};
    fs::path tmp = output;
    tmp += fmt::format(".{}.part", counter++);
    return tmp;
}

void removeQuietly(const fs::path& p) {
    std::error_code ec;
    fs::remove(p, ec);
}

}  // namespace

std::string downloadServer() {
    {
        std::lock_guard lock(settings().mutex);
        if (!settings().server.empty()) return settings().server;
    }
    const std::string env = environment("VNTX_DOWNLOAD_BASE");
    return withSlash(env.empty() ? std::string(VNTX_DOWNLOAD_SERVER) : env);
}

void setDownloadServer(std::string server) {
    std::lock_guard lock(settings().mutex);
    settings().server = withSlash(std::move(server));
}

std::string downloadBase() { return downloadServer() + "downloads/"; }
std::string parkFileUrl(std::string_view location) { return fmt::format("{}P3D/{}", downloadBase(), location); }
std::string releaseUrl(std::string_view fileName) { return fmt::format("{}release/{}", downloadBase(), fileName); }
std::string docsUrl(std::string_view fileName) { return fmt::format("{}docs/{}", downloadBase(), fileName); }
std::string dataFileUrl(std::string_view fileName) {
    return fmt::format("{}{}/{}", downloadBase(), kVersionMajor, fileName);
}

std::string downloadCaFile() {
    {
        std::lock_guard lock(settings().mutex);
        if (settings().caSet) return settings().caFile;
    }
    return environment("VNTX_DOWNLOAD_CA");
}

void setDownloadCaFile(std::string pemPath) {
    std::lock_guard lock(settings().mutex);
    settings().caSet = true;
    settings().caFile = std::move(pemPath);
}

DownloadLimits downloadLimits() {
    std::lock_guard lock(settings().mutex);
    return settings().limits;
}

void setDownloadLimits(const DownloadLimits& limits) {
    std::lock_guard lock(settings().mutex);
    settings().limits = limits;
}

void setDownloadAbortCheck(DownloadAbortCheck check) {
    std::lock_guard lock(settings().mutex);
    settings().abortCheck = std::move(check);
}

bool download(const std::string& url, const fs::path& output, bool binary, const DownloadCheck& check) {
    fs::path tmp;
    try {
        initCurlOnce();
        std::unique_ptr<CURL, EasyDeleter> curl(curl_easy_init());
        if (!curl) {
            logf("Download error: '{}' for {}", "no transfer handle", url);
            return false;
        }
        Transfer t;
        DownloadLimits limits;
        std::string caFile = downloadCaFile();
        {
            std::lock_guard lock(settings().mutex);
            limits = settings().limits;
            t.abortCheck = settings().abortCheck ? settings().abortCheck : DownloadAbortCheck(defaultAbortCheck);
        }
        tmp = temporaryBeside(output);
        t.out.open(tmp, binary ? std::ios::out | std::ios::trunc | std::ios::binary : std::ios::out | std::ios::trunc);
        if (!t.out.is_open()) {
            logf("Could not open output file: {}", output.string());
            return false;
        }
        CURL* c = curl.get();
        curl_easy_setopt(c, CURLOPT_URL, url.c_str());
        curl_easy_setopt(c, CURLOPT_USERAGENT, "VNTX");
        curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, writeBody);
        curl_easy_setopt(c, CURLOPT_WRITEDATA, &t);
        curl_easy_setopt(c, CURLOPT_FAILONERROR, 1L);
        // A server that stops answering must not hold the caller for ever.
        curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, limits.connectSeconds);
        curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, limits.lowSpeedBytes);
        curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, limits.lowSpeedSeconds);
        curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, transferProgress);
        curl_easy_setopt(c, CURLOPT_XFERINFODATA, &t);
        curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
        if (!caFile.empty()) curl_easy_setopt(c, CURLOPT_CAINFO, caFile.c_str());

        const CURLcode rc = curl_easy_perform(c);
        t.out.close();
        if (rc != CURLE_OK) {
            logf("Download error: '{}' for {}", curl_easy_strerror(rc), url);
            removeQuietly(tmp);
            return false;
        }
        if (t.out.fail()) {
            logf("Download error: '{}' for {}", "the file could not be written", url);
            removeQuietly(tmp);
            return false;
        }
        if (check && !check(tmp)) {
            removeQuietly(tmp);
            return false;
        }
        std::error_code ec;
        fs::rename(tmp, output, ec);
        if (ec) {
            logf("Download error: 'could not replace {}: {}' for {}", output.string(), ec.message(), url);
            removeQuietly(tmp);
            return false;
        }
        return true;
    } catch (const std::exception& e) {
        logf("Downloader exception: '{}', {} => {}", e.what(), url, output.string());
        if (!tmp.empty()) removeQuietly(tmp);
        return false;
    }
}

bool downloadDataFile(const std::string& fileName, const fs::path& output, const DownloadCheck& check) {
    const bool ok = download(dataFileUrl(fileName), output, true, check);
    if (ok)
        logf("Downloaded '{}' to '{}'", fileName, output.string());
    else
        logf("Downloading '{}' failed !", fileName);
    return ok;
}

}  // namespace vntx
