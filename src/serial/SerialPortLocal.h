// The serial port object over the platform serial library. Before a port is
// used it records, per operating system, which optional operations the
// platform supports and refuses the others with "<op> not supported on <os>".
//
// Thread-safety: no lock of its own; each user keeps one thread on the line
// at a time. The only thread it starts itself is the flow-control task (one
// platform only), which it stops before reconfiguring or closing.
#pragma once

#include <memory>
#include <string>

#include "serial/SerLib.h"
#include "serial/SerialConfig.h"
#include "serial/SerialPort.h"

namespace morvia {

class FlowControlTask;

class SerialPortLocal : public SerialPort {
public:
    // Not opened; the record is made from the platform's default device.
    explicit SerialPortLocal(std::string osName = platformOsName(), SerialLibrary& lib = SerialLibrary::native());
    // Keeps the record and opens the port (SerialIOException when it cannot).
    explicit SerialPortLocal(const SerialConfig& cfg, std::string osName = platformOsName(),
                             SerialLibrary& lib = SerialLibrary::native());
    // Stops the flow-control task and closes the port; never throws.
    ~SerialPortLocal() override;
    SerialPortLocal(const SerialPortLocal&) = delete;
    SerialPortLocal& operator=(const SerialPortLocal&) = delete;

    void open() override;
    void configure();
    void configure(const SerialConfig& cfg) override;
    void close() override;
    void reset();
    bool isOpen() const override { return isOpen_; }
    bool isSupported(const std::string& feature) const;

    void setConfig(const SerialConfig& cfg) override { config = cfg; }
    SerialConfig getConfig() const override { return config; }

    void putByte(std::uint8_t b) override;
    void putString(const std::string& text) override;
    void putData(std::span<const std::uint8_t> bytes) override;
    void putData(std::span<const std::uint8_t> bytes, int count) override;
    void putData(std::span<const std::uint8_t> bytes, int offset, int count) override;
    int getByte() override;
    int getData(std::span<std::uint8_t> bytes) override;
    int getData(std::span<std::uint8_t> bytes, int offset, int length) override;
    int rxFlush() override;
    int txFlush() override;
    int txDrain() override;
    int rxReadyCount() override;
    int txBufCount() override;
    bool rxOverflow() override;
    bool sigDSR() override;
    bool sigCTS() override;
    bool sigCD() override;
    bool sigFrameErr() override;
    bool sigOverrun() override;
    bool sigParityErr() override;
    bool sigRing() override;
    bool sigBreak() override;
    void setDTR(bool on) override;
    void setRTS(bool on) override;
    void sendBreak(int ms) override;
    int getTimeoutRx() override;
    int getTimeoutTx() override;
    void setTimeoutRx(int ms) override;
    void setTimeoutTx(int ms) override;
    int getLibVer() override;
    // The operating system's error number behind the last failed operation
    // on the open port (0 when none failed or the port is closed).
    int lastError() const override;
    int getPortNum() const override { return port; }
    void setName(const std::string& n) override { name = n; }
    std::string getName() const override { return name; }
    std::string getName(int) const { return "Not implemented"; }

    // Pass-through to the record; the open port is not reconfigured.
    void setPortName(const std::string& n) { config.setPortName(n); }
    std::string getPortName() const { return config.getPortName(); }
    void setBitRate(int v) { config.setBitRate(v); }
    int getBitRate() const { return config.getBitRate(); }
    void setDataBits(int v) { config.setDataBits(v); }
    int getDataBits() const { return config.getDataBits(); }
    void setStopBits(int v) { config.setStopBits(v); }
    int getStopBits() const { return config.getStopBits(); }
    void setParity(int v) { config.setParity(v); }
    int getParity() const { return config.getParity(); }
    void setHandshake(int v) { config.setHandshake(v); }
    int getHandshake() const { return config.getHandshake(); }

    const std::string& getOsName() const { return osName; }
    const std::string& getDevName() const { return devName; }
    bool getPollRxTimeout() const { return pollRxTimeout; }
    bool flowTaskRunning() const { return flowControl != nullptr; }
    SerialLibrary& library() const { return lib_; }

private:
    void featureSetup();
    int openNamed();  // SerOpenPort on a copy of the record; sets `port`
    void stopFlowTask() noexcept;
    // Raises when the feature is unsupported or (if asked) the port is closed.
    void guard(bool supported, const char* label, bool needsPort) const;
    int checked(int result, const char* label) const;
    bool waitReady(int need);

    SerialLibrary& lib_;
    int port = -1;
    bool isOpen_ = false;
    std::string name = "Serial Port";
    std::string osName;
    std::string devName;
    SerialConfig config;
    std::unique_ptr<FlowControlTask> flowControl;
    bool pollRxTimeout = false;
    bool supSigBreak = false, supSigFrameErr = false, supSigOverrun = false, supSigParityErr = false,
         supRxOverflow = false, supSigRing = false, supSigCTS = false, supSigDSR = false, supSigCD = false,
         supSetRTS = false, supSetDTR = false, supRxReadyCount = false, supTxBufCount = false, supSetTimeoutTx = false,
         supGetTimeoutTx = false;
};

}  // namespace morvia
