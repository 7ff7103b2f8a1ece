// Unattended runs through the whole start-up: the switches, the silent mode (no dialog, no
// message box, no resource module; the outcome in the exit code), the run's record byte for
// byte (its times masked), and a command line that is wrong.
#include "app/main.h"
#include "app/options.h"
#include "app/runlog.h"
#include "app/startup.h"
#include "app/state.h"
#include "app/texts.h"
#include "app/unattended.h"

#include "errors/errorsys.h"
#include "files/files.h"
#include "runtime/error.h"
#include "runtime/frames.h"
#include "runtime/settings.h"
#include "runtime/ui.h"
#include "tables/registry.h"
#include "testdrive.h"

#include <gtest/gtest.h>

#include <regex>

using namespace app;
using testsupport::TestDrive;

namespace {

struct ProcessExit {
    int code;
};
[[noreturn]] void throwingExit(int code) {
    throw ProcessExit{code};
}

class FakeWindow : public rt::Object {
  public:
    static const rt::ClassInfo kClass;
    FakeWindow() : rt::Object(kClass) {}
    rt::Value send(std::string_view, rt::Args) override { return {}; }
};
const rt::ClassInfo FakeWindow::kClass{"TFAKEWINDOW", nullptr};

struct FakePort : MainDialogPort {
    std::vector<std::string> calls;
    std::function<void(MainDialog&)> onRun;
    void setResources(std::string_view name) override { calls.push_back("resources " + std::string(name)); }
    void run(MainDialog& d) override {
        calls.push_back("run");
        if (onRun) onRun(d);
    }
};

// The record with every "dd-mm-yyyy hh:mm:ss " at the start of a line as "<t> ".
std::string masked(const std::string& record) {
    static const std::regex stamp("(^|\n)\\d\\d-\\d\\d-\\d\\d\\d\\d \\d\\d:\\d\\d:\\d\\d ");
    return std::regex_replace(record, stamp, "$1<t> ");
}

class Unattended : public ::testing::Test {
  protected:
    void SetUp() override {
        tables::resetRegistry();
        rt::resetSettings();
        rt::ERRORLEVEL(0);
        setMainDialogPort(&port);
        rt::setExitFunction(throwingExit);
        rt::setErrorOutput([this](std::string_view s) { output += s; });
        rt::setMessageBoxHook([this](rt::MessageKind kind, rt::Args args) {
            boxes.push_back((kind == rt::MessageKind::Stop ? "stop|" : "info|") +
                            (args.size() > 0 ? args[0].asString() : "") + "|" +
                            (args.size() > 1 ? args[1].asString() : ""));
            return false;
        });
        drive.file("fuente/ayuda.chm", help);
        logFile = drive.hostPath("registro.log");
    }
    void TearDown() override {
        endUnattended();
        setMainDialogPort(nullptr);
        rt::setExitFunction(nullptr);
        rt::setErrorOutput(nullptr);
        rt::setMessageBoxHook(nullptr);
        tables::resetRegistry();
        rt::resetSettings();
        rt::ERRORLEVEL(0);
    }
    int runProgram(const std::string& tail) {
        try {
            app::run("C:\\Programas\\instayuda.exe", "instayuda.exe " + tail);
        } catch (const ProcessExit& e) {
            return e.code;
        }
        ADD_FAILURE() << "run returned";
        return -1;
    }
    void installation(const std::string& folder, std::string_view release = "2009/1") {
        drive.sparseFile(folder + "/norvalew.exe", 6524928);
        drive.file(folder + "/emp/versione.dbf",
                   std::string("\x03\0\0\0 ", 5) + std::string(release) + "\x1A");
    }
    bool received(const std::string& folder) const { return drive.read(folder + "/norvceni.chm") == help; }
    std::string record() const { return masked(drive.read("registro.log")); }
    std::string helpPath() const { return drive.path("fuente\\ayuda.chm"); }

    FakePort port;
    TestDrive drive{'T'};
    const std::string help = std::string("ITSF\0\0\0\x03", 8) + "help";
    std::string logFile, output;
    std::vector<std::string> boxes;
};

} // namespace

TEST_F(Unattended, SilentInstallOnAMixedDrive) {
    installation("Vendrax/EMPRESA1");
    installation("Vendrax/Empresa2", "2009/12");
    installation("Vendrax/NUEVA", "2009/2");
    drive.sparseFile("Vendrax/SINTABLA/norvalew.exe", 6524928);
    const std::string tail = helpPath() + " /UNIDAD:t /SILENCIOSO \"/REGISTRO:" + logFile + "\"";
    EXPECT_EQ(runProgram(tail), 0);
    EXPECT_TRUE(port.calls.empty()); // no resource module, no dialog
    EXPECT_TRUE(boxes.empty());
    EXPECT_TRUE(received("Vendrax/EMPRESA1"));
    EXPECT_TRUE(received("Vendrax/Empresa2"));
    EXPECT_FALSE(drive.exists("Vendrax/NUEVA/norvceni.chm"));
    EXPECT_FALSE(drive.exists("Vendrax/SINTABLA/norvceni.chm"));
    EXPECT_EQ(record(), "<t> Orden: " + helpPath() + " /UNIDAD:t /SILENCIOSO \"/REGISTRO:" + logFile +
                            "\"\r\n"
                            "<t> Unidad: T\r\n"
                            "<t> Instalada en: T:\\Vendrax\\EMPRESA1\r\n"
                            "<t> Instalada en: T:\\Vendrax\\Empresa2\r\n"
                            "<t> Mensaje: La AYUDA de Norvaledo C\xE9nit se instal\xF3 correctamente.\r\n"
                            "<t> Salida: 0\r\n");
    // The times are those of the run.
    EXPECT_TRUE(std::regex_search(drive.read("registro.log"), std::regex("^\\d\\d-\\d\\d-20\\d\\d \\d\\d:")));

    // A second run appends its record.
    EXPECT_EQ(runProgram(tail), 0);
    const std::string twice = record();
    EXPECT_EQ(twice.substr(0, twice.size() / 2), twice.substr(twice.size() / 2));
}

TEST_F(Unattended, SilentExitCodesTellTheOutcome) {
    // No installation: 2.
    installation("Otros/EMPRESA1");
    EXPECT_EQ(runProgram(helpPath() + " /SILENCIOSO /UNIDAD:T /REGISTRO:" + logFile), 2);
    EXPECT_EQ(record(),
              "<t> Orden: " + helpPath() + " /SILENCIOSO /UNIDAD:T /REGISTRO:" + logFile +
                  "\r\n"
                  "<t> Unidad: T\r\n"
                  "<t> Mensaje: En la UNIDAD seleccionada no se encontr\xF3 ning\xFAn Norvaledo C\xE9nit "
                  "v.2009 R07.\r\n"
                  "<t> Mensaje: Ayuda NO instalada.\r\n"
                  "<t> Salida: 2\r\n");
    drive.file("registro.log", "");

    // A copy that fails: 3, and the others still receive it.
    installation("Vendrax/Bien");
    installation("Vendrax/Mal");
    drive.folder("Vendrax/Mal/norvceni.chm"); // the copy cannot replace a folder
    EXPECT_EQ(runProgram(helpPath() + " /SILENCIOSO /UNIDAD:T /REGISTRO:" + logFile), 3);
    EXPECT_TRUE(received("Vendrax/Bien"));
    EXPECT_EQ(record(), "<t> Orden: " + helpPath() + " /SILENCIOSO /UNIDAD:T /REGISTRO:" + logFile +
                            "\r\n"
                            "<t> Unidad: T\r\n"
                            "<t> Instalada en: T:\\Vendrax\\Bien\r\n"
                            "<t> NO instalada en: T:\\Vendrax\\Mal\r\n"
                            "<t> Mensaje: No se pudo instalar la Ayuda en:\r\n"
                            "<t> Mensaje: T:\\Vendrax\\Mal\r\n"
                            "<t> Mensaje: Se instal\xF3 en:\r\n"
                            "<t> Mensaje: T:\\Vendrax\\Bien\r\n"
                            "<t> Salida: 3\r\n");
    EXPECT_TRUE(boxes.empty());
}

// Without /REGISTRO the silent mode appends to "instayuda.log" in the temp folder.
TEST_F(Unattended, TheSilentModesRecordDefaultsToTheTempFolder) {
    const std::string file = files::tempFolder() + "instayuda.log";
    ASSERT_EQ(file, defaultLogFile());
    std::remove(file.c_str());
    EXPECT_EQ(runProgram(helpPath() + " /UNIDAD:Q /SILENCIOSO"), 2);
    std::string text;
    {
        std::FILE* f = std::fopen(file.c_str(), "rb");
        ASSERT_NE(f, nullptr) << file;
        char buffer[4096];
        text.assign(buffer, std::fread(buffer, 1, sizeof buffer, f));
        std::fclose(f);
    }
    std::remove(file.c_str());
    EXPECT_EQ(masked(text),
              "<t> Orden: " + helpPath() +
                  " /UNIDAD:Q /SILENCIOSO\r\n<t> Unidad: Q\r\n"
                  "<t> Mensaje: En la UNIDAD seleccionada no se encontr\xF3 ning\xFAn Norvaledo C\xE9nit "
                  "v.2009 R07.\r\n<t> Mensaje: Ayuda NO instalada.\r\n<t> Salida: 2\r\n");

    // A record file that cannot be written: the record goes there too, saying so.
    const std::string missing = drive.hostPath("no/hay/carpeta.log");
    EXPECT_EQ(runProgram(helpPath() + " /UNIDAD:Q /SILENCIOSO /REGISTRO:" + missing), 2);
    {
        std::FILE* f = std::fopen(file.c_str(), "rb");
        ASSERT_NE(f, nullptr) << file;
        char buffer[4096];
        text.assign(buffer, std::fread(buffer, 1, sizeof buffer, f));
        std::fclose(f);
    }
    std::remove(file.c_str());
    EXPECT_NE(masked(text).find("<t> Error: No se pudo escribir en " + missing + "\r\n<t> Salida: 2\r\n"),
              std::string::npos);
}

// A wrong command line installs nothing anywhere: a line in the record and exit code 2, or in
// the dialog mode a stop box with the usage.
TEST_F(Unattended, AWrongCommandLineInstallsNothing) {
    installation("Vendrax/EMPRESA1");
    struct Case {
        std::string tail, line;
    } cases[] = {
        {helpPath() + " /UNIDAD:W /SILENCIOSO",
         "La unidad de \"/UNIDAD:W\" no es v\xE1lida: ha de ser una letra de la C a la Z, salvo la W."},
        {helpPath() + " /UNIDAD:T /SILENCIOSO /SILENCIOSA", "La opci\xF3n \"/SILENCIOSA\" no existe."},
        {helpPath() + " /SILENCIOSO", "\"/SILENCIOSO\" necesita la unidad: /UNIDAD:X."},
        {"/UNIDAD:T /SILENCIOSO", "Falta la ruta del fichero de ayuda."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tail);
        drive.file("registro.log", "");
        EXPECT_EQ(runProgram(c.tail + " /REGISTRO:" + logFile), 2) << output;
        EXPECT_EQ(record(), "<t> Orden: " + c.tail + " /REGISTRO:" + logFile + "\r\n<t> Error: " + c.line +
                                "\r\n<t> Salida: 2\r\n");
        EXPECT_TRUE(boxes.empty());
        EXPECT_TRUE(port.calls.empty());
        EXPECT_FALSE(drive.exists("Vendrax/EMPRESA1/norvceni.chm"));
    }

    // The dialog mode: the box, no dialog.
    EXPECT_EQ(runProgram(helpPath() + " /UNIDAD:W"), 2);
    EXPECT_EQ(boxes,
              (std::vector<std::string>{
                  "stop|La unidad de \"/UNIDAD:W\" no es v\xE1lida: ha de ser una letra de la C a la Z, "
                  "salvo la W.\r\n\r\nUso: instayuda.exe AYUDA [/UNIDAD:X]\r\n[/SILENCIOSO] "
                  "[/REGISTRO:FICHERO]| Atenci\xF3n"}));
    EXPECT_TRUE(port.calls.empty());
    EXPECT_FALSE(drive.exists("Vendrax/EMPRESA1/norvceni.chm"));
}

// /UNIDAD in the dialog mode: the drive shown first; /REGISTRO keeps a record there too.
TEST_F(Unattended, TheDialogStartsOnTheChosenDrive) {
    installation("Vendrax/EMPRESA1");
    port.onRun = [](MainDialog& d) {
        EXPECT_EQ(rt::eval(d.bDrive), rt::Value("T"));
        d.locals->oDlg = rt::Value(std::make_shared<FakeWindow>());
        d.locals->oCombo = rt::Value(std::make_shared<FakeWindow>());
        d.locals->aButtons = rt::Value(rt::makeArray(
            {rt::Value(std::make_shared<FakeWindow>()), rt::Value(std::make_shared<FakeWindow>())}));
        rt::eval(d.bInstall);
    };
    EXPECT_EQ(runProgram(helpPath() + " /UNIDAD:T /REGISTRO:" + logFile), 0);
    EXPECT_EQ(port.calls, (std::vector<std::string>{"resources progdll.dll", "run"}));
    EXPECT_TRUE(received("Vendrax/EMPRESA1"));
    EXPECT_EQ(boxes,
              (std::vector<std::string>{"info|La AYUDA de Norvaledo C\xE9nit se instal\xF3 correctamente.| "
                                        "Proceso finalizado"}));
    EXPECT_EQ(record(), "<t> Orden: " + helpPath() + " /UNIDAD:T /REGISTRO:" + logFile +
                            "\r\n<t> Unidad: T\r\n<t> Instalada en: T:\\Vendrax\\EMPRESA1\r\n"
                            "<t> Mensaje: La AYUDA de Norvaledo C\xE9nit se instal\xF3 correctamente.\r\n"
                            "<t> Salida: 0\r\n");

    // The exit button.
    drive.file("registro.log", "");
    port.onRun = [](MainDialog& d) {
        d.locals->oDlg = rt::Value(std::make_shared<FakeWindow>());
        rt::eval(d.bExit);
    };
    EXPECT_EQ(runProgram(helpPath() + " /REGISTRO:" + logFile), 0);
    EXPECT_EQ(record(), "<t> Orden: " + helpPath() + " /REGISTRO:" + logFile +
                            "\r\n<t> Salir: se puls\xF3 Salir, nada instalado.\r\n<t> Salida: 0\r\n");
}

// A runtime error in the silent mode: the report is written, no dialog is shown, the record
// names the error and the process ends with exit code 1.
TEST_F(Unattended, ARuntimeErrorInTheSilentModeShowsNothing) {
    struct NoDialog : errors::ErrorPort {
        rt::Value showDialog(const errors::ErrorDialogData&) override {
            ADD_FAILURE() << "the error dialog was shown";
            return {};
        }
    } platform;
    errors::setErrorPort(&platform);
    options() = parseOptions({helpPath(), "/SILENCIOSO", "/UNIDAD:T", "/REGISTRO:" + logFile});
    installErrorHandler();
    beginUnattended("ayuda /SILENCIOSO");
    std::remove("Error.log");
    int code = -1;
    try {
        const rt::Value arg = "x";
        rt::Frame frame("INSTALASILENCIOSO", {&arg});
        RT_LINE();
        rt::launchError(rt::makeError(rt::EG_ARG, 1108, "AT"));
    } catch (const ProcessExit& e) {
        code = e.code;
    }
    EXPECT_EQ(code, 1);
    EXPECT_TRUE(boxes.empty());
    const std::string text = record();
    EXPECT_EQ(text.substr(0, text.find("(informe en ")),
              "<t> Orden: ayuda /SILENCIOSO\r\n<t> Error: Error BASE/1108  Argument error: AT ");
    EXPECT_NE(text.find("(informe en Error.log)\r\n<t> Salida: 1\r\n"), std::string::npos);
    // The report itself, in the current folder.
    std::FILE* f = std::fopen("Error.log", "rb");
    EXPECT_NE(f, nullptr);
    if (f) std::fclose(f);
    std::remove("Error.log");
}
