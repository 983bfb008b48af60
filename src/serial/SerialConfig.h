// The settings record of one serial port: which port, its line settings,
// buffer lengths and flow control. Each setter checks its value and refuses
// (SerialArgException, field unchanged) what the tables below do not allow.
//
// Thread-safety: a record is filled by one thread before it is handed to a
// port; it has no lock.
#pragma once

#include <cstdint>
#include <string>

namespace morvia {

class SerialConfig {
public:
    // Handshake codes; the four HS_HARD/SOFT values are combinable flags.
    static constexpr int HS_NONE = 0;
    static constexpr int HS_XONXOFF = 1;
    static constexpr int HS_CTSRTS = 2;
    static constexpr int HS_CTSDTR = 2;
    static constexpr int HS_DSRDTR = 3;
    static constexpr int HS_HARD_IN = 16;
    static constexpr int HS_HARD_OUT = 32;
    static constexpr int HS_SOFT_IN = 64;
    static constexpr int HS_SOFT_OUT = 128;
    // Bit rate codes.
    static constexpr int BR_110 = 0;
    static constexpr int BR_150 = 1;
    static constexpr int BR_300 = 2;
    static constexpr int BR_600 = 3;
    static constexpr int BR_1200 = 4;
    static constexpr int BR_2400 = 5;
    static constexpr int BR_4800 = 6;
    static constexpr int BR_9600 = 7;
    static constexpr int BR_19200 = 8;
    static constexpr int BR_38400 = 9;
    static constexpr int BR_57600 = 10;
    static constexpr int BR_115200 = 11;
    // Parity codes (PY_MARK is known but refused by setParity).
    static constexpr int PY_NONE = 0;
    static constexpr int PY_ODD = 1;
    static constexpr int PY_EVEN = 2;
    static constexpr int PY_MARK = 3;
    // Data bits codes.
    static constexpr int LN_5BITS = 0;
    static constexpr int LN_6BITS = 1;
    static constexpr int LN_7BITS = 2;
    static constexpr int LN_8BITS = 3;
    // Stop bits codes.
    static constexpr int ST_1BITS = 0;
    static constexpr int ST_2BITS = 1;

    // portName "COM1", baseName "/dev/ttyS".
    SerialConfig();
    // Port by number: baseName "/dev/ttyS", portName one zero byte.
    explicit SerialConfig(int port);
    SerialConfig(int port, int txLen, int rxLen);
    // Port by name (stored as its bytes); baseName stays one zero byte.
    explicit SerialConfig(const std::string& portName);

    void setPortNum(int port);
    void setPortName(const std::string& name);
    void setBitRate(int code);
    void setParity(int code);
    void setDataBits(int code);
    void setStopBits(int code);
    void setHandshake(int code);
    void setBaseName(const std::string& name);
    void setHardFlow(bool on) { hardFlow = on; }
    void setTxLen(int n) { txLen = n; }
    void setRxLen(int n) { rxLen = n; }

    int getPort() const { return port; }
    int getTxLen() const { return txLen; }
    int getRxLen() const { return rxLen; }
    int getBitRate() const { return bitRate; }
    int getParity() const { return parity; }
    int getDataBits() const { return dataBits; }
    int getStopBits() const { return stopBits; }
    int getHandshake() const { return handshake; }
    // Byte strings, exactly as stored (an unset name is one zero byte).
    const std::string& getPortName() const { return portName; }
    const std::string& getBaseName() const { return baseName; }
    bool getHardFlow() const { return hardFlow; }

    // A record with the same values.
    SerialConfig copy() const { return *this; }

    // The operating-system name the record checks platform-dependent values
    // against (read at construction). Replaceable to check another platform.
    const std::string& getOsName() const { return osName; }
    void setOsName(const std::string& name) { osName = name; }

    // Written by the serial library when it opens a port by name: the
    // library's port number plus one. Not validated.
    void setLibraryPort(int n) { port = n; }

private:
    int port = 0;
    std::string portName = std::string(1, '\0');
    std::string baseName = std::string(1, '\0');
    int txLen = 2048;
    int rxLen = 4096;
    int bitRate = BR_9600;
    int parity = PY_NONE;
    int dataBits = LN_8BITS;
    int stopBits = ST_1BITS;
    int handshake = HS_NONE;
    bool hardFlow = true;
    std::string osName;
};

// The name this platform reports for its operating system ("Linux" here).
std::string platformOsName();

}  // namespace morvia
