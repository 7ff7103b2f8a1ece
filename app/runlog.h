// The record of one run that /REGISTRO asks for (and that the silent mode always keeps): one line
// per event, "dd-mm-yyyy hh:mm:ss Label: text", in the program's code page (Windows-1252) with
// CR LF. The lines are kept in memory and appended to the log file in one write when the process
// ends, so that the records of several computers that log to one shared file never interleave.
//
//   14-03-2025 10:22:05 Orden: T:\ayuda.chm /UNIDAD:T /SILENCIOSO /REGISTRO:T:\instala.log
//   14-03-2025 10:22:05 Unidad: T
//   14-03-2025 10:22:05 Instalada en: T:\Vendrax\EMPRESA1
//   14-03-2025 10:22:05 NO instalada en: T:\Vendrax\BETA
//   14-03-2025 10:22:05 Mensaje: No se pudo instalar la Ayuda en:
//   14-03-2025 10:22:05 Mensaje: T:\Vendrax\BETA
//   14-03-2025 10:22:05 Mensaje: Se instaló en:
//   14-03-2025 10:22:05 Mensaje: T:\Vendrax\EMPRESA1
//   14-03-2025 10:22:05 Salida: 3
#pragma once

#include <string>
#include <string_view>

namespace app {

class RunLog {
  public:
    // Starts the record of this run for file; until then every note is left out.
    void open(std::string file);
    bool active() const { return !file_.empty(); }

    // One line. Line breaks inside text become blanks.
    void note(std::string_view label, std::string_view text);
    // The text of a message box: one "Mensaje" line for each of its lines (empty ones left out).
    void message(std::string_view text);

    // Appends the record, ended by "Salida: <exit code>", to the file, once. When the file cannot
    // be written, the record goes to "instayuda.log" in the temp folder with a line that says so.
    void write(int exitCode);

    // The record so far (the lines not written yet).
    const std::string& text() const { return text_; }
    // Forgets the record (a new run in the same process, as the tests make).
    void reset();

  private:
    static std::string line(std::string_view label, std::string_view text);
    std::string file_;
    std::string text_;
    bool written_ = false;
};

RunLog& runLog();

// "instayuda.log" in the temp folder.
std::string defaultLogFile();

} // namespace app
