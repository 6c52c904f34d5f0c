// The simulation variables the stand-in knows: reading and writing them on
// an object by a client's data definition, in the units the client names,
// and the names of the system and client events it accepts.
#pragma once

#include <string>
#include <vector>

#include "simconnect/wire.h"
#include "world.h"

namespace vntx::simhost {

using simconnect::DWORD;
namespace wire = simconnect::wire;

struct Datum {
    std::string name;   // upper case, without an index suffix
    int index = 0;      // ":N" suffix
    std::string units;  // lower case
    DWORD type = 0;
};

struct Definition {
    std::vector<Datum> datums;
    // Bytes of one element, or 0 when a STRINGV makes it variable.
    std::size_t size() const {
        std::size_t n = 0;
        for (const auto& d : datums) {
            std::size_t s = wire::datumSize(d.type);
            if (s == 0) return 0;
            n += s;
        }
        return n;
    }
};

// One datum of AddToDataDefinition: the name upper case without its ":N"
// index, the units lower case.
Datum parseDatumName(const std::string& name, const std::string& units, DWORD type);
// Reads one simulation variable of an object. False for a name we do not know.
bool readVariable(const Datum& d, const SimObject& o, double ground, double& num, std::string& text, bool& isText);
// Writes one settable variable; others are ignored as the simulator does for read-only ones.
void writeVariable(const Datum& d, SimObject& o, double v);
bool knownVariable(const Datum& d);
bool supportedType(DWORD t);
// Whether the definition moves or turns an object.
bool setsPosition(const Definition& def);
// Packs an object's values by a definition, in its order.
void pack(const Definition& def, const SimObject& o, double ground, simconnect::wire::Bytes& out);
// Applies one element of a SetDataOnSimObject, keeping the values for the trace when asked.
void apply(const Definition& def, SimObject& o, simconnect::wire::ByteView data, std::vector<double>* values);
bool knownSystemEvent(const std::string& lower);
bool knownClientEvent(const std::string& upper);

}  // namespace vntx::simhost
