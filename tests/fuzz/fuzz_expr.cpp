// Expressions: arbitrary text is compiled against a small field list and, when accepted,
// evaluated on two records under settings taken from the first input byte.
#include "engine/expr.h"

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace {

const std::vector<engine::FieldDesc> kFields = {
    {"NAME", 'C', 20, 0},  {"AGE", 'N', 5, 0},    {"PRICE", 'N', 10, 2}, {"BORN", 'D', 8, 0},
    {"ACTIVE", 'L', 1, 0}, {"NOTES", 'M', 10, 0}, {"ODD", 'X', 4, 0},
};

struct Sample : engine::RecordSource {
    engine::ExprValue field(std::size_t i) const override {
        switch (i) {
        case 0:
            return engine::ExprValue::character("Fuzz \xE9t\xE9         ");
        case 1:
            return engine::ExprValue::numeric(-42);
        case 2:
            return engine::ExprValue::numeric(1e300);
        case 3:
            return engine::ExprValue::dateValue(2451545);
        case 4:
            return engine::ExprValue::logicalValue(true);
        case 5:
            return engine::ExprValue::character(std::string(300, 'm'));
        default:
            return engine::ExprValue::numeric(1); // not what the field says
        }
    }
    std::uint32_t recno() const override { return 0xFFFFFFFFu; }
    bool deleted() const override { return true; }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    engine::ExprSettings settings;
    settings.exact = data[0] & 1;
    settings.dateFormat = (data[0] & 2) ? "dd-mm-yy" : (data[0] & 4) ? "yyyy.mm.dd" : "mm/dd/yyyy";
    settings.epoch = (data[0] & 8) ? 1950 : 1900;
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    engine::Expression e;
    std::size_t pos = 0;
    if (engine::Expression::compile(text, kFields, "T", settings, e, pos) != engine::kOk) {
        if (pos > text.size()) __builtin_trap(); // the fault lies inside the text
        return 0;
    }
    e.eval(engine::BlankRecord(kFields), settings);
    e.eval(Sample(), settings);
    e.test(Sample(), settings);
    return 0;
}
