// Turning the report stream of an aircraft into a motion at the 10 ms tick:
// playback schedule, linear legs with limited turns, extrapolation when the
// reports stop, holding on the ground, flare and touchdown.
#include <algorithm>
#include <cmath>
#include <exception>

#include <fmt/format.h>

#include "core/log.h"
#include "traffic/traffic_manager.h"

namespace vntx::traffic {

namespace {

bool bigCategory(Category c) { return c == Category::Buzjets || c == Category::Large || c == Category::Heavy; }

}  // namespace

double TrafficManager::heightAboveGround(const LiveAircraft& ac) const {
    if (ac.groundAltitudeKnown) return ac.pos.altitude - ac.groundAltitude;
    if (park_) return ac.pos.altitude - park_->elevation;
    return ac.pos.altitude;
}

void TrafficManager::decayWindows(LiveAircraft& ac) {
    if (ac.earlierWindow > 1000) ac.earlierWindow = std::max(1000, ac.earlierWindow - 100);
    if (ac.laterWindow > 1000) ac.laterWindow = std::max(1000, ac.laterWindow - 100);
}

void TrafficManager::resetWindows(LiveAircraft& ac) {
    ac.earlierWindow = 3000;
    ac.laterWindow = ac.takeOffRun ? 5000 : 3000;
}

void TrafficManager::nextPosMain(LiveAircraft& ac) {
    try {
        while (ac.stream.size() >= 2) {
            if (ac.onGround || !isStationary(ac.stream[1]) || ac.category == Category::Rotorcraft) {
                advance(ac);
                return;
            }
            ac.stream.erase(ac.stream.begin() + 1);
        }
        if (extensionStep(ac)) {
            if (ac.stream.size() >= 2 && ac.state == AcState::active) advance(ac);
            return;
        }
        if (ac.flightState != FlightState::parked && services_.softLearning) services_.softLearning(ac);
        removeAircraftFromSim(ac);
    } catch (const std::exception& e) {
        logf("{}: {} {}, sz:{}, fs:{}, st:{}", "nextPosMain", e.what(), ac.name(), ac.stream.size(),
             flightStateName(ac.flightState), stateName(ac.state));
    }
}

void TrafficManager::advance(LiveAircraft& ac) {
    ac.groundCurveActive = false;
    {
        const TrafficRecord& front = ac.stream[0];
        TrafficRecord& next = ac.stream[1];
        if (samePosition(front, next)) setStationary(next, true);
        if (!isStationary(next)) ac.course = bearingRad(front.latitude, front.longitude, next.latitude, next.longitude);
    }

    if (ac.onGround && services_.groundStep)
        services_.groundStep(ac);
    else
        scheduleStep(ac);
    // The ground step may have reshaped the stream (curves, halfway reports,
    // push-back points, the drive onto a stand).
    if (ac.stream.size() < 2) return;
    TrafficRecord& next = ac.stream[1];

    if (isStationary(next)) {
        ac.dLat = ac.dLon = 0;
        if (!ac.landingRoll && !ac.takeOffRun) decayWindows(ac);
    } else {
        const int ticks = std::max<std::int32_t>(25, next.scheduledTick - tick_);
        // The leg ends when the increments have brought the aircraft there.
        next.scheduledTick = tick_ + ticks;
        ac.dLat = (next.latitude - ac.pos.latitude) / ticks;
        ac.dLon = wrapLongitudeDelta(next.longitude - ac.pos.longitude) / ticks;
        if (ac.onGround) {
            if (services_.groundHeadingStep) services_.groundHeadingStep(ac, ticks);
        } else {
            attitudeStep(ac, ticks);
        }
    }
    ac.stream.pop_front();
}

double TrafficManager::legSpeed(const LiveAircraft& ac, double dist) const {
    const TrafficRecord& front = ac.stream[0];
    const TrafficRecord& next = ac.stream[1];
    double speed;
    if (ac.landingArmed && !next.airborne) {
        speed = front.groundSpeed > 0 ? front.groundSpeed : 100;
    } else if (front.groundSpeed == 0 && next.groundSpeed == 0) {
        const double span = std::max<std::int32_t>(25, next.scheduledTick - front.scheduledTick);
        speed = std::max(1.0, dist * 360000 / span);
    } else {
        speed = (front.groundSpeed + next.groundSpeed) / 2;
        // On the ground a stale reported speed (a receiver repeating the
        // last airborne value while the aircraft taxis) would rush the leg:
        // the reports' own spacing wins when it says much slower.
        const std::int32_t span = next.scheduledTick - front.scheduledTick;
        if (ac.onGround && !ac.takeOffRun && !ac.landingRoll && span > 0) {
            const double spaced = distanceNm(front.latitude, front.longitude, next.latitude, next.longitude) * 360000 / span;
            if (speed > 2 * spaced + 5) speed = spaced;
        }
    }
    return std::max(1.0, speed);
}

void TrafficManager::scheduleStep(LiveAircraft& ac) {
    TrafficRecord& next = ac.stream[1];
    if (isStationary(next)) return;
    const double dist = distanceNm(ac.pos.latitude, ac.pos.longitude, next.latitude, next.longitude);
    const double speed = legSpeed(ac, dist);
    const double bySpeed = dist * 360000 / speed;
    double flight = bySpeed;
    if (!ac.extrapolating()) {
        // Keep to the playback delay when the reports' own timing asks for a
        // plausible speed (at most half again faster, at least half slower
        // than reported); a late aircraft catches up at up to 1.5 times its
        // speed instead of staying late for the rest of its flight.
        const double byDue = static_cast<double>(next.scheduledTick) - tick_;
        flight = std::clamp(byDue, bySpeed / 1.5, bySpeed * 2);
    }
    std::int64_t due = static_cast<std::int64_t>(tick_) + std::max<long>(25, std::lround(flight));
    if (!ac.extrapolating())
        due = std::clamp<std::int64_t>(due, static_cast<std::int64_t>(next.scheduledTick) - ac.earlierWindow,
                                       static_cast<std::int64_t>(next.scheduledTick) + ac.laterWindow);
    if (due < tick_) due = tick_;
    next.scheduledTick = static_cast<std::int32_t>(due);
}

void TrafficManager::attitudeStep(LiveAircraft& ac, int ticks) {
    const TrafficRecord& front = ac.stream[0];
    const TrafficRecord& next = ac.stream[1];
    const auto& limits = categoryLimits(ac.category);
    const bool rotor = ac.category == Category::Rotorcraft;
    if (ac.flightState != FlightState::take_off) ac.flightState = FlightState::flying;
    ac.pos.verticalSpeed = next.verticalRate / 60.0;
    ac.pos.airspeed = next.trueAirspeed;

    const double height = heightAboveGround(ac);
    if (ac.flareStage == 0) {
        if (front.airborne && next.airborne) {
            ac.altitudeChange = (next.altitude - ac.pos.altitude) / ticks;
        } else if (!next.airborne) {
            if (park_ && qnh_ <= 1013) {
                ac.altitudeChange = (park_->elevation - ac.pos.altitude) / ticks;
            } else {
                double v;
                if (qnh_ <= 1013)
                    v = -601;
                else if (height > 100)
                    v = std::min((front.verticalRate + next.verticalRate) / 2 - (qnh_ - 1013.25) * 6, -601.0);
                else
                    v = -600;
                ac.altitudeChange = v / 6000;
            }
            setGear(ac, 1);
        } else {
            ac.altitudeChange = next.altitude > ac.pos.altitude
                                    ? std::min((next.altitude - ac.pos.altitude) / ticks, ac.motion.maxClimbPerTick)
                                    : 0.0;
        }
    }

    // A running flare keeps its own altitude change (above) but still follows
    // the legs in pitch, heading and bank; only the nose coming down after
    // touchdown owns the attitude.
    if (!ac.pitchChangeActive) {
        if (ac.flightState != FlightState::take_off)
            ac.pitchChange = std::clamp((targetPitch(next.verticalRate) - ac.pos.pitch) / ticks, -limits.maxPitchChange,
                                        limits.maxPitchChange);

        double turn;
        const double headingLimit = ac.landingArmed ? 2000 : 1000;
        if (next.headingValid && next.bankValid && height < headingLimit) {
            turn = angleDiff(next.trueHeading, ac.pos.heading);
        } else {
            const double target = ac.stream.size() >= 3 ? bearingRad(next.latitude, next.longitude, ac.stream[2].latitude,
                                                                      ac.stream[2].longitude)
                                                        : ac.course;
            turn = angleDiff(target, ac.pos.heading);
        }
        ac.headingChange = turn / ticks;

        if (next.bankValid) {
            ac.bankChange = (next.bank - ac.pos.bank) / ticks;
        } else {
            const double omega = turn / (ticks * 0.01);          // radians per second
            const double speed = next.groundSpeed * 0.514444;   // metres per second
            double bank = -std::atan(speed * omega / 9.80665);  // right turns: right wing down
            bank = std::clamp(bank, -limits.maxBank, limits.maxBank);
            ac.bankChange = std::clamp((bank - ac.pos.bank) / ticks, -limits.maxBankChange, limits.maxBankChange);
        }
    }

    // Configuration by altitude.
    if (front.altitude >= 10000 && front.airborne) {
        if (ac.altitudeBand != 1) {
            ac.altitudeBand = 1;
            lights(ac, {1, 1, 0, 0, 0, 0, 1});
            sendThrottle(ac, rotor ? 4 : 3);
            setGear(ac, 0);
            gf_setFlaps(ac, 0);
        }
        return;
    }
    if (ac.altitudeBand != 2) {
        ac.altitudeBand = 2;
        lights(ac, {1, 1, 1, 1, 1, 1, 1});
    }
    const double approachHeight = bigCategory(ac.category) ? 2050 : 625;
    if (height > approachHeight)
        approachStep(ac, height);
    else
        finalStep(ac);
}

void TrafficManager::approachStep(LiveAircraft& ac, double height) {
    const TrafficRecord& front = ac.stream[0];
    const bool rotor = ac.category == Category::Rotorcraft;
    decayWindows(ac);
    setCabin(ac, 1);
    ac.takeOffRun = false;
    ac.landingArmed = false;
    if (rotor) {
        sendThrottle(ac, 4);
    } else if (front.verticalRate <= -250 && ac.throttleIndex == 3) {
        sendThrottle(ac, 2);
    } else if (front.verticalRate > 400 && ac.throttleIndex == 4) {
        sendThrottle(ac, 3);
    }
    if (height >= 2400) {
        setGear(ac, 0);
        gf_setFlaps(ac, 0);
    } else if (front.verticalRate <= 100) {
        if (height < 2000) {
            if (ac.flapIndex == 0)
                gf_setFlaps(ac, 1);
            else if (ac.flapIndex == 1)
                gf_setFlaps(ac, 2);
        } else if (ac.flapIndex == 0) {
            gf_setFlaps(ac, 1);
        }
    }
}

void TrafficManager::finalStep(LiveAircraft& ac) {
    const TrafficRecord& front = ac.stream[0];
    const bool rotor = ac.category == Category::Rotorcraft;
    setCabin(ac, 0);
    const bool near = park_ && distanceNm(ac.pos.latitude, ac.pos.longitude, park_->latitude, park_->longitude) <= 10;
    if (front.verticalRate <= -250 && !ac.landingArmed && near) {
        sendThrottle(ac, rotor ? 4 : 1);
        gf_setFlaps(ac, 3);
        setGear(ac, 1);
        ac.landingArmed = true;
        ac.landingStage = 1;
        ac.climbOutDone = false;
        if (services_.freeStand && ac.standId != 0) services_.freeStand(ac);
        ac.standId = 0;
        ac.standConfirmed = false;
        ac.forcedHeading.reset();
        resetWindows(ac);
    } else if ((front.verticalRate > 600 || (ac.landingArmed && !near)) && !ac.climbOutDone) {
        ac.climbOutDone = true;
        decayWindows(ac);
        sendThrottle(ac, 4);
        setGear(ac, 0);
        gf_setFlaps(ac, 0);
        ac.flareStage = 0;
        ac.landingArmed = false;
    }
}

void TrafficManager::flareStep(LiveAircraft& ac) {
    const double height = park_ ? ac.pos.altitude - park_->elevation
                                : (ac.groundAltitudeKnown ? ac.pos.altitude - ac.groundAltitude : ac.pos.altitude);
    const double cg = ac.staticCgHeight;
    auto setRate = [&](double fpm) {
        if (!ac.stream.empty()) ac.stream.front().verticalRate = fpm;
    };
    switch (ac.flareStage) {
        case 0:
            if (height <= cg + 30) {
                ac.flareStage = 1;
                ac.pitchChange = (-4 * kDeg - ac.pos.pitch) / std::max(1, ac.motion.flareTicks);
                ac.altitudeChange = -0.1;
                setRate(-601);
                flareRunning_ = true;
            }
            break;
        case 1:
            if (height <= cg + 20) {
                ac.flareStage = 2;
                ac.altitudeChange = -0.075;
                setRate(-450);
            }
            break;
        case 2:
            if (height <= cg + 10) {
                ac.flareStage = 3;
                if (ac.throttleIndex != 0) sendThrottle(ac, 0);
                ac.altitudeChange = -0.05;
                setRate(-300);
            }
            break;
        case 3:
            if (height <= cg + 3) {
                ac.flareStage = 4;
                ac.altitudeChange = -0.025;
                setRate(-150);
            }
            break;
        default:
            break;
    }
}

void TrafficManager::touchdown(LiveAircraft& ac) {
    ++stats_.landings;
    ac.pitchChangeActive = true;
    ac.touchedDown = true;
    ac.landingRoll = true;
    ac.landingArmed = false;
    flareRunning_ = false;
    ac.touchdownHeading = ac.pos.heading;
    ac.rollOutSlowed = false;
    if (ac.category != Category::Rotorcraft) event(ac, "SPOILERS_SET", 16383);
    if (ac.category != Category::Light && ac.objectId != 0) {
        const double t = ac.reverseThrust ? -100.0 : 100.0;
        sim_.setControlBlock(ac.objectId, 100.0, t, t);
    }
    const int d = ac.motion.touchdownTicks;
    if (d <= 0) {
        logf("{} ! onGround slots {:.1f}", ac.name(), static_cast<double>(d));
        ac.pitchChange = ac.staticPitch - ac.pos.pitch;
        ac.bankChange = -ac.pos.bank;
    } else {
        ac.pitchChange = (ac.staticPitch - ac.pos.pitch) / d;
        ac.bankChange = (0 - ac.pos.bank) / d;
    }
}

void TrafficManager::startRotation(LiveAircraft& ac) {
    ac.landingStage = std::max(1, ac.motion.rotationTicks);
    ac.pos.bank = 0;
    ac.bankChange = 0;
    ac.pitchChange = (ac.motion.rotationPitch - ac.pos.pitch) / std::max(1, ac.motion.rotationTicks);
    if (!ac.takeOffRun) takeOffStart(ac);
    ac.previousFlightState = ac.flightState;
    ac.flightState = FlightState::take_off;
    ac.headingChange = 0;
    ac.groundCurveActive = false;
    if (ac.landingRoll) {
        ac.landingRoll = false;
        ac.touchedDown = false;
        sendThrottle(ac, 4);
        if (ac.category != Category::Rotorcraft) event(ac, "SPOILERS_SET", 16383);
        gf_setFlaps(ac, 1);
    }
}

void TrafficManager::rotationStep(LiveAircraft& ac) {
    --ac.landingStage;
    if (ac.landingStage >= 1) {
        ac.onGround = false;
        const double before = ac.pos.pitch;
        ac.pos.pitch += ac.pitchChange;
        if ((ac.pitchChange < 0 && ac.pos.pitch < ac.motion.rotationPitch) ||
            (ac.pitchChange > 0 && ac.pos.pitch > ac.motion.rotationPitch) || before == ac.motion.rotationPitch)
            ac.pos.pitch = ac.motion.rotationPitch;
        return;
    }
    ac.onGround = false;
    ac.pos.bank = std::clamp(ac.pos.bank + ac.bankChange, -kPi, kPi);
    if (ac.pos.pitch > ac.motion.climbPitch) {
        ac.pos.pitch += (ac.motion.climbPitch - ac.motion.rotationPitch) / std::max(1, ac.motion.climbOutTicks);
        if (ac.pos.pitch < ac.motion.climbPitch) ac.pos.pitch = ac.motion.climbPitch;
    }
    const int c = ac.landingStage;
    double factor = 1.0;
    if (c >= -99)
        factor = 0.1;
    else if (c >= -199)
        factor = 0.2;
    else if (c >= -299)
        factor = 0.5;
    ac.pos.altitude += ac.climbPerTick * factor;
    if (c == -300) setGear(ac, 0);
    if (c < -300 && ac.pos.pitch <= ac.motion.climbPitch) {
        ac.pitchChange = 0;
        if (heightAboveGround(ac) >= 800) {
            sendThrottle(ac, ac.category == Category::Rotorcraft ? 4 : 3);
            ac.flightState = FlightState::flying;
            ac.takeOffRun = false;
            ac.landingStage = 1;
            return;
        }
    }
    if (ac.landingStage < -1000) ac.landingStage = -1000;
}

void TrafficManager::motionStep(LiveAircraft& ac) {
    if (ac.groundCurveActive && services_.groundCurveStep) {
        services_.groundCurveStep(ac);
    } else {
        const FlightState fs = ac.flightState;
        if (fs == FlightState::take_off || fs == FlightState::flying || fs == FlightState::parked ||
            fs == FlightState::birth)
            ac.pos.heading = normalizeHeading(ac.pos.heading + ac.headingChange);
        if (fs == FlightState::parking || ac.turnToCourse) {
            const double diff = angleDiff(ac.course, ac.pos.heading);
            if (std::fabs(diff) > 0.5 * kDeg) {
                const double step = std::min(std::fabs(diff), ac.turnRate);
                ac.pos.heading = normalizeHeading(ac.pos.heading + (diff > 0 ? step : -step));
            }
        }
        if (fs != FlightState::pushed_back) {
            ac.pos.latitude += ac.dLat;
            ac.pos.longitude += ac.dLon;
        }
    }

    if (ac.flightState == FlightState::take_off) {
        rotationStep(ac);
    } else {
        if (ac.landingArmed && !ac.onGround && heightAboveGround(ac) <= 400) flareStep(ac);
        if (ac.pitchChangeActive) {
            ac.pos.pitch += ac.pitchChange;
            const bool passed = (ac.pitchChange >= 0 && ac.pos.pitch >= ac.staticPitch) ||
                                (ac.pitchChange < 0 && ac.pos.pitch <= ac.staticPitch);
            if (passed) {
                ac.pos.pitch = ac.staticPitch;
                ac.pitchChangeActive = false;
                ac.pitchChange = 0;
                ac.bankChange = 0;
                ac.pos.bank = 0;
                ac.flareStage = 0;
            } else {
                ac.pos.bank += ac.bankChange;
            }
        } else if (ac.flareStage > 0) {
            ac.pos.bank = std::clamp(ac.pos.bank + ac.bankChange, -kPi, kPi);
            ac.pos.pitch = std::max(ac.pos.pitch + ac.pitchChange, -4 * kDeg);
            ac.pos.altitude += ac.altitudeChange;
        } else if (ac.onGround) {
            ac.pos.pitch = ac.staticPitch;
            ac.pos.bank = 0;
        } else {
            ac.pos.pitch += ac.pitchChange;
            ac.pos.bank += ac.bankChange;
            ac.pos.altitude += ac.altitudeChange;
        }
    }

    // Across the date line and over the poles.
    if (ac.pos.latitude > 90 || ac.pos.latitude < -90) {
        ac.pos.latitude = ac.pos.latitude > 90 ? 180 - ac.pos.latitude : -180 - ac.pos.latitude;
        ac.pos.longitude += 180;
        ac.pos.heading = normalizeHeading(ac.pos.heading + kPi);
        ac.course = normalizeHeading(ac.course + kPi);
        ac.dLat = -ac.dLat;  // past the pole the leg runs the other way
    }
    if (ac.pos.longitude > 180) ac.pos.longitude -= 360;
    if (ac.pos.longitude < -180) ac.pos.longitude += 360;
}

bool TrafficManager::extensionStep(LiveAircraft& ac) {
    const FlightState fs = ac.flightState;
    if (fs == FlightState::parking && services_.arrivalStep) services_.arrivalStep(ac);
    if (ac.stream.empty()) return false;
    if (fs == FlightState::pushed_back || (fs == FlightState::taxi && !ac.takeOffRun && !ac.landingRoll)) {
        for (const auto& o : live_) {
            if (&o == &ac || o.state != AcState::active || !o.onGround || o.flightState != FlightState::taxi) continue;
            const double d = distanceNm(ac.pos.latitude, ac.pos.longitude, o.pos.latitude, o.pos.longitude);
            if (d < 1.2 * (ac.halfWingspan + o.halfWingspan)) {
                ac.holding = false;
                ac.holdingStart = 0;
                return false;
            }
        }
        if (ac.holding) {
            if (settings_.airborneOnly || tick_ - ac.holdingStart > settings_.maxHoldingMinutes * 6000) return false;
        } else {
            ac.holding = true;
            ac.holdingStart = tick_;
        }
        TrafficRecord copy = ac.stream.front();
        copy.groundSpeed = 0;
        setStationary(copy, true);
        copy.scheduledTick = copy.scheduledTick + 300;
        ac.stream.push_back(copy);
        ac.extensionCounter = 1;
        return true;
    }
    if (ac.extensionCounter < 0) return false;
    if (ac.extensionCounter == 1) {
        ac.extensionCounter = -1;
        return false;
    }
    if (ac.extensionCounter > 1) {
        extrapolate(ac, ac.extensionCounter - 1);
        return true;
    }
    if (!categoryAllowed(ac.category)) return false;
    if (!ac.onGround) {
        if (user_ && distanceNm(user_->latitude, user_->longitude, ac.pos.latitude, ac.pos.longitude) >= settings_.range - 0.5)
            return false;
        if (settings_.airborneOnly && std::fabs(ac.pos.altitude - (park_ ? park_->elevation : 0.0)) < 1000) return false;
        extrapolate(ac, 8);
        return true;
    }
    extrapolate(ac, fs == FlightState::parked ? 1 : 10);
    return true;
}

void TrafficManager::extrapolate(LiveAircraft& ac, int n) {
    const TrafficRecord& front = ac.stream.front();
    TrafficRecord r = front;
    const bool air = !ac.onGround;
    const int ticks = air ? 800 : 300;
    bool stationary = false;
    double speed = front.groundSpeed;
    if (air) {
        if (!ac.landingArmed)
            speed = std::max(1.0, 0.95 * speed);
        else if (n >= 4)
            speed = std::max(1.0, 0.9 * speed);
    } else if (ac.flightState == FlightState::parked || isStationary(front)) {
        stationary = true;
    } else if (ac.landingRoll == isStationary(front)) {
        if (!ac.takeOffRun) {
            stationary = true;
        } else if (speed <= 30) {
            speed = 40;
        } else if (speed <= 60) {
            speed = 80;
        } else if (speed <= 100) {
            speed = 110;
        } else if (speed <= 140) {
            speed = 150;
            r.verticalRate = 600;
        } else if (speed <= 160) {
            speed = 170;
            r.verticalRate = 1200;
        } else {
            speed = 180;
            r.verticalRate = 2400;
        }
    } else {
        speed = speed >= 100 ? 80 : speed >= 80 ? 60 : speed >= 60 ? 30 : 20;
    }
    if (stationary) {
        speed = 0;
        setStationary(r, true);
    } else {
        setStationary(r, false);
        movePoint(r.latitude, r.longitude, ac.pos.heading, ticks * speed / 360000.0);
        r.track = ac.pos.heading / kDeg;
    }
    r.groundSpeed = speed;
    if (ac.flightState == FlightState::parked) {
        r.scheduledTick = front.scheduledTick + 604800 * 100;
        r.timestamp = front.timestamp + 604800;
        ac.standConfirmed = false;
    } else {
        r.scheduledTick = front.scheduledTick + ticks;
        r.timestamp = front.timestamp + ticks / 100.0;
    }
    if (r.scheduledTick <= tick_) r.scheduledTick = tick_ + 1;
    if (ac.landingArmed && ac.flareStage == 0 && samePosition(r, front)) r.verticalRate = -667;
    ac.stream.push_back(r);
    ac.extensionCounter = n;
    ++stats_.extrapolated;
}

bool TrafficManager::checkNewPosDuringLanding(LiveAircraft& ac, TrafficRecord& rec) {
    if (ac.stream.empty()) {
        logErrorf("{} empty sz?", "checkNewPosDuringLanding");
        return false;
    }
    const TrafficRecord& newest = ac.stream.back();
    if (samePosition(newest, rec)) return false;
    if (ac.stream.size() < 2) {
        const TrafficRecord& front = ac.stream.front();
        const double diff = std::fabs(
            angleDiff(bearingRad(front.latitude, front.longitude, rec.latitude, rec.longitude), ac.pos.heading));
        if (diff >= kPi / 2 && ac.landingArmed) return false;
        if (diff >= 150 * kDeg) {
            if (ac.extrapolating()) return false;
            rec.scheduledTick = tick_ + 1;
            ac.stream.front() = rec;
            return false;
        }
    } else {
        auto turnedAway = [&](const TrafficRecord& from) {
            return std::fabs(angleDiff(bearingRad(from.latitude, from.longitude, rec.latitude, rec.longitude),
                                       ac.pos.heading)) >= kPi / 2;
        };
        if (turnedAway(ac.stream.back())) {
            ac.stream.pop_back();
            if (ac.stream.size() > 2 && turnedAway(ac.stream.back())) ac.stream.pop_back();
        }
    }
    ac.extensionCounter = 0;
    resetWindows(ac);
    const TrafficRecord& last = ac.stream.back();
    if (samePosition(last, rec)) setStationary(rec, true);
    if (rec.groundSpeed > last.groundSpeed && rec.groundSpeed > 40) rec.groundSpeed = last.groundSpeed;
    return true;
}

bool TrafficManager::checkExtendingSituations(LiveAircraft& ac, TrafficRecord& rec) {
    if (ac.stream.empty()) {
        logErrorf("{} empty sz?", "checkExtendingSituations");
        return true;
    }
    const FlightState fs = ac.flightState;
    if (fs == FlightState::parking || fs == FlightState::parked) {
        // Also while the simulator is still creating it: a report taken in
        // unchecked then would start the way off the stand at activation.
        const bool accept = services_.standChecks ? services_.standChecks(ac, rec) : true;
        if (accept && fs == FlightState::parked && ac.extrapolating()) {
            // The made-up report a week ahead would hold the new one back
            // for a week: the aircraft moves again, the stand wait ends.
            while (ac.stream.size() > 1 && ac.stream.back().scheduledTick - tick_ > 6000) ac.stream.pop_back();
            ac.extensionCounter = 0;
            ac.stream.front().scheduledTick = tick_ + 1;
        }
        return accept;
    }
    if (fs == FlightState::pushing_back) {
        if (!settings_.straightPushBacksOnly && services_.pushBackDirection) services_.pushBackDirection(ac, rec);
        return true;
    }
    if (fs == FlightState::pushed_back || ac.landingArmed || ac.takeOffRun) return true;
    if (ac.extrapolating() && !ac.onGround) {
        const TrafficRecord& newest = ac.stream.back();
        const double diff = std::fabs(
            angleDiff(bearingRad(newest.latitude, newest.longitude, rec.latitude, rec.longitude), ac.pos.heading));
        if (diff >= 100 * kDeg) return false;
    }
    if (ac.extensionCounter != 0 || ac.holding) {
        ac.extensionCounter = 0;
        resetWindows(ac);
        ac.stream.front().scheduledTick = tick_ + 1;
        ac.holding = false;
        ac.holdingStart = 0;
    }
    return true;
}

}  // namespace vntx::traffic
