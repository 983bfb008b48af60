// The command language: each input line goes through ParseNetCommand on a
// fresh controller whose link only checks the commands it is handed. An
// input whose first line starts with '@' sets the timecode offset setting to
// the rest of that line first.
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>

#include "FuzzSupport.h"
#include "remote/CommandLanguage.h"
#include "startup/Quenta.h"

using namespace morvia;

namespace {

// ParseDecimal against the standard library's reading of the same grammar.
void checkDecimal(std::string_view text) {
    int ref = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), ref);
    const bool refOk = ec == std::errc() && ptr == text.data() + text.size() && !text.empty() && text[0] != '+';
    const auto got = ParseDecimal(text);
    MORVIA_FUZZ_CHECK(got.has_value() == refOk);
    if (got) MORVIA_FUZZ_CHECK(*got == ref);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::quietProcess();
    std::string_view in(reinterpret_cast<const char*>(data), size);

    Quenta::resetDefaults();
    if (!in.empty() && in[0] == '@') {
        const std::size_t end = in.find('\n');
        Settings settings;
        settings.OSString = std::string(in.substr(1, end == std::string_view::npos ? std::string_view::npos : end - 1));
        Quenta::use(settings);
        in.remove_prefix(end == std::string_view::npos ? in.size() : end + 1);
    }

    fuzz::CheckingLink link;
    fuzz::FieldDisplay display;
    LocalVCR vcr(&link, display, 2001);
    fuzz::Budget::instance().reset(&vcr);

    while (!in.empty()) {
        const std::size_t end = in.find('\n');
        const std::string line(in.substr(0, end));
        in.remove_prefix(end == std::string_view::npos ? in.size() : end + 1);

        if (line.size() >= 4) checkDecimal(std::string_view(line).substr(4));
        try {
            ParseNetCommand(vcr, line);
        } catch (const NumberFormatError& e) {
            MORVIA_FUZZ_CHECK(e.line() == line);
            MORVIA_FUZZ_CHECK(line.size() >= 4 && e.argument() == line.substr(4));
            MORVIA_FUZZ_CHECK(!ParseDecimal(e.argument()));
        } catch (const TimecodeFormatError& e) {
            // A "TC1"/"TC2" point that is not a timecode: the line did nothing.
            MORVIA_FUZZ_CHECK(e.line() == line);
        } catch (const TimecodeError&) {
            // A controller operation met a field that is no timecode.
        }
        MORVIA_FUZZ_CHECK(vcr.getcurtitle() >= 1 && vcr.getcurtitle() <= 99);
        MORVIA_FUZZ_CHECK(vcr.getcurchapter() >= 1 && vcr.getcurchapter() <= 99);
    }
    fuzz::Budget::instance().reset(nullptr);
    Quenta::resetDefaults();
    return 0;
}
