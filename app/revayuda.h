// REVAYUDA: the install button's action. Finds every installation of the product's 2009
// release 1 under "<drive>:\Vendrax\", copies the help file into each, ends the main dialog and
// tells the user the outcome.
#pragma once

#include "runtime/ui.h"
#include "runtime/value.h"

#include <string>
#include <vector>

namespace app {

void REVAYUDA(const rt::Value& helpFile, const rt::Value& textHolder, const rt::Value& comboBox,
              const rt::Value& buttons, const rt::Value& dialog);

// Whether a candidate folder is already in the found list: the same path without regard to
// case (a longer accepted name that merely begins with the candidate is another folder).
bool alreadyFound(const std::vector<std::string>& found, const std::string& candidate);

// The outcome message box.
struct Outcome {
    rt::MessageKind kind;
    std::string text;
    std::string title;
};
// Nothing found: the "not installed" notice. Every copy succeeded: the success notice. Some
// copy failed: a stop box listing the folders that failed and those that succeeded.
Outcome outcomeOf(const std::vector<std::string>& installed, const std::vector<std::string>& failed);

// INSTALASILENCIOSO(helpFile): the silent mode's search and copy (/SILENCIOSO), as REVAYUDA's
// without controls or message box, on the drive in the application's state. The outcome text
// goes to the run's record and the outcome to the error level, the process's exit code: 0 the
// help file reached every accepted folder, 2 no installation was found, 3 some copy failed.
void INSTALASILENCIOSO(const rt::Value& helpFile);
int exitCodeOf(const std::vector<std::string>& installed, const std::vector<std::string>& failed);

} // namespace app
