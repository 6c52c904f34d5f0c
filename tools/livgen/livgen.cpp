#include "livgen/livgen.h"

#include <algorithm>
#include <fstream>
#include <random>
#include <set>
#include <stdexcept>

#include <fmt/format.h>

namespace fs = std::filesystem;

namespace livgen {

namespace {

const std::vector<std::string> kAirlines = {
    "KLM", "DLH", "BAW", "AFR", "UAL", "DAL", "AAL", "SWA", "RYR", "EZY", "IBE", "AZA", "SAS", "FIN", "AUA",
    "SWR", "TAP", "THY", "UAE", "QTR", "ETD", "SIA", "CPA", "JAL", "ANA", "QFA", "ACA", "WJA", "VIR", "EIN",
    "LOT", "CSA", "TRA", "WZZ", "VLG", "NAX", "EWG", "BEL", "KAL", "AAR"};
const std::vector<std::string> kLarge = {"B738", "A320", "A321", "A20N", "B737", "A319", "E190"};
const std::vector<std::string> kHeavy = {"B744", "B77W", "A333", "A388", "B789", "B77L"};
const std::vector<std::string> kLight = {"C172", "PA28", "BE58"};
const std::vector<std::string> kBuzjet = {"GLF5", "C56X"};
const std::vector<std::string> kRotor = {"EC35"};
const std::vector<std::string> kRegPrefix = {"PH-", "D-A", "G-", "N", "F-G", "EI-", "OE-", "HB-", "SE-", "C-F"};

enum Fault {
    BadModel, ModelFix, MissingAtcModel, MissingTexture, DuplicateTitle, BadAtcId, NumberTooLarge,
    InvalidAirline, NoSections, Correction, DuplicateTitleKey, HeavyNoAirline, FaultKinds
};

std::string letters(std::uint64_t n, int width) {
    std::string s(static_cast<std::size_t>(width), 'A');
    for (int i = width - 1; i >= 0; --i, n /= 26) s[static_cast<std::size_t>(i)] = static_cast<char>('A' + n % 26);
    return s;
}

std::string utf16le(const std::string& utf8) {
    // The generator writes ASCII only; each byte becomes one code unit.
    std::string out = "\xFF\xFE";
    for (char c : utf8) {
        out += c;
        out += '\0';
    }
    return out;
}

void writeFile(const fs::path& p, const std::string& data) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error("cannot write " + p.string());
    out << data;
}

struct Section {
    std::string header;
    std::string title;
    std::string texture;     // folder suffix
    std::string codes;       // atc_parking_codes, empty: no key
    std::string types = "GATE";
    std::string atcId;       // empty: no key
    bool extraTitle = false;
    bool createTexture = true;
};

}  // namespace

Tree generate(const fs::path& root, const Options& o) {
    Tree tree;
    std::mt19937_64 rng(o.seed);
    auto pickFrom = [&rng](const std::vector<std::string>& v) -> const std::string& { return v[rng() % v.size()]; };
    auto expect = [&tree](const std::string& report, std::string line) { tree.expected[report].push_back(std::move(line)); };
    std::vector<std::string> dbRecords;
    std::uint64_t regCounter = 0, titleCounter = 0;
    auto nextReg = [&]() { const auto n = regCounter++; return kRegPrefix[n % kRegPrefix.size()] + letters(n / kRegPrefix.size(), 4); };

    const fs::path planes = root / "SimObjects" / "Airplanes";
    fs::create_directories(planes);
    for (unsigned f = 0; f < o.files; ++f) {
        const bool faulty = o.faultEvery && f % o.faultEvery == o.faultEvery / 2;
        const Fault fault = faulty ? static_cast<Fault>((f / o.faultEvery) % FaultKinds) : FaultKinds;
        // Model: mostly airliners, some small classes.
        std::string model;
        const auto r = rng() % 100;
        if (fault == InvalidAirline || fault == Correction || fault == ModelFix) model = "B738";
        else if (fault == HeavyNoAirline) model = "B744";
        else if (r < 55) model = pickFrom(kLarge);
        else if (r < 85) model = pickFrom(kHeavy);
        else if (r < 93) model = pickFrom(kLight);
        else if (r < 98) model = pickFrom(kBuzjet);
        else model = pickFrom(kRotor);
        const fs::path dir = planes / fmt::format("{}_{:05}", model, f);
        fs::create_directories(dir / "model");
        const std::string sim = model + "_sim";
        writeFile(dir / (sim + ".air"), "air");
        const fs::path cfg = dir / "aircraft.cfg";
        const std::string file = cfg.string();

        std::vector<Section> sections;
        const unsigned count = fault == NoSections ? 0 : o.sectionsPerFile;
        for (unsigned s = 0; s < count; ++s) {
            Section sec;
            sec.header = fmt::format("[fltsim.{}]", s);
            const std::string& airline = pickFrom(kAirlines);
            sec.codes = (rng() % 20 == 0) ? airline + "X" : airline;
            sec.atcId = nextReg();
            sec.title = fmt::format("AI {} {} {} {:06}", model, airline, sec.atcId, titleCounter++);
            sec.texture = fmt::format("{}_{}", airline, s);
            const bool cargoModel = model == "B744" || model == "B77L";
            if (cargoModel && rng() % 3 == 0) sec.types = "CARGO";
            // Some registrations are in the database and agree with the livery.
            if (rng() % 10 == 0 && !(s == 0 && fault == Correction))
                dbRecords.push_back(fmt::format(R"(<db reg="{}" airl="{}" type="{}" opr="{}" cargo="{}"/>)", sec.atcId,
                                                airline, model, airline, sec.types == "CARGO" ? "true" : "false"));
            sections.push_back(std::move(sec));
        }
        std::string atcModel = model;
        bool fileKept = true;
        switch (fault) {
        case BadModel:
            atcModel = fmt::format("XQ{}", f % 100);
            expect("InvalidAircraftCodes.txt", fmt::format("{:16} in {}", atcModel, file));
            fileKept = false;
            break;
        case ModelFix:
            atcModel = "737-800";
            expect("Fixes.txt", fmt::format("Model fix: 737-800 found in {} changed into B738", file));
            break;
        case MissingAtcModel:
            atcModel.clear();
            expect("InvalidAircraftCfgFiles.txt", "Line atc_model= is missing in [General] section of " + file);
            fileKept = false;
            break;
        case NumberTooLarge:
            sections.back().header = "[fltsim.10001]";
            expect("InvalidAircraftCfgFiles.txt",
                   file + " contains a [fltsim.x] section with a number < 0 or > 10000");
            fileKept = false;
            break;
        case NoSections:
            expect("AircraftCfgWithNoFltsimSection.txt", file);
            break;
        default:
            break;
        }
        std::vector<bool> kept(sections.size(), fileKept);
        if (fileKept && !sections.empty()) {
            Section& s0 = sections[0];
            switch (fault) {
            case MissingTexture:
                sections[1].createTexture = false;
                expect("IncompleFltsimSections.txt",
                       fmt::format("{} {} model, texture or sim file, or related path does not exist: {}", file,
                                   sections[1].header, (dir / ("texture." + sections[1].texture)).string()));
                kept[1] = false;
                break;
            case DuplicateTitle:
                sections[1].title = s0.title;
                expect("IncompleFltsimSections.txt",
                       fmt::format("{} {} title '{}' already exists", file, sections[1].header, s0.title));
                kept[1] = false;
                break;
            case BadAtcId:
                s0.atcId = fmt::format("N{}*5", f);
                expect("IncompleFltsimSections.txt", fmt::format("invalid atc_id={} in: {}", s0.atcId, file));
                break;
            case InvalidAirline:
                s0.codes = "QQQ";
                expect("InvalidAirlineCodes.txt", fmt::format("{:12} in {}", "QQQ", file));
                expect("IncompleFltsimSections.txt",
                       fmt::format("{} {} icao_airline is missing, or it has invalid info ", file, s0.header));
                break;
            case Correction: {
                const std::string owner = s0.codes.substr(0, 3) == "KLM" ? "DLH" : "KLM";
                dbRecords.push_back(fmt::format(R"(<db reg="{}" airl="{}" type="B738" opr="{}" cargo="false"/>)",
                                                s0.atcId, owner, owner));
                expect("AirlineModelConversions.txt",
                       fmt::format("{:80} {} airl {} => {}", s0.title, s0.atcId, s0.codes.substr(0, 3), owner));
                break;
            }
            case DuplicateTitleKey:
                s0.extraTitle = true;
                expect("IncompleFltsimSections.txt",
                       fmt::format("{} {} has more than one title key", file, s0.header));
                kept[0] = false;
                break;
            case HeavyNoAirline:
                s0.codes.clear();
                s0.atcId.clear();
                expect("IncompleFltsimSections.txt",
                       fmt::format("{} {} icao_airline is missing, or it has invalid info ", file, s0.header));
                expect("IncompleFltsimSections.txt",
                       fmt::format("'{}' '{}' has no airline and no regcode info", file, s0.title));
                kept[0] = false;
                break;
            default:
                break;
            }
        }

        // As in real files: mostly the liveries first and [General] after
        // them, with its own title key; camera and flight model sections
        // (with Title keys and "//" comments) close the file. Some files put
        // "//" comments behind the values the scan reads.
        const bool generalFirst = rng() % 4 == 0;
        const bool commented = rng() % 5 == 0;
        const std::string note = commented ? " // as in the original" : "";
        std::string general = "[General]\ntitle=" + model + " base model\natc_type=AIRLINER\n";
        if (!atcModel.empty()) general += "atc_model=" + atcModel + note + "\n";
        general += "editable=0\nperformance=AI only\nCategory=airplane\n\n";
        std::string text = generalFirst ? general : "";
        for (std::size_t i = 0; i < sections.size(); ++i) {
            const Section& s = sections[i];
            if (s.createTexture) fs::create_directories(dir / ("texture." + s.texture));
            text += s.header + "\n";
            text += "title=" + s.title + note + "\n";
            if (s.extraTitle) text += "title=" + s.title + " again\n";
            text += "sim=" + sim + note + "\nmodel=" + (commented ? " //clean,long" : "") + "\ntexture=" + s.texture +
                    "\n";
            text += "atc_airline=Airline\natc_heavy=0\n";
            if (!s.atcId.empty()) text += "atc_id=" + s.atcId + note + "\n";
            text += "atc_parking_types=" + s.types + "\n";
            if (!s.codes.empty()) text += "atc_parking_codes=" + s.codes + note + "\n";
            text += "ui_manufacturer=Maker\nui_type=" + model + "\nui_variation=" + s.title + "\n";
            text += "description=generated livery\n\n";
            ++tree.sections;
            if (kept[i]) tree.titles.push_back(s.title);
        }
        if (!generalFirst) text += general;
        text += "[CameraDefinition.0]\nTitle = \"Right Seat\"\nGuid = {A2F1C4B0-4C3D-4E5F-8A9B-0C1D2E3F4A5B}\n"
                "Origin = Cockpit\n\n[CameraDefinition.1]\nTitle = Tower view\nOrigin = Center\n\n"
                "[WEIGHT_AND_BALANCE]\nmax_gross_weight = 174200    // (pounds)\n"
                "empty_weight = 91300        // (pounds)\n\n[flaps.0]\ntype = 1    // trailing edge\n"
                "system_type = 0\n";
        const bool wide = o.utf16Every && f % o.utf16Every == 1;
        writeFile(cfg, wide ? utf16le(text) : text);
        ++tree.files;
    }

    // Folders the scan must not enter: below an "airport" folder and too deep.
    {
        const fs::path skipped = root / "Scenery" / "airport_vehicles" / "Tug";
        fs::create_directories(skipped / "model");
        fs::create_directories(skipped / "texture.X");
        writeFile(skipped / "T.air", "air");
        writeFile(skipped / "aircraft.cfg", "[General]\natc_model=B738\n[fltsim.0]\ntitle=Skipped airport tug\n"
                                            "sim=T\nmodel=\ntexture=X\natc_parking_codes=KLM\n");
        fs::path deep = root / "Deep";
        while (deep.string().size() < 260) deep /= std::string(40, 'd');
        fs::create_directories(deep / "model");
        fs::create_directories(deep / "texture.X");
        writeFile(deep / "T.air", "air");
        writeFile(deep / "aircraft.cfg", "[General]\natc_model=B738\n[fltsim.0]\ntitle=Skipped deep livery\n"
                                         "sim=T\nmodel=\ntexture=X\natc_parking_codes=KLM\n");
    }

    for (auto& [name, lines] : tree.expected) {
        std::sort(lines.begin(), lines.end());
        lines.erase(std::unique(lines.begin(), lines.end()), lines.end());
    }
    std::sort(tree.titles.begin(), tree.titles.end());

    auto join = [](const std::vector<std::string>& v) {
        std::string s;
        for (const auto& x : v) s += (s.empty() ? "" : ",") + x;
        return s;
    };
    std::vector<std::string> all;
    for (const auto* list : {&kLarge, &kHeavy, &kLight, &kBuzjet, &kRotor}) all.insert(all.end(), list->begin(), list->end());
    all.push_back("F16");
    tree.dbaseXml = "<?xml version=\"1.0\"?>\n";
    tree.dbaseXml += fmt::format("<aircrafts><aircraft types=\"{}\"/></aircrafts>\n", join(all));
    tree.dbaseXml += "<high_performance><hpf types=\"F16\"/></high_performance>\n";
    tree.dbaseXml += fmt::format("<heavy><hvy types=\"{}\"/></heavy>\n", join(kHeavy));
    tree.dbaseXml += fmt::format("<large><lar types=\"{}\"/></large>\n", join(kLarge));
    tree.dbaseXml += fmt::format("<buzjet><bzj types=\"{}\"/></buzjet>\n", join(kBuzjet));
    tree.dbaseXml += fmt::format("<rotorcraft><rot types=\"{}\"/></rotorcraft>\n", join(kRotor));
    tree.dbaseXml += "<cargo_types><cargo_type types=\"B744,B77L\"/></cargo_types>\n";
    tree.dbaseXml += "<similar_types><similar types=\"A320,A321,A319,A20N,B738,B737\"/>"
                     "<similar types=\"B744,B77W,A388,B789,A333\"/><similar types=\"C172,PA28,BE58\"/></similar_types>\n";
    tree.dbaseXml += fmt::format("<ICAO_airlines><ICAO codes=\"{}\"/></ICAO_airlines>\n", join(kAirlines));
    tree.dbaseXml += "<cargo_operators><ICAO codes=\"FDX\"/></cargo_operators>\n";
    tree.dbaseXml += "<publishers><pub names=\"Maker\"/></publishers>\n";
    tree.dbaseXml += "<fixes><fx wro=\"737-800\" cor=\"B738\"/></fixes>\n";
    tree.dbaseXml += "<simaddonsP3D><simaddonP3D arpts=\"EHAM\"/></simaddonsP3D>\n";
    tree.dbaseXml += "<dbase>";
    for (const auto& r : dbRecords) tree.dbaseXml += r;
    tree.dbaseXml += "</dbase>\n";
    return tree;
}

void writeManifest(const Tree& tree, const fs::path& folder) {
    fs::create_directories(folder / "expected");
    for (const auto& [name, lines] : tree.expected) {
        std::string text;
        for (const auto& l : lines) text += l + "\n";
        writeFile(folder / "expected" / name, text);
    }
    std::string titles;
    for (const auto& t : tree.titles) titles += t + "\n";
    writeFile(folder / "titles.txt", titles);
    writeFile(folder / "dbase.xml", tree.dbaseXml);
}

}  // namespace livgen
