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

} // namespace app
