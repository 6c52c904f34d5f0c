#include "core/files.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include <fmt/format.h>
#include <pugixml.hpp>

#include "core/log.h"
#include "core/status.h"

namespace fs = std::filesystem;

namespace vntx {

// ---------------------------------------------------------------- time texts

namespace {
// Days since 1970-01-01 to civil date (proleptic Gregorian), valid for any int64 day.
void civilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<std::int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    if (m <= 2) ++y;
}

const char* nameAt(const char* const* names, std::size_t count, std::int64_t index) {
    return (index >= 0 && static_cast<std::size_t>(index) < count) ? names[index] : "???";
}
}  // namespace

std::string utcDateTime(std::int64_t t) {
    static const char* const days[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Okt", "Nov", "Dec"};
    // Beyond what the C library's gmtime converts (years outside 4 digits) it is invalid.
    constexpr std::int64_t kMax = 253402300799;  // 9999-12-31 23:59:59
    constexpr std::int64_t kMin = -62135596800;  // 0001-01-01 00:00:00
    if (t > kMax || t < kMin) return "Invalid time";
    std::int64_t days1970 = t >= 0 ? t / 86400 : -((-t + 86399) / 86400);
    std::int64_t secs = t - days1970 * 86400;
    std::int64_t y;
    unsigned m, d;
    civilFromDays(days1970, y, m, d);
    // 1970-01-01 was a Thursday (index 3 with Monday = 0).
    std::int64_t wd = ((days1970 % 7) + 7 + 3) % 7;
    return fmt::format("{:3} {:3} {:02} {:02}:{:02}:{:02} {:4}", nameAt(days, 7, wd), nameAt(months, 12, m - 1), d,
                       secs / 3600, (secs / 60) % 60, secs % 60, y);
}

std::int64_t nowEpochSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string utcDateTimeNow() { return utcDateTime(nowEpochSeconds()); }

std::string utcTimeOfDay() { return utcDateTimeNow().substr(11, 8); }

// ----------------------------------------------------------- generations

fs::path generationName(const fs::path& path) {
    // On the native text: a narrow round trip would misspell letters beyond
    // ASCII on Windows (a user name in the data folder's path).
    using Char = fs::path::value_type;
    fs::path::string_type s = path.native();
    const Char separators[] = {Char('/'), Char('\\'), Char(0)};
    auto slash = s.find_last_of(separators);
    auto dot = s.find_last_of(Char('.'));
    if (dot == fs::path::string_type::npos || (slash != fs::path::string_type::npos && dot < slash)) return {};
    s.insert(dot, 1, Char('0'));
    return fs::path(std::move(s));
}

namespace {
// Copies src onto dst when src exists; false on a failed check or copy.
bool copyIfExists(const fs::path& src, const fs::path& dst) {
    std::error_code ec;
    bool exists = fs::exists(src, ec);
    if (ec && ec != std::errc::no_such_file_or_directory) {
        logErrorf("exists({}): {}", src.string(), ec.message());
        return false;
    }
    if (!exists) return true;
    // mingw's libstdc++ (GCC 12) fails overwrite_existing with EEXIST on
    // Windows, which would freeze every generation after the first.
    fs::remove(dst, ec);
    fs::copy_file(src, dst, fs::copy_options::overwrite_existing, ec);
    if (ec) {
        logErrorf("copy {} -> {} failed: {}", src.string(), dst.string(), ec.message());
        return false;
    }
    return true;
}
}  // namespace

bool gf_save1GenerationOf(const fs::path& path) {
    auto g1 = generationName(path);
    if (g1.empty()) {
        logErrorf("gf_save1GenerationOf: no dot in filename: {}", path.string());
        return false;
    }
    return copyIfExists(path, g1);
}

bool gf_saveUpto3GenerationsOf(const fs::path& path) {
    auto g1 = generationName(path);
    if (g1.empty()) {
        logErrorf("gf_saveUpto3GenerationsOf: no dot in filename: {}", path.string());
        return false;
    }
    auto g2 = generationName(g1);
    auto g3 = generationName(g2);
    bool ok = copyIfExists(g2, g3);
    ok = copyIfExists(g1, g2) && ok;
    ok = copyIfExists(path, g1) && ok;
    return ok;
}

// ----------------------------------------------------------- folders

namespace {
template <typename Pred>
void removeEntries(const fs::path& folder, const char* who, Pred wanted) {
    try {
        if (!fs::is_directory(folder)) return;
        std::vector<fs::path> victims;
        for (const auto& e : fs::directory_iterator(folder))
            if (wanted(e.path())) victims.push_back(e.path());
        // Not recursive: an empty sub-folder goes like a file, a full one is
        // an error that ends the operation.
        for (const auto& p : victims) fs::remove(p);
    } catch (const fs::filesystem_error& e) {
        logErrorf("{} exception: {}", who, e.what());
    }
}
}  // namespace

void gf_removeFilesFromDirectory(const fs::path& folder) {
    removeEntries(folder, "gf_removeFilesFromDirectory", [](const fs::path&) { return true; });
}

void gf_removeXMLFilesFromDirectory(const fs::path& folder) {
    removeEntries(folder, "gf_removeXMLFilesFromDirectory",
                  [](const fs::path& p) { return iequals(p.extension().string(), ".xml"); });
}

int countFilesInDirectory(const fs::path& folder) {
    std::error_code ec;
    int n = 0;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) ++n;
    return n;
}

// ----------------------------------------------------------- charsets

const char* charsetName(int code) {
    static const char* const names[] = {"ANSI", "Unicode", "Unicode_big_endian", "UTF8_with_BOM",
                                        "UTF8_without_BOM", "none_found"};
    return (code >= 0 && code <= 5) ? names[code] : "none_found";
}

namespace {
bool validUtf8(const unsigned char* p, std::size_t n) {
    std::size_t i = 0;
    while (i < n) {
        unsigned char c = p[i];
        std::size_t len;
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            len = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            len = 3;
        } else if (c >= 0xF0 && c <= 0xF4) {
            len = 4;
        } else {
            return false;
        }
        if (i + len > n) return false;
        for (std::size_t k = 1; k < len; ++k)
            if (p[i + k] < 0x80 || p[i + k] > 0xBF) return false;
        if (c == 0xE0 && p[i + 1] < 0xA0) return false;
        if (c == 0xF0 && p[i + 1] < 0x90) return false;
        if (c == 0xF4 && p[i + 1] > 0x8F) return false;
        i += len;
    }
    return true;
}
}  // namespace

int detectCharsetOf(std::string_view bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = std::min<std::size_t>(bytes.size(), 4096);
    if (n >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) return kUtf8WithBom;
    if (n >= 2) {
        if (p[0] == 0xFF && p[1] == 0xFE) return kUnicode;
        if (p[0] == 0xFE && p[1] == 0xFF) return kUnicodeBigEndian;
        if (p[1] == 0x00 && (n < 4 || p[3] == 0x00)) return kUnicode;
        if (p[0] == 0x00 && (n < 4 || p[2] == 0x00)) return kUnicodeBigEndian;
    }
    return validUtf8(p, n) ? kUtf8WithoutBom : kAnsi;
}

int detectCharset(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in.is_open()) return kNoneFound;
    std::array<char, 4096> buf{};
    in.read(buf.data(), static_cast<std::streamsize>(buf.size()));
    return detectCharsetOf(std::string_view(buf.data(), static_cast<std::size_t>(in.gcount())));
}

std::string utf16ToUtf8(std::string_view bytes, bool bigEndian) {
    if (bytes.size() % 2 != 0) throw std::runtime_error("odd number of bytes");
    std::string out;
    out.reserve(bytes.size());
    auto unit = [&](std::size_t i) -> std::uint32_t {
        auto a = static_cast<unsigned char>(bytes[i]), b = static_cast<unsigned char>(bytes[i + 1]);
        return bigEndian ? (a << 8 | b) : (b << 8 | a);
    };
    std::size_t i = 0;
    if (bytes.size() >= 2 && unit(0) == 0xFEFF) i = 2;
    for (; i < bytes.size(); i += 2) {
        std::uint32_t cp = unit(i);
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            if (i + 3 >= bytes.size()) throw std::runtime_error("truncated surrogate pair");
            std::uint32_t lo = unit(i + 2);
            if (lo < 0xDC00 || lo > 0xDFFF) throw std::runtime_error("invalid surrogate pair");
            cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
            i += 2;
        } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
            throw std::runtime_error("unpaired low surrogate");
        }
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

namespace {
std::string readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in.is_open()) throw std::runtime_error(fmt::format("cannot open {}", path.string()));
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::runtime_error unknownCharset(const fs::path& path, int charset) {
    return std::runtime_error(fmt::format("file {} has unknown charset: {}", path.string(), charsetName(charset)));
}
}  // namespace

bool decodeText(int charset, const fs::path& path, std::string& text) {
    switch (charset) {
    case kUnicode:
    case kUnicodeBigEndian:
        try {
            text = utf16ToUtf8(text, charset == kUnicodeBigEndian);
            return true;
        } catch (const std::exception& e) {
            showStatus(fmt::format("UTF16 read failed for '{}': {}", path.string(), e.what()), true);
            text.clear();
            return false;
        }
    case kAnsi:
    case kUtf8WithoutBom:
        return true;
    case kUtf8WithBom:
        if (text.size() >= 3) text.erase(0, 3);
        return true;
    default:
        throw unknownCharset(path, charset);
    }
}

bool readTextFile(int charset, const fs::path& path, std::string& out) {
    if (charset < kAnsi || charset > kUtf8WithoutBom) throw unknownCharset(path, charset);
    out = readAll(path);
    return decodeText(charset, path, out);
}

bool writeFileAtomically(const fs::path& path, std::string_view data) {
    static std::atomic<unsigned> counter{0};
    fs::path tmp = path;
    tmp += fmt::format(".{}.tmp", counter++);
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        if (!out.is_open()) return false;
        out.write(data.data(), static_cast<std::streamsize>(data.size()));
        out.flush();
        if (!out) {
            out.close();
            std::error_code ec;
            fs::remove(tmp, ec);
            return false;
        }
    }
    std::error_code ec;
    fs::rename(tmp, path, ec);
    if (ec) {
        fs::remove(tmp, ec);
        return false;
    }
    return true;
}

bool saveXmlDocument(pugi::xml_document& doc, const fs::path& path) {
    pugi::xml_node decl;
    for (auto child : doc.children())
        if (child.type() == pugi::node_declaration) {
            decl = child;
            break;
        }
    if (!decl) decl = doc.prepend_child(pugi::node_declaration);
    auto setAttr = [&](const char* name, const char* value) {
        auto a = decl.attribute(name);
        if (!a) a = decl.append_attribute(name);
        a.set_value(value);
    };
    setAttr("version", "1.0");
    setAttr("encoding", "UTF-8");
    std::ostringstream ss;
    doc.save(ss, "  ", pugi::format_indent, pugi::encoding_utf8);
    return writeFileAtomically(path, ss.str());
}

// ----------------------------------------------------------- small texts

HalfHourSet gf_hours2bitset(std::string_view text) {
    HalfHourSet set;
    if (text.empty()) return set;
    std::size_t start = 0;
    while (true) {
        auto comma = text.find(',', start);
        std::string_view piece = text.substr(start, comma == std::string_view::npos ? std::string_view::npos
                                                                                    : comma - start);
        bool ok = false;
        std::size_t i = 0;
        bool negative = false;
        if (i < piece.size() && piece[i] == '-') {
            negative = true;
            ++i;
        }
        std::int64_t value = 0;
        bool digits = i < piece.size();
        for (; i < piece.size() && digits; ++i) {
            if (piece[i] < '0' || piece[i] > '9') {
                digits = false;
                break;
            }
            value = value * 10 + (piece[i] - '0');
            if (value > 2147483647LL + (negative ? 1 : 0)) {
                digits = false;
                break;
            }
        }
        if (digits && value <= 47 && (!negative || value == 0)) {
            set.set(static_cast<std::size_t>(value));
            ok = true;
        }
        if (!ok) logErrorf("{} invalid hour '{}' in {}", "gf_hours2bitset", piece, text);
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    return set;
}

std::string trim(std::string_view text) {
    const char* ws = " \t\n\r";
    auto b = text.find_first_not_of(ws);
    if (b == std::string_view::npos) return {};
    auto e = text.find_last_not_of(ws);
    return std::string(text.substr(b, e - b + 1));
}

std::string toUpper(std::string_view text) {
    std::string s(text);
    for (auto& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::string toLower(std::string_view text) {
    std::string s(text);
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool iequals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::string socketErrorText(int code) {
    const char* text;
    switch (code) {
    case 10004: text = "Interrupted system call"; break;
    case 10009: text = "Bad file number"; break;
    case 10013: text = "Permission denied"; break;
    case 10014: text = "Bad address"; break;
    case 10022: text = "Invalid argument"; break;
    case 10024: text = "Too many open sockets"; break;
    case 10035: text = "Operation would block"; break;
    case 10036: text = "Operation now in progress"; break;
    case 10037: text = "Operation already in progress"; break;
    case 10038: text = "Socket operation on non-socket"; break;
    case 10039: text = "Destination address required"; break;
    case 10040: text = "Messenger too long"; break;
    case 10041: text = "Protocol wrong type for socket"; break;
    case 10042: text = "Bad protocol option"; break;
    case 10043: text = "Protocol not supported"; break;
    case 10044: text = "Socket type not supported"; break;
    case 10045: text = "Operation not supported on socket"; break;
    case 10046: text = "Protocol family not supported"; break;
    case 10047: text = "Address family not supported"; break;
    case 10048: text = "Address already in use"; break;
    case 10049: text = "Can't assign requested address"; break;
    case 10050: text = "Network is down"; break;
    case 10051: text = "Network is unreachable"; break;
    case 10052: text = "Net connection reset"; break;
    case 10053: text = "Software caused connection abort"; break;
    case 10054: text = "Connection reset by peer"; break;
    case 10055: text = "No buffer space available"; break;
    case 10056: text = "Socket is already connected"; break;
    case 10057: text = "Socket is not connected"; break;
    case 10058: text = "Can't send numLines socket shutdown"; break;
    case 10059: text = "Too many references, can't splice"; break;
    case 10060: text = "Connection timed out"; break;
    case 10061: text = "Connection refused"; break;
    case 10062: text = "Too many levels of symbolic links"; break;
    case 10063: text = "File name too long"; break;
    case 10064: text = "Host is down"; break;
    case 10065: text = "No route to host"; break;
    case 10066: text = "Directory not empty"; break;
    case 10067: text = "Too many processes"; break;
    case 10068: text = "Too many users"; break;
    case 10069: text = "Disc quota exceeded"; break;
    case 10070: text = "Stale NFS file handle"; break;
    case 10071: text = "Too many levels of remote in path"; break;
    case 10091: text = "Network system is unavailable"; break;
    case 10092: text = "Winsock version out of range"; break;
    case 10093: text = "WSAStartup not yet called"; break;
    case 10101: text = "Graceful shutdown in progress"; break;
    case 11001: text = "Host not found"; break;
    case 11004: text = "No host data of that type was found"; break;
    default: text = "Unknown errror code"; break;
    }
    return fmt::format("{} {}", code, text);
}

}  // namespace vntx
