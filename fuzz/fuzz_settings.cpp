// The settings file: the key/value reader on arbitrary bytes, then the
// start-up settings step (Quenta::GetProps) on the same bytes written to
// Settings.txt in a temporary directory.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "startup/Quenta.h"
#include "startup/SettingsReader.h"

using namespace morvia;

namespace {

struct ExitRequested {
    int status;
};

// True when `s` is well-formed UTF-8 without surrogates or values above U+10FFFF.
bool validUtf8(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::size_t len = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
        if (len == 0 || i + len > s.size()) return false;
        std::uint32_t cp = len == 1 ? c : len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
        for (std::size_t k = 1; k < len; ++k) {
            const auto cc = static_cast<unsigned char>(s[i + k]);
            if ((cc & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        static constexpr std::uint32_t minimum[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < minimum[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += len;
    }
    return true;
}

void checkText(const std::string& t) {
    MORVIA_FUZZ_CHECK(validUtf8(t));
    const std::size_t n = SettingsReader::utf8Length(t);
    MORVIA_FUZZ_CHECK(n <= t.size());
    MORVIA_FUZZ_CHECK(SettingsReader::utf8Prefix(t, n) == t);
    const std::string half = SettingsReader::utf8Prefix(t, n / 2);
    MORVIA_FUZZ_CHECK(t.compare(0, half.size(), half) == 0);
    MORVIA_FUZZ_CHECK(SettingsReader::utf8Length(half) == n / 2);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::quietProcess();
    static const bool once = [] {
        Utils::setExitHandler([](int status) { throw ExitRequested{status}; });
        return true;
    }();
    (void)once;

    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const SettingsReader::Table table = SettingsReader::parse(bytes);
    for (const auto& [key, value] : table) {
        checkText(key);
        checkText(value);
    }
    // Same bytes, same table.
    MORVIA_FUZZ_CHECK(SettingsReader::parse(bytes) == table);

    // The start-up settings step reads the same bytes from the file.
    Quenta::resetDefaults();
    const auto file = fuzz::tempDir() / "Settings.txt";
    fuzz::writeFile(file, data, size);
    Quenta::propsfilename = file.string();
    int exitStatus = -1;
    Settings settings;
    try {
        settings = Quenta::GetProps();
    } catch (const ExitRequested& e) {
        exitStatus = e.status;
    }
    const SettingsRead pure = readSettings(bytes, Quenta::propsfilename);
    MORVIA_FUZZ_CHECK(pure.settings.props == table);
    MORVIA_FUZZ_CHECK(pure.error.has_value() == (exitStatus != -1));
    if (exitStatus == -1) {
        MORVIA_FUZZ_CHECK(settings.props == table);
        MORVIA_FUZZ_CHECK(settings.starttitle >= 1);
        MORVIA_FUZZ_CHECK(SettingsReader::utf8Length(settings.note) <= 15);
        Quenta::use(settings);
        Quenta::showprops();
    } else {
        // Only a start title that is not a whole number ends start-up here.
        MORVIA_FUZZ_CHECK(exitStatus == 1);
        MORVIA_FUZZ_CHECK(table.count("StartTitle") == 1);
    }
    Quenta::resetDefaults();
    return 0;
}
