#include "ads.h"

#include "engine_port.h"

#include "runtime/settings.h"

namespace tables {

namespace {

int g_fileType = 2;
int g_listener = 0; // the settings listener's handle, 0 when none

// Mirrors a change of the process settings into the engine; the engine's answers are not
// looked at.
void forwardSetting(int setId, const rt::Value& value) {
    EnginePort& engine = enginePort();
    switch (setId) {
    case rt::_SET_EXACT:
        engine.setExact(value.asLogical());
        break;
    case rt::_SET_DATEFORMAT:
        engine.setDateFormat(value.asString());
        break; // century changes too
    case rt::_SET_EPOCH:
        engine.setEpoch(static_cast<std::uint16_t>(value.asInteger()));
        break;
    case rt::_SET_PATH:
        engine.setSearchPath(value.asString());
        break;
    case rt::_SET_DEFAULT:
        engine.setDefaultFolder(value.asString());
        break;
    case rt::_SET_DELETED:
        engine.setShowDeleted(!value.asLogical());
        break;
    default:
        break;
    }
}

void exitStep() {
    enginePort().applicationExit();
    if (g_listener) rt::removeSettingsListener(g_listener);
    g_listener = 0;
}

} // namespace

int ADS_GETFUNCTABLE(std::uint16_t* count, MethodTable* table) {
    if (!count || !table) return 1;
    *count = kAdsMethodCount;
    // The work-area operations are filled in by the work-area layer; until then every slot
    // keeps the generic (empty) operation.
    table->exit = exitStep;
    if (!g_listener) g_listener = rt::addSettingsListener(forwardSetting);
    return 0;
}

std::int64_t ADSSETFILETYPE(const rt::Value& n) {
    const int old = g_fileType;
    if (n.isNumber() && n.asNumber() > 0 && n.asNumber() < 4) g_fileType = static_cast<int>(n.asInteger());
    return old;
}

int adsFileType() {
    return g_fileType;
}

std::int64_t ADSSETSERVERTYPE(const rt::Value& n) {
    if (n.isNil()) return 999999;
    const auto mask = static_cast<std::uint16_t>(n.asInteger());
    return enginePort().setServerType(mask);
}

std::string adsDriverName(int tableType) {
    switch (tableType) {
    case 1:
        return "ADSNTX";
    case 3:
        return "ADSADT";
    default:
        return "ADSCDX";
    }
}

void resetAds() {
    g_fileType = 2;
    if (g_listener) rt::removeSettingsListener(g_listener);
    g_listener = 0;
}

} // namespace tables
