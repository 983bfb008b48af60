#include "serial/SerialConfig.h"

#include <sys/utsname.h>

#include "serial/SerialErrors.h"

namespace morvia {

std::string platformOsName() {
    struct utsname u {};
    if (uname(&u) == 0 && u.sysname[0] != '\0') return u.sysname;
    return "Linux";
}

SerialConfig::SerialConfig() : portName("COM1"), baseName("/dev/ttyS"), osName(platformOsName()) {}

SerialConfig::SerialConfig(int p) : baseName("/dev/ttyS"), osName(platformOsName()) { setPortNum(p); }

SerialConfig::SerialConfig(int p, int tx, int rx) : baseName("/dev/ttyS"), osName(platformOsName()) {
    setPortNum(p);
    txLen = tx;
    rxLen = rx;
}

SerialConfig::SerialConfig(const std::string& name) : portName(name), osName(platformOsName()) {}

void SerialConfig::setPortNum(int p) {
    if (p < 0) throw SerialArgException("Invalid Port Number: " + std::to_string(p));
    port = p;
}

void SerialConfig::setPortName(const std::string& name) { portName = name; }

void SerialConfig::setBitRate(int code) {
    if (code < BR_110 || code > BR_115200) throw SerialArgException("Invalid Serial Port Bit Rate");
    bitRate = code;
}

void SerialConfig::setParity(int code) {
    if (code < PY_NONE || code > PY_EVEN) throw SerialArgException("Invalid Serial Port Parity");
    parity = code;
}

void SerialConfig::setDataBits(int code) {
    if (code < LN_5BITS || code > LN_8BITS) throw SerialArgException("Invalid Serial Port Data Bits");
    dataBits = code;
}

void SerialConfig::setStopBits(int code) {
    if (code < ST_1BITS || code > ST_2BITS) throw SerialArgException("Invalid Serial Port Stop Bits");
    stopBits = code;
}

void SerialConfig::setHandshake(int code) {
    if (code == HS_DSRDTR && osName != "Windows 95" && osName != "Windows NT" && osName != "Windows CE" &&
        osName != "Windows 98" && osName != "OS/2")
        throw SerialArgException("DSRDTR handshaking not available on this platform");
    bool plain = code >= HS_NONE && code <= HS_DSRDTR;
    bool flags = code >= HS_HARD_IN && code <= (HS_HARD_IN | HS_HARD_OUT | HS_SOFT_IN | HS_SOFT_OUT);
    if (!plain && !flags) throw SerialArgException("Invalid Serial Port Handshake");
    handshake = code;
}

void SerialConfig::setBaseName(const std::string& name) { baseName = name; }

}  // namespace morvia
