#include <gtest/gtest.h>

#include "serial/SerialConfig.h"
#include "serial/SerialErrors.h"

using namespace morvia;

namespace {

// Runs `f`, expects a SerialArgException and returns its message.
template <class F>
std::string refusal(F f) {
    try {
        f();
    } catch (const SerialArgException& e) {
        return e.what();
    }
    return "(accepted)";
}

}  // namespace

TEST(SerialConfig, ConstructorsStartFromTheDefaults) {
    SerialConfig plain;
    EXPECT_EQ(plain.getPortName(), "COM1");
    EXPECT_EQ(plain.getBaseName(), "/dev/ttyS");
    EXPECT_EQ(plain.getPort(), 0);
    EXPECT_EQ(plain.getTxLen(), 2048);
    EXPECT_EQ(plain.getRxLen(), 4096);
    EXPECT_EQ(plain.getBitRate(), SerialConfig::BR_9600);
    EXPECT_EQ(plain.getParity(), SerialConfig::PY_NONE);
    EXPECT_EQ(plain.getDataBits(), SerialConfig::LN_8BITS);
    EXPECT_EQ(plain.getStopBits(), SerialConfig::ST_1BITS);
    EXPECT_EQ(plain.getHandshake(), SerialConfig::HS_NONE);
    EXPECT_TRUE(plain.getHardFlow());
    EXPECT_EQ(plain.getOsName(), "Linux");

    SerialConfig named("COM2");
    EXPECT_EQ(named.getPortName(), "COM2");
    EXPECT_EQ(named.getPort(), 0);
    EXPECT_EQ(named.getBaseName(), std::string(1, '\0')) << "a named port keeps a one-byte zero base name";

    SerialConfig numbered(3);
    EXPECT_EQ(numbered.getPort(), 3);
    EXPECT_EQ(numbered.getPortName(), std::string(1, '\0'));
    EXPECT_EQ(numbered.getBaseName(), "/dev/ttyS");

    SerialConfig sized(1, 100, 200);
    EXPECT_EQ(sized.getPort(), 1);
    EXPECT_EQ(sized.getTxLen(), 100);
    EXPECT_EQ(sized.getRxLen(), 200);
    EXPECT_THROW(SerialConfig(-2), SerialArgException);
}

TEST(SerialConfig, SettersRefuseValuesOutsideTheirTablesAndKeepTheField) {
    SerialConfig c("COM1");
    EXPECT_EQ(refusal([&] { c.setPortNum(-1); }), "Invalid Port Number: -1");
    EXPECT_EQ(c.getPort(), 0);
    EXPECT_EQ(refusal([&] { c.setBitRate(12); }), "Invalid Serial Port Bit Rate");
    EXPECT_EQ(refusal([&] { c.setBitRate(-1); }), "Invalid Serial Port Bit Rate");
    EXPECT_EQ(c.getBitRate(), SerialConfig::BR_9600);
    EXPECT_EQ(refusal([&] { c.setParity(SerialConfig::PY_MARK); }), "Invalid Serial Port Parity");
    EXPECT_EQ(c.getParity(), SerialConfig::PY_NONE);
    EXPECT_EQ(refusal([&] { c.setDataBits(4); }), "Invalid Serial Port Data Bits");
    EXPECT_EQ(refusal([&] { c.setStopBits(2); }), "Invalid Serial Port Stop Bits");
    EXPECT_EQ(c.getStopBits(), SerialConfig::ST_1BITS);
    for (int bad : {4, 15, 241, -1}) {
        EXPECT_EQ(refusal([&] { c.setHandshake(bad); }), "Invalid Serial Port Handshake") << bad;
    }
    EXPECT_EQ(c.getHandshake(), SerialConfig::HS_NONE);

    // Accepted edges.
    EXPECT_EQ(refusal([&] { c.setBitRate(SerialConfig::BR_115200); }), "(accepted)");
    EXPECT_EQ(refusal([&] { c.setBitRate(SerialConfig::BR_110); }), "(accepted)");
    EXPECT_EQ(refusal([&] { c.setParity(SerialConfig::PY_EVEN); }), "(accepted)");
    EXPECT_EQ(refusal([&] { c.setDataBits(SerialConfig::LN_5BITS); }), "(accepted)");
    EXPECT_EQ(refusal([&] { c.setStopBits(SerialConfig::ST_2BITS); }), "(accepted)");
    for (int good : {0, 1, 2, 16, 17, 240}) {
        EXPECT_EQ(refusal([&] { c.setHandshake(good); }), "(accepted)") << good;
        EXPECT_EQ(c.getHandshake(), good);
    }
}

TEST(SerialConfig, DsrDtrHandshakeDependsOnThePlatform) {
    SerialConfig c("COM1");
    EXPECT_EQ(refusal([&] { c.setHandshake(SerialConfig::HS_DSRDTR); }),
              "DSRDTR handshaking not available on this platform");
    for (const char* os : {"Windows 95", "Windows NT", "Windows CE", "Windows 98", "OS/2"}) {
        c.setOsName(os);
        EXPECT_EQ(refusal([&] { c.setHandshake(SerialConfig::HS_DSRDTR); }), "(accepted)") << os;
    }
    c.setOsName("windows nt");
    c.setHandshake(SerialConfig::HS_NONE);
    EXPECT_EQ(refusal([&] { c.setHandshake(SerialConfig::HS_DSRDTR); }),
              "DSRDTR handshaking not available on this platform")
        << "platform names compare exactly";
}

TEST(SerialConfig, CopyCarriesEveryValue) {
    SerialConfig c("/dev/ttyUSB0");
    c.setBitRate(SerialConfig::BR_4800);
    c.setParity(SerialConfig::PY_ODD);
    c.setDataBits(SerialConfig::LN_7BITS);
    c.setStopBits(SerialConfig::ST_2BITS);
    c.setHandshake(SerialConfig::HS_XONXOFF);
    c.setHardFlow(false);
    c.setTxLen(10);
    c.setRxLen(20);
    c.setBaseName("/dev/cua");
    SerialConfig d = c.copy();
    EXPECT_EQ(d.getPortName(), "/dev/ttyUSB0");
    EXPECT_EQ(d.getBaseName(), "/dev/cua");
    EXPECT_EQ(d.getBitRate(), SerialConfig::BR_4800);
    EXPECT_EQ(d.getParity(), SerialConfig::PY_ODD);
    EXPECT_EQ(d.getDataBits(), SerialConfig::LN_7BITS);
    EXPECT_EQ(d.getStopBits(), SerialConfig::ST_2BITS);
    EXPECT_EQ(d.getHandshake(), SerialConfig::HS_XONXOFF);
    EXPECT_FALSE(d.getHardFlow());
    EXPECT_EQ(d.getTxLen(), 10);
    EXPECT_EQ(d.getRxLen(), 20);
    c.setBitRate(SerialConfig::BR_110);
    EXPECT_EQ(d.getBitRate(), SerialConfig::BR_4800) << "the copy is a record of its own";
}
