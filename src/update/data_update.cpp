#include "update/data_update.h"

#include <system_error>

#include <pugixml.hpp>

#include "core/log.h"
#include "core/parameters.h"
#include "platform/platform.h"
#include "refdata/crypt.h"
#include "refdata/dbase.h"
#include "update/downloader.h"

namespace fs = std::filesystem;

namespace vntx {

const std::vector<DataFileUpdate>& dataFiles() {
    static const std::vector<DataFileUpdate> files{
        {"airports", "airports.enc", &params().AIRPORTS_VERSION, "airports", "airport"},
        {"aig", "AIG-regcodes.enc", &params().AIG_VERSION, "AIG-regcodes", "livery"},
        {"dbase", "dbase.enc", &params().DBASE_VERSION, "dbase", "db"},
    };
    return files;
}

bool dataFileUsable(const fs::path& enciphered, const DataFileUpdate& file) {
    fs::path plain = enciphered;
    plain += ".xml";
    auto refuse = [&](const std::string& why) {
        logf("Downloaded '{}' is not usable ({}): the old file and version are kept", file.fileName, why);
        return false;
    };
    if (!gf_streamDecrypt(enciphered, plain)) return refuse("it does not decipher");
    pugi::xml_document doc;
    const pugi::xml_parse_result parsed = doc.load_file(plain.c_str());
    removeFileQuietly(plain);
    if (!parsed) return refuse(parsed.description());
    if (!doc.child(file.topElement).child(file.childElement))
        return refuse(fmt::format("no <{}> in <{}>", file.childElement, file.topElement));
    if (std::string_view(file.member) == "dbase") {
        // Every section the database needs: the reader stops the start-up
        // when one is missing or empty.
        try {
            Database scratch;
            scratch.load(doc);
        } catch (const std::exception& e) {
            return refuse(e.what());
        }
    }
    return true;
}

void updateDataFile(const WebVersions& web, const DataFileUpdate& file, const fs::path& inputFolder) {
    const auto v = web.find(file.member);
    if (!v) {
        logf("{} version not found", file.member);
        return;
    }
    const fs::path local = inputFolder / file.fileName;
    std::error_code ec;
    if (!isNewer(*v, storedVersion(file.version->get())) && fs::exists(local, ec)) {
        logf("{} version up-to-date", file.member);
        return;
    }
    const bool ok = downloadDataFile(file.fileName, local,
                                     [&file](const fs::path& received) { return dataFileUsable(received, file); });
    if (!ok) return;
    file.version->set(formatVersion(*v));
    params().writeParameter(*file.version);
    logf("{} updated to {}", file.member, formatVersion(*v));
}

}  // namespace vntx
