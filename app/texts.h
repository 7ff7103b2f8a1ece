// The installer's fixed texts and names (Windows-1252 bytes) and the main dialog's template
// items.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace app {

using namespace std::string_view_literals;

// The text control's start text: two sentences separated by LF CR LF CR.
inline constexpr std::string_view kStartText =
    "Este proceso instala la Ayuda de NORVALEDO C\xC9NIT v.2009 Release 07."
    "\n\r\n\r"
    "Por favor, seleccione UNIDAD de proceso :"sv;

inline constexpr std::string_view kDialogCaption =
    " Instalaci\xF3n de Ayuda para Norvaledo C\xE9nit v.2009 R07"sv;
inline constexpr std::string_view kDialogTemplate = "PRINCIPAL"sv;
inline constexpr std::string_view kResourceModule = "progdll.dll"sv;
inline constexpr std::string_view kLogoBitmap = "norvaled"sv;

// Template item identifiers.
inline constexpr int kIdBitmap = 700;
inline constexpr int kIdText = 101;
inline constexpr int kIdDrives = 110;
inline constexpr int kIdInstall = 550;
inline constexpr int kIdExit = 551;

// What REVAYUDA looks for and writes.
inline constexpr std::string_view kVendorFolder = ":\\Vendrax\\"sv; // after the drive letter
inline constexpr std::string_view kProgramExists = "\\norvalew.exe"sv;
inline constexpr std::string_view kProgramSize = "\\Norvalew.exe"sv;
inline constexpr std::int64_t kProgramBytes = 6524928;
inline constexpr std::string_view kVersionTable = "\\emp\\versione.dbf"sv;
inline constexpr std::string_view kReleaseMark = "2009/1"sv;
inline constexpr std::string_view kHelpTarget = "\\norvceni.chm"sv;

// REVAYUDA's outcome messages.
inline constexpr std::string_view kNotFoundText =
    "En la UNIDAD seleccionada no se encontr\xF3 ning\xFAn Norvaledo C\xE9nit v.2009 R07."
    "\n\r\n\r"
    "Ayuda NO instalada."sv;
inline constexpr std::string_view kNotFoundTitle = " Atenci\xF3n"sv;
inline constexpr std::string_view kInstalledText =
    "La AYUDA de Norvaledo C\xE9nit se instal\xF3 correctamente."sv;
inline constexpr std::string_view kInstalledTitle = " Proceso finalizado"sv;
inline constexpr std::string_view kFailedTitle = " Atenci\xF3n"sv;
inline constexpr std::string_view kFailedHeader = "No se pudo instalar la Ayuda en:"sv;
inline constexpr std::string_view kSucceededHeader = "Se instal\xF3 en:"sv;
inline constexpr std::size_t kMaxListedFolders = 15; // then "(y N m\xE1s)"

// The switches of unattended runs (options.h), without their "/".
inline constexpr std::string_view kSwitchDrive = "UNIDAD"sv;
inline constexpr std::string_view kSwitchSilent = "SILENCIOSO"sv;
inline constexpr std::string_view kSwitchLog = "REGISTRO"sv;
// What is wrong with a command line that has switches; the quoted token goes between the parts.
inline constexpr std::string_view kUnknownSwitch1 = "La opci\xF3n "sv;
inline constexpr std::string_view kUnknownSwitch2 = " no existe."sv;
inline constexpr std::string_view kRepeatedSwitch1 = "La opci\xF3n "sv;
inline constexpr std::string_view kRepeatedSwitch2 = " est\xE1 repetida."sv;
inline constexpr std::string_view kBadDrive1 = "La unidad de "sv;
inline constexpr std::string_view kBadDrive2 =
    " no es v\xE1lida: ha de ser una letra de la C a la Z, salvo la W."sv;
inline constexpr std::string_view kNoLogFile1 = "Falta el fichero en "sv;
inline constexpr std::string_view kNoLogFile2 = "."sv;
inline constexpr std::string_view kExtraArgument1 = "Sobra el argumento "sv;
inline constexpr std::string_view kExtraArgument2 = " (una ruta con espacios va entre comillas)."sv;
inline constexpr std::string_view kNoHelpFile = "Falta la ruta del fichero de ayuda."sv;
inline constexpr std::string_view kSilentNeedsDrive = "\"/SILENCIOSO\" necesita la unidad: /UNIDAD:X."sv;
// The dialog mode shows such an error in a stop box, with the usage under it.
// (Two lines, so that the box does not break a switch in two.)
inline constexpr std::string_view kUsage =
    "Uso: instayuda.exe AYUDA [/UNIDAD:X]\r\n[/SILENCIOSO] [/REGISTRO:FICHERO]"sv;
inline constexpr std::string_view kCommandLineTitle = " Atenci\xF3n"sv;

// The run's record (runlog.h): its default file in the temp folder and the labels of its lines.
inline constexpr std::string_view kDefaultLogName = "instayuda.log"sv;
inline constexpr std::string_view kLogCommand = "Orden"sv;
inline constexpr std::string_view kLogDrive = "Unidad"sv;
inline constexpr std::string_view kLogInstalled = "Instalada en"sv;
inline constexpr std::string_view kLogFailed = "NO instalada en"sv;
inline constexpr std::string_view kLogMessage = "Mensaje"sv;
inline constexpr std::string_view kLogError = "Error"sv;
inline constexpr std::string_view kLogExitButton = "Salir"sv;
inline constexpr std::string_view kLogExitButtonText = "se puls\xF3 Salir, nada instalado."sv;
inline constexpr std::string_view kLogReportIn = " (informe en "sv; // then the report's path and ")"
inline constexpr std::string_view kLogNoLog1 = "No se pudo escribir en "sv;
inline constexpr std::string_view kLogExit = "Salida"sv;

// Exit codes of the silent mode (a runtime error ends with 1, as always).
inline constexpr int kExitInstalled = 0;
inline constexpr int kExitNotFound = 2; // nothing found, or a bad command line: nothing installed
inline constexpr int kExitCopyFailed = 3;

} // namespace app
