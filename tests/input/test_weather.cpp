#include <gtest/gtest.h>

#include "core/status.h"
#include "input/traffic_reader.h"
#include "input/weather_reader.h"
#include "test_support.h"

using namespace vntx;
using namespace vntx::input;

namespace {
struct WeatherFixture : ::testing::Test {
    vntx::testing::CapturedLog log;
    TrafficReader traffic;
    WeatherReader weather{&traffic};
    int qnhAfter(const std::string& datagram) {
        weather.processDatagram(datagram);
        return weather.qnhHpa.load();
    }
};
}  // namespace

TEST(Qnh, InchesAndLimits) {
    EXPECT_EQ(qnhToHpa(2992), 1013);
    EXPECT_EQ(qnhToHpa(3100), 1050);
    EXPECT_EQ(qnhToHpa(2500), 900);   // 847, limited
    EXPECT_EQ(qnhToHpa(1200), 900);   // read as inches: 406
    EXPECT_EQ(qnhToHpa(1100), 1100);  // hectopascals up to 1100
    EXPECT_EQ(qnhToHpa(1013), 1013);
    EXPECT_EQ(qnhToHpa(-5), 900);
    EXPECT_EQ(qnhToHpa(4000000000LL), 1100);
}

TEST_F(WeatherFixture, PublishesEveryCopy) {
    EXPECT_EQ(qnhAfter(R"({"QNH":2992})"), 1013);
    EXPECT_EQ(qnhAfter(R"({"QNH":3100,"ICAO":"VHHH"})"), 1050);
    EXPECT_EQ(traffic.qnhCopy.load(), 1050);
    EXPECT_EQ(publishedQnh().load(), 1050);
    EXPECT_EQ(indicators().qnh.load(), 1050);
    EXPECT_EQ(qnhAfter(R"({"QNH":2500})"), 900);
    EXPECT_EQ(qnhAfter(R"({"QNH":"1009"})"), 1009);
    EXPECT_EQ(qnhAfter(R"({"QNH":"-1009"})"), 900);
    EXPECT_EQ(qnhAfter(R"({"QNH":1012.0})"), 1012);
}

TEST_F(WeatherFixture, BadValuesKeepThePreviousQnh) {
    ASSERT_EQ(qnhAfter(R"({"QNH":1009})"), 1009);
    EXPECT_EQ(qnhAfter(R"({"QNH":"abc"})"), 1009);
    EXPECT_TRUE(log.contains(R"(==> QNH string parse error: abc in {"QNH":"abc"})"));
    EXPECT_EQ(qnhAfter(R"({"QNH":"99999999999"})"), 1009);  // more than 32 bits
    EXPECT_EQ(qnhAfter(R"({"QNH":""})"), 1009);
    EXPECT_EQ(qnhAfter(R"({"wind":5})"), 1009);
    EXPECT_TRUE(log.contains(R"(no QNH {"wind":5})"));
    for (const char* d : {R"({"QNH":null})", R"({"QNH":{}})", R"({"QNH":[]})", R"({"QNH":true})", "[1,2]"}) {
        EXPECT_EQ(qnhAfter(d), 1009) << d;
        EXPECT_TRUE(log.contains(std::string("no QNH ") + d)) << d;
    }
    EXPECT_EQ(qnhAfter(R"({"QNH":1013.5})"), 1009);
    EXPECT_TRUE(log.contains(R"(, in {"QNH":1013.5})"));
    EXPECT_EQ(qnhAfter(R"({"QNH":10)"), 1009);
    EXPECT_TRUE(log.contains("Exception "));
    EXPECT_EQ(publishedQnh().load(), 1009);
}

TEST_F(WeatherFixture, SilentReaderWakesUpOnANewValue) {
    indicators().weatherLiveness = 2;
    weather.processDatagram(R"({"QNH":1020})");
    EXPECT_EQ(indicators().weatherLiveness.load(), 1);
    indicators().weatherLiveness = 2;
    weather.processDatagram(R"({"QNH":1020})");  // unchanged: nothing happens
    EXPECT_EQ(indicators().weatherLiveness.load(), 2);
    indicators().weatherLiveness = 3;
    weather.processDatagram(R"({"QNH":1021})");
    EXPECT_EQ(indicators().weatherLiveness.load(), 3);  // only silent becomes receiving
}
