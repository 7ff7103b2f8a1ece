#include "tables/ads.h"
#include "tables/engine_port.h"
#include "tables/registry.h"

#include "runtime/error.h"
#include "runtime/settings.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

using namespace tables;

namespace {

struct ProcessExit {
    int code;
};
[[noreturn]] void throwingExit(int code) {
    throw ProcessExit{code};
}

// Records what reaches the engine.
struct RecordingEngine : EnginePort {
    std::vector<std::string> calls;
    std::uint32_t serverTypeAnswer = 0;
    Result setServerType(std::uint16_t mask) override {
        calls.push_back("server " + std::to_string(mask));
        return serverTypeAnswer;
    }
    Result setExact(bool b) override { return note("exact", b ? "T" : "F"); }
    Result setDateFormat(std::string_view f) override { return note("dateformat", f); }
    Result setEpoch(std::uint16_t y) override { return note("epoch", std::to_string(y)); }
    Result setSearchPath(std::string_view p) override { return note("path", p); }
    Result setDefaultFolder(std::string_view f) override { return note("default", f); }
    Result setShowDeleted(bool b) override { return note("showdeleted", b ? "T" : "F"); }
    Result applicationExit() override { return note("exit", ""); }
    std::uint32_t note(std::string_view what, std::string_view value) {
        calls.push_back(std::string(what) + " " + std::string(value));
        return 0;
    }
};

class Registry : public ::testing::Test {
  protected:
    void SetUp() override {
        resetRegistry();
        rt::resetSettings();
        setEnginePort(&engine);
        rt::setExitFunction(throwingExit);
        rt::setErrorOutput([this](std::string_view s) { output += s; });
        // Table-command errors allow no recovery: the handler ends them with a break here.
        rt::ERRORBLOCK(rt::Value(rt::makeBlock("TEST", [this](rt::Args a) -> rt::Value {
            errors.push_back(a[0].objectAs<rt::ErrorObject>());
            rt::BREAK();
        })));
        registerStartupDrivers();
    }
    void TearDown() override {
        resetRegistry();
        rt::resetSettings();
        setEnginePort(nullptr);
        rt::setExitFunction(nullptr);
        rt::setErrorOutput(nullptr);
    }
    std::vector<std::string> names(const rt::ArrayPtr& list) {
        std::vector<std::string> out;
        for (const rt::Value& v : list->items) out.push_back(v.asString());
        return out;
    }
    int exitCodeOf(const std::function<void()>& fn) {
        try {
            fn();
        } catch (const ProcessExit& e) {
            return e.code;
        }
        return -1;
    }
    // Runs fn in a guarded sequence and answers whether an error broke it.
    bool broke(const std::function<void()>& fn) { return !rt::guarded(fn); }

    RecordingEngine engine;
    std::string output;
    std::vector<rt::ErrorPtr> errors;
};

int failingTable(std::uint16_t*, std::unique_ptr<WorkAreaDriver>*) {
    return 5;
}
int plainTable(std::uint16_t* count, std::unique_ptr<WorkAreaDriver>*) {
    *count = 3;
    return 0;
}

} // namespace

TEST_F(Registry, StartUpDriversAndDefaultName) {
    EXPECT_EQ(names(RDDLIST()), (std::vector<std::string>{"DBF", "SDF", "DELIM"}));
    EXPECT_EQ(names(RDDLIST(1)), (std::vector<std::string>{"DBF"}));
    EXPECT_EQ(names(RDDLIST(2)), (std::vector<std::string>{"SDF", "DELIM"}));
    EXPECT_EQ(names(RDDLIST(0)), names(RDDLIST()));
    EXPECT_EQ(DBSETDRIVER(), "DBFNTX"); // set without checking: no such driver
    EXPECT_EQ(findDriver("DBFNTX"), nullptr);
    EXPECT_TRUE(engine.calls.empty());
}

TEST_F(Registry, RegisteringAdsAndMakingItTheDefault) {
    RDDREGISTER("ads", 1);
    RDDREGISTER("ADS", 1); // a second time changes nothing
    EXPECT_EQ(names(RDDLIST()), (std::vector<std::string>{"DBF", "SDF", "DELIM", "ADS"}));
    EXPECT_EQ(names(RDDLIST(1)), (std::vector<std::string>{"DBF", "ADS"}));
    const Driver* ads = findDriver("ADS");
    ASSERT_NE(ads, nullptr);
    EXPECT_EQ(ads->methodCount, 95);
    EXPECT_EQ(ads->type, 1);
    EXPECT_EQ(registerDriver("Ads", 2), kAlreadyRegistered);

    EXPECT_EQ(RDDSETDEFAULT("ads"), "DBFNTX");
    EXPECT_EQ(DBSETDRIVER(), "ADS");
    EXPECT_EQ(RDDSETDEFAULT(), "ADS");
    EXPECT_EQ(RDDSETDEFAULT(""), "ADS");
    EXPECT_TRUE(errors.empty());
    EXPECT_TRUE(engine.calls.empty()); // registration itself forwards nothing
}

TEST_F(Registry, UnknownDefaultIsAnArgumentErrorAndKeepsTheOldOne) {
    EXPECT_TRUE(broke([] { RDDSETDEFAULT("NADA"); }));
    EXPECT_TRUE(broke([] { DBSETDRIVER("nada"); }));
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0]->SubSystem, rt::Value("DBCMD"));
    EXPECT_EQ(errors[0]->GenCode, rt::Value(1));
    EXPECT_EQ(errors[0]->SubCode, rt::Value(1015));
    EXPECT_EQ(errors[0]->Description, rt::Value("Argument error"));
    EXPECT_EQ(errors[0]->Operation, rt::Value("RDDSETDEFAULT"));
    EXPECT_FALSE(errors[0]->CanRetry || errors[0]->CanDefault || errors[0]->CanSubstitute);
    EXPECT_EQ(errors[1]->Operation, rt::Value("DBSETDRIVER"));
    EXPECT_EQ(DBSETDRIVER(), "DBFNTX");
}

TEST_F(Registry, RddNameWithoutAWorkArea) {
    EXPECT_TRUE(broke([] { RDDNAME(); }));
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0]->SubSystem, rt::Value("DBCMD"));
    EXPECT_EQ(errors[0]->GenCode, rt::Value(35));
    EXPECT_EQ(errors[0]->SubCode, rt::Value(2001));
    EXPECT_EQ(errors[0]->Description, rt::Value("Workarea not in use"));
    EXPECT_EQ(errors[0]->Operation, rt::Value("RDDNAME"));
}

TEST_F(Registry, MissingOrFailingTableRoutineIsUnrecoverable9004) {
    EXPECT_EQ(registerDriver("NADA", 1), kNoTableRoutine);
    linkDriver("MALO_GETFUNCTABLE", failingTable);
    EXPECT_EQ(registerDriver("malo", 1), kTableRoutineFailed);
    EXPECT_EQ(findDriver("MALO"), nullptr); // the entry is discarded

    EXPECT_EQ(exitCodeOf([] { RDDREGISTER("nada", 1); }), 1);
    EXPECT_NE(output.find("Unrecoverable error 9004: RDD invalid or failed to load"), std::string::npos)
        << output;
    output.clear();
    EXPECT_EQ(exitCodeOf([] { RDDREGISTER("MALO", 1); }), 1);
    EXPECT_NE(output.find("Unrecoverable error 9004: RDD invalid or failed to load"), std::string::npos);
    EXPECT_TRUE(errors.empty()); // the error block is not involved
    EXPECT_EQ(names(RDDLIST()), (std::vector<std::string>{"DBF", "SDF", "DELIM"}));

    // Names are cut to 32 characters before the table routine is looked up.
    linkDriver(std::string(32, 'X') + "_GETFUNCTABLE", plainTable);
    EXPECT_EQ(registerDriver(std::string(40, 'x'), 2), kRegistered);
    EXPECT_NE(findDriver(std::string(32, 'X')), nullptr);
    EXPECT_EQ(registerDriver("", 1), kRegistered); // an empty name does nothing
    EXPECT_EQ(RDDLIST()->size(), 4u);
}

TEST_F(Registry, AdsFileAndServerType) {
    EXPECT_EQ(ADSSETFILETYPE(2), 2);
    EXPECT_EQ(ADSSETFILETYPE(), 2);
    EXPECT_EQ(ADSSETFILETYPE(0), 2);
    EXPECT_EQ(ADSSETFILETYPE(4), 2);
    // Only the types there are: a fraction is not cut to one (0.5 would become type 0).
    for (const double d : {0.5, 2.5, 3.5, -1.0, 0.999}) EXPECT_EQ(ADSSETFILETYPE(d), 2) << d;
    EXPECT_EQ(ADSSETFILETYPE("1"), 2);
    EXPECT_EQ(ADSSETFILETYPE(1), 2);
    EXPECT_EQ(ADSSETFILETYPE(3), 1);
    EXPECT_EQ(adsFileType(), 3);
    EXPECT_EQ(adsDriverName(1), "ADSNTX");
    EXPECT_EQ(adsDriverName(2), "ADSCDX");
    EXPECT_EQ(adsDriverName(3), "ADSADT");

    EXPECT_EQ(ADSSETSERVERTYPE(), 999999);
    EXPECT_TRUE(engine.calls.empty());
    engine.serverTypeAnswer = 7;
    EXPECT_EQ(ADSSETSERVERTYPE(1), 7);
    EXPECT_EQ(ADSSETSERVERTYPE(65537), 7); // passed as an unsigned 16-bit value
    EXPECT_EQ(engine.calls, (std::vector<std::string>{"server 1", "server 1"}));
}

TEST_F(Registry, SettingsReachTheEngineOnlyAfterAdsRegisters) {
    rt::SET(rt::_SET_EPOCH, 1930);
    rt::SET(rt::_SET_EXACT, true);
    RDDREGISTER("ADS", 1);
    EXPECT_TRUE(engine.calls.empty());

    rt::SET(rt::_SET_EXACT, "OFF");
    rt::SET(rt::_SET_DATEFORMAT, "dd-mm-yy");
    rt::SET(rt::_SET_EPOCH, 1950);
    rt::SET(rt::_SET_PATH, "C:\\datos");
    rt::SET(rt::_SET_DEFAULT, "C:\\Vendrax");
    rt::SET(rt::_SET_DELETED, "ON");
    rt::__SETCENTURY(true); // rewrites the date format
    rt::SET(rt::_SET_DELETED, false);
    EXPECT_EQ(engine.calls,
              (std::vector<std::string>{"exact F", "dateformat dd-mm-yy", "epoch 1950", "path C:\\datos",
                                        "default C:\\Vendrax", "showdeleted F", "dateformat dd-mm-yyyy",
                                        "showdeleted T"}));
    // A second registration adds no second listener.
    RDDREGISTER("ADS", 1);
    engine.calls.clear();
    rt::SET(rt::_SET_EPOCH, 1960);
    EXPECT_EQ(engine.calls, (std::vector<std::string>{"epoch 1960"}));
}

TEST_F(Registry, ProgramEndRunsTheExitStepOnce) {
    RDDREGISTER("ADS", 1);
    RDDSETDEFAULT("ADS");
    EXPECT_EQ(exitCodeOf([] { rt::shutdownAndExit(0); }), 0);
    EXPECT_EQ(engine.calls, (std::vector<std::string>{"exit "}));
    EXPECT_EQ(DBSETDRIVER(), ""); // the default name is dropped
    engine.calls.clear();
    rt::SET(rt::_SET_EPOCH, 1970); // the listener is gone
    EXPECT_TRUE(engine.calls.empty());
}
