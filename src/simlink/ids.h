// The fixed numbers this program registers with the simulator: data
// definitions, client events, system events, request ids and the one
// notification group. The simulator only echoes them back.
#pragma once

#include <cstdint>

namespace vntx::simlink {

// Data definitions.
enum Definition : std::uint32_t {
    DEF_AI_CONTROLS = 401,
    DEF_AI_POSITION = 402,
    DEF_USER_POSITION = 403,
    DEF_AI_OBJECT = 404,
    DEF_STATIC_CG = 405,
    DEF_LIGHTS = 406,
    DEF_USER_TITLE = 407,
    DEF_USER_MODEL = 408,
    DEF_USER_ON_GROUND = 409,
};

// System events.
enum SystemEvent : std::uint32_t {
    EVT_SIM = 201,
    EVT_OBJECT_ADDED = 202,
    EVT_OBJECT_REMOVED = 203,
    EVT_FRAME = 204,
    EVT_POSITION_CHANGED = 205,
    EVT_FLIGHT_LOADED = 206,
};

// Client events.
enum ClientEvent : std::uint32_t {
    EVT_BEACON_LIGHTS_SET = 207,
    EVT_NAV_LIGHTS_SET = 208,
    EVT_TAXI_LIGHTS_SET = 209,
    EVT_STROBES_SET = 210,
    EVT_LANDING_LIGHTS_SET = 211,
    EVT_CABIN_LIGHTS_SET = 212,
    EVT_LOGO_LIGHTS_SET = 213,
    EVT_ALL_LIGHTS_TOGGLE = 214,
    EVT_FREEZE_LATITUDE_LONGITUDE_SET = 215,
    EVT_FREEZE_ALTITUDE_SET = 216,
    EVT_FREEZE_ATTITUDE_SET = 217,
    EVT_FLAPS_SET = 218,
    EVT_SPOILERS_SET = 219,
    EVT_GEAR_SET = 220,
    EVT_ENGINE_AUTO_START = 221,
    EVT_ENGINE_AUTO_SHUTDOWN = 222,
    EVT_THROTTLE_SET = 223,
};

inline constexpr std::uint32_t kNotificationGroup = 301;

// Requests.
enum Request : std::uint32_t {
    REQ_AI_WITHIN_RANGE = 101,
    REQ_STATIC_CG = 102,
    REQ_AI_RELEASE_CONTROL = 103,
    REQ_AI_CREATE = 104,
    REQ_AI_REMOVE = 105,
    REQ_USER_TITLE = 106,
    REQ_USER_MODEL = 107,
    REQ_USER_ON_GROUND = 108,
    REQ_USER_POSITION = 109,
    REQ_FLIGHT_PLAN = 110,
};

// The client name the simulator lists us under.
inline constexpr const char* kClientName = "Ventrix_P3D";

}  // namespace vntx::simlink
