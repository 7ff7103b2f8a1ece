// The switches of unattended runs: read from the command line's tokens, strictly once a switch
// is there, and not at all without one.
#include "app/cmdline.h"
#include "app/options.h"

#include <gtest/gtest.h>

using namespace app;

namespace {

Options parse(std::string_view tail) {
    return parseOptions(splitCommandLine(tail));
}

} // namespace

TEST(Options, WithoutASwitchNothingChanges) {
    struct Case {
        const char* tail;
        const char* helpFile;
    } cases[] = {
        {"", ""},
        {"C:\\ayuda.chm", "C:\\ayuda.chm"},
        {"C:\\Mis ayudas\\ayuda.chm", "C:\\Mis"}, // unquoted blanks: the rest is ignored, as ever
        {"//INFO C:\\ayuda.chm otro", "C:\\ayuda.chm"},
        {"\"C:\\Mis ayudas\\ayuda.chm\"", "C:\\Mis ayudas\\ayuda.chm"},
        {"\t", "\t"},
        {"//SILENCIOSO C:\\ayuda.chm", "C:\\ayuda.chm"}, // reserved, not a switch
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tail);
        const Options o = parse(c.tail);
        EXPECT_FALSE(o.switches);
        EXPECT_EQ(o.helpFile, c.helpFile);
        EXPECT_EQ(o.error, "");
        EXPECT_FALSE(o.silent);
        EXPECT_EQ(o.drive, "");
        EXPECT_EQ(o.logFile, "");
    }
}

TEST(Options, SwitchesInAnyPlaceAndCase) {
    Options o = parse("C:\\ayuda.chm /UNIDAD:t");
    EXPECT_TRUE(o.switches);
    EXPECT_EQ(o.helpFile, "C:\\ayuda.chm");
    EXPECT_EQ(o.drive, "T");
    EXPECT_FALSE(o.silent);
    EXPECT_EQ(o.error, "");

    o = parse("/silencioso //x /Unidad:Z: \"/REGISTRO:\\\\servidor\\logs\\ayuda 2009.log\" \"C:\\Mis "
              "ayudas\\a.chm\"");
    EXPECT_EQ(o.error, "");
    EXPECT_TRUE(o.silent);
    EXPECT_EQ(o.drive, "Z");
    EXPECT_EQ(o.logFile, "\\\\servidor\\logs\\ayuda 2009.log");
    EXPECT_EQ(o.helpFile, "C:\\Mis ayudas\\a.chm");

    o = parse("C:\\a.chm /REGISTRO:instala.log");
    EXPECT_EQ(o.error, "");
    EXPECT_FALSE(o.silent);
    EXPECT_EQ(o.logFile, "instala.log");
}

// Every mistake stops the run; the first one is told, in a sentence that names the token.
TEST(Options, MistakesAreToldNeverGuessed) {
    struct Case {
        const char* tail;
        const char* error;
    } cases[] = {
        {"C:\\a.chm /UNIDAD:W",
         "La unidad de \"/UNIDAD:W\" no es v\xE1lida: ha de ser una letra de la C a la Z, salvo la W."},
        {"C:\\a.chm /UNIDAD:B /SILENCIOSO",
         "La unidad de \"/UNIDAD:B\" no es v\xE1lida: ha de ser una letra de la C a la Z, salvo la W."},
        {"C:\\a.chm /UNIDAD:",
         "La unidad de \"/UNIDAD:\" no es v\xE1lida: ha de ser una letra de la C a la Z, salvo la W."},
        {"C:\\a.chm /UNIDAD",
         "La unidad de \"/UNIDAD\" no es v\xE1lida: ha de ser una letra de la C a la Z, salvo la W."},
        {"C:\\a.chm /UNIDAD:CD",
         "La unidad de \"/UNIDAD:CD\" no es v\xE1lida: ha de ser una letra de la C a la Z, salvo la W."},
        {"C:\\a.chm /UNIDAD:\xD1",
         "La unidad de \"/UNIDAD:\xD1\" no es v\xE1lida: ha de ser una letra de la C a la Z, salvo la W."},
        {"C:\\a.chm /SILENCIOSO", "\"/SILENCIOSO\" necesita la unidad: /UNIDAD:X."},
        {"C:\\a.chm /SILENCIOSO:SI /UNIDAD:D", "La opci\xF3n \"/SILENCIOSO:SI\" no existe."},
        {"C:\\a.chm /SILENCIOS /UNIDAD:D", "La opci\xF3n \"/SILENCIOS\" no existe."},
        {"C:\\a.chm /", "La opci\xF3n \"/\" no existe."},
        {"/UNIDAD:D", "Falta la ruta del fichero de ayuda."},
        {"/UNIDAD:D \"\t\"", "Falta la ruta del fichero de ayuda."},
        {"C:\\Mis ayudas\\a.chm /UNIDAD:D",
         "Sobra el argumento \"ayudas\\a.chm\" (una ruta con espacios va entre comillas)."},
        {"C:\\a.chm /UNIDAD:D /unidad:E", "La opci\xF3n \"/unidad:E\" est\xE1 repetida."},
        {"C:\\a.chm /SILENCIOSO /UNIDAD:D /SILENCIOSO", "La opci\xF3n \"/SILENCIOSO\" est\xE1 repetida."},
        {"C:\\a.chm /REGISTRO: /UNIDAD:D", "Falta el fichero en \"/REGISTRO:\"."},
        {"C:\\a.chm /REGISTRO", "Falta el fichero en \"/REGISTRO\"."},
        {"/x.chm", "La opci\xF3n \"/x.chm\" no existe."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tail);
        const Options o = parse(c.tail);
        EXPECT_TRUE(o.switches);
        EXPECT_EQ(o.error, c.error);
    }
}
